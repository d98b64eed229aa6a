#include "fReqAns.h"

#include "fMonitorPanel.h"
#include "uParamStr.h"
#include "uRequestDevices.h"
#include "uTransmitter.h"
#include "uWindowPosition.h"
#include "uWindowSlot.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QString ParityText(TSerialParity parity) {
    switch (parity) {
    case TSerialParity::None:
        return QStringLiteral("None");
    case TSerialParity::Odd:
        return QStringLiteral("Odd");
    case TSerialParity::Even:
        return QStringLiteral("Even");
    case TSerialParity::Mark:
        return QStringLiteral("Mark");
    case TSerialParity::Space:
        return QStringLiteral("Space");
    }
    return QString();
}

QLabel* ValueLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setMinimumWidth(60);
    return label;
}

QLineEdit* SunkenText(QWidget* parent) {
    auto* text = new QLineEdit(parent);
    text->setReadOnly(true);
    text->setFocusPolicy(Qt::NoFocus);
    text->setMinimumWidth(260);
    return text;
}

} // namespace

bool ReqAnsBytesText(const QByteArray& bytes, int radix, QString* text) {
    if (radix == 16)
        *text = ToHexString(bytes);
    else if (radix == 10)
        *text = ToDecString(bytes, false);
    else
        return false;
    return true;
}

QString PortStatusText(const TPortStatus& status) {
    QStringList lines;
    if (!status.Error.isEmpty())
        lines << status.Error;
    if (!status.DefaultNote.isEmpty())
        lines << status.DefaultNote.left(1).toUpper() + status.DefaultNote.mid(1);
    // Mark and space parity are switched on every gauge exchange; a port that refuses them
    // sends every byte without the address mark.
    if (status.Open && !status.ParityApplied)
        lines << QStringLiteral("Порт не принял контроль четности Mark/Space");
    if (status.Open && status.EffectiveBaud > 0 && status.RequestedBaud > 0 &&
        status.EffectiveBaud != status.RequestedBaud)
        lines << QStringLiteral("Скорость %1 недоступна, установлена %2")
                     .arg(status.RequestedBaud)
                     .arg(status.EffectiveBaud);
    return lines.join(u'\n');
}

QString ReqAnsPercentText(double percent) {
    return QLocale().toString(percent, 'f', 1);
}

TFormReqAns::TFormReqAns(QWidget* parent, TDeviceLink* link)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      Link_(link) {
    setObjectName(QStringLiteral("FormReqAns"));
    setWindowTitle(QStringLiteral("Связь"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* port = new QGroupBox(QStringLiteral("Параметры СОМ-порта"), this);
    auto* portGrid = new QGridLayout(port);
    const auto portRow = [&](const QString& caption, QLabel*& value) {
        const int row = portGrid->rowCount();
        portGrid->addWidget(new QLabel(caption, port), row, 0);
        value = ValueLabel(port);
        portGrid->addWidget(value, row, 1);
    };
    portRow(QStringLiteral("СОМ порт:"), lblComPort1);
    portRow(QStringLiteral("Скорость:"), lblBoudRate1);
    portRow(QStringLiteral("Кол-во бит данных:"), lblDataBits1);
    portRow(QStringLiteral("Стоп бит:"), lblStopBits1);
    portRow(QStringLiteral("Бит четности:"), lblParity1);
    portRow(QStringLiteral("Контроль четности:"), lblFlowControl1);
    QLabel* answerEnd = nullptr; // found by its name in RefreshPort
    portRow(QStringLiteral("Конец ответа:"), answerEnd);
    answerEnd->setObjectName(QStringLiteral("lblAnswerEnd"));
    // Why the port does not work, and what the device refused of the settings.
    lblPortStatus = new QLabel(port);
    lblPortStatus->setObjectName(QStringLiteral("lblPortStatus"));
    lblPortStatus->setWordWrap(true);
    lblPortStatus->setMaximumWidth(260);
    lblPortStatus->setVisible(false);
    portGrid->addWidget(lblPortStatus, portGrid->rowCount(), 0, 1, 2);
    portGrid->setRowStretch(portGrid->rowCount(), 1);

    auto* protocol = new QGroupBox(QStringLiteral("Протокол"), this);
    auto* protocolGrid = new QGridLayout(protocol);
    stxReq = SunkenText(protocol);
    stxAns = SunkenText(protocol);
    protocolGrid->addWidget(new QLabel(QStringLiteral("Запрос"), protocol), 0, 0);
    protocolGrid->addWidget(stxReq, 0, 1);
    protocolGrid->addWidget(new QLabel(QStringLiteral("Ответ"), protocol), 1, 0);
    protocolGrid->addWidget(stxAns, 1, 1);

    auto* stat = new QGroupBox(QStringLiteral("Статистика"), this);
    auto* statGrid = new QGridLayout(stat);
    auto* headCount = new QLabel(QStringLiteral("шт"), stat);
    auto* headPercent = new QLabel(QStringLiteral("%"), stat);
    headCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    headPercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    statGrid->addWidget(headCount, 0, 1);
    statGrid->addWidget(headPercent, 0, 2);
    lblReqCount = ValueLabel(stat);
    lblReqPercent = ValueLabel(stat);
    lblAnsCount = ValueLabel(stat);
    lblAnsPercent = ValueLabel(stat);
    statGrid->addWidget(new QLabel(QStringLiteral("Запросов"), stat), 1, 0);
    statGrid->addWidget(lblReqCount, 1, 1);
    statGrid->addWidget(lblReqPercent, 1, 2);
    statGrid->addWidget(new QLabel(QStringLiteral("Ответов"), stat), 2, 0);
    statGrid->addWidget(lblAnsCount, 2, 1);
    statGrid->addWidget(lblAnsPercent, 2, 2);

    actStatClear = new QAction(QStringLiteral("Сброс"), this);
    actStatClear->setObjectName(QStringLiteral("actStatClear"));
    actStatClear->setToolTip(QStringLiteral("Сброс статистики"));
    actStatClear->setStatusTip(QStringLiteral("Сброс статистики"));
    connect(actStatClear, &QAction::triggered, this, &TFormReqAns::StatClear);
    auto* clear = new QToolButton(this);
    clear->setDefaultAction(actStatClear);
    clear->setToolButtonStyle(Qt::ToolButtonTextOnly);
    clear->setMinimumWidth(75);

    btnMonitor = new QToolButton(this);
    btnMonitor->setObjectName(QStringLiteral("btnMonitor"));
    btnMonitor->setText(QStringLiteral("Монитор"));
    btnMonitor->setToolTip(QStringLiteral("Показать или скрыть монитор обменов"));
    btnMonitor->setCheckable(true);
    btnMonitor->setMinimumWidth(75);
    connect(btnMonitor, &QToolButton::toggled, this, &TFormReqAns::ShowMonitor);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnMonitor);
    buttons->addWidget(clear);

    auto* right = new QVBoxLayout;
    right->addWidget(protocol);
    right->addWidget(stat);
    right->addStretch(1);
    right->addLayout(buttons);
    auto* groups = new QHBoxLayout;
    groups->addWidget(port);
    groups->addLayout(right);
    Monitor = new TMonitorPanel(this, link);
    Monitor->setVisible(false);
    // Readings that the archive cannot store: said below the groups while it lasts.
    lblArchiveStatus = new QLabel(this);
    lblArchiveStatus->setObjectName(QStringLiteral("lblArchiveStatus"));
    lblArchiveStatus->setWordWrap(true);
    lblArchiveStatus->setStyleSheet(QStringLiteral("color: #c00000;"));
    lblArchiveStatus->setVisible(false);
    auto* outer = new QVBoxLayout(this);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    outer->addLayout(groups);
    outer->addWidget(lblArchiveStatus);
    outer->addWidget(Monitor, 1);

    LoadWindowPosition(this);
    stxReq->clear();
    stxAns->clear();
    Refresh();
    // Every exchange the transmitter finished, in the order of the exchanges: at once when it
    // ran on this thread (a command shows its exchange as soon as it returns), otherwise from
    // the event loop.
    if (TDeviceLink* l = Link())
        connect(l->Publisher(), &TExchangePublisher::exchanged, this,
                [this](const TExchangeRecord& record) {
                    if (record.Transmitted)
                        HandleExchange(record.Request, !record.Answer.isEmpty(), record.Answer);
                });
}

TFormReqAns::~TFormReqAns() = default;

TDeviceLink* TFormReqAns::Link() const {
    return Link_;
}

TExchangeStatistics& TFormReqAns::Statistics() {
    TDeviceLink* l = Link();
    return l ? l->Publisher()->Statistics : OwnStatistics_;
}

void TFormReqAns::HandleExchange(const QByteArray& request, bool answered,
                                 const QByteArray& answer) {
    TExchangeStatistics& statistics = Statistics();
    ++statistics.Requests;
    if (answered)
        ++statistics.Answers;
    const TDeviceLink* l = Link();
    const int radix = l ? l->DisplayRadix.load() : 16;
    QString text;
    if (ReqAnsBytesText(request, radix, &text))
        stxReq->setText(text);
    if (answer.isEmpty())
        stxAns->setText(QStringLiteral("Нет ответа"));
    else if (ReqAnsBytesText(answer, radix, &text))
        stxAns->setText(text);
    Refresh();
}

void TFormReqAns::ShowMonitor(bool shown) {
    if (btnMonitor->isChecked() != shown) {
        btnMonitor->setChecked(shown); // comes back here through toggled
        return;
    }
    // Fixed size without the monitor, as before; resizable with it.
    layout()->setSizeConstraint(shown ? QLayout::SetMinimumSize : QLayout::SetFixedSize);
    Monitor->setVisible(shown);
    if (shown) {
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(std::max(width(), 1100), std::max(height(), 620));
    }
}

void TFormReqAns::Refresh() {
    RefreshPort();
    RefreshStatistics();
    RefreshArchive();
}

void TFormReqAns::RefreshArchive() {
    const TDeviceLink* l = Link();
    const QString text = l ? l->ArchiveStatusText() : QString();
    if (lblArchiveStatus->text() != text)
        lblArchiveStatus->setText(text);
    lblArchiveStatus->setVisible(!text.isEmpty());
}

void TFormReqAns::RefreshPort() {
    const TDeviceLink* l = Link();
    const TTransmitter* t = l ? l->Transmitter() : nullptr;
    if (!t)
        return;
    const TTransmitterSettings& s = t->Settings();
    lblComPort1->setText(s.Port);
    lblBoudRate1->setText(s.BaudRate);
    lblDataBits1->setText(s.DataBits);
    lblStopBits1->setText(s.StopBits);
    lblFlowControl1->setText(s.FlowControl);
    if (auto* answerEnd = findChild<QLabel*>(QStringLiteral("lblAnswerEnd")))
        answerEnd->setText(s.EndByLength ? QStringLiteral("по длине") : QStringLiteral("по паузе"));
    // The port itself may be asked only while no poll cycle uses it (cycles are started from
    // this thread); otherwise the parity left by the last exchange is the one in force.
    QString parity = s.Parity;
    const int last = l->Publisher()->LastParity();
    if (!l->CycleRunning() && t->Port() && t->Port()->IsOpen())
        parity = ParityText(t->Port()->Parity());
    else if (last >= 0)
        parity = ParityText(TSerialParity(last));
    lblParity1->setText(parity);

    const TPortStatus status = t->PortStatus();
    const QString text = PortStatusText(status);
    lblPortStatus->setText(text);
    lblPortStatus->setStyleSheet(status.Error.isEmpty() ? QStringLiteral("color: #9a5b00;")
                                                        : QStringLiteral("color: #c00000;"));
    lblPortStatus->setVisible(!text.isEmpty());
}

void TFormReqAns::RefreshStatistics() {
    const TExchangeStatistics& statistics = Statistics();
    const qint64 requests = statistics.Requests;
    const qint64 answers = statistics.Answers;
    lblReqCount->setText(QString::number(requests));
    lblAnsCount->setText(QString::number(answers));
    lblReqPercent->setText(ReqAnsPercentText(requests ? requests * 100.0 / requests : 0.0));
    lblAnsPercent->setText(ReqAnsPercentText(requests ? answers * 100.0 / requests : 0.0));
}

void TFormReqAns::StatClear() {
    Statistics() = TExchangeStatistics();
    stxReq->clear();
    stxAns->clear();
    Refresh();
}

void TFormReqAns::closeEvent(QCloseEvent* event) {
    SaveWindowPosition(this);
    // Forgotten at once: exchanges handled before the deferred deletion are not counted, and
    // the next Show creates a new window.
    if (TDeviceLink* l = Link())
        disconnect(l->Publisher(), &TExchangePublisher::exchanged, this, nullptr);
    event->accept();
    emit Closed();
}

void TFormReqAns::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

TFormReqAns* ShowFormReqAns(TWindowSlot<TFormReqAns>& slot, QWidget* parent, TDeviceLink* link,
                            TWindowContext* context) {
    if (!slot) {
        auto* form = new TFormReqAns(parent, link);
        FollowRefresh(context, form);
        slot.Set(form);
    }
    slot->show();
    slot->raise();
    return slot;
}
