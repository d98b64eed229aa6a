#include "fLine.h"
#include "uPoller.h"
#include "uRequestDevices.h"
#include "uWindowContext.h"
#include "uWindowPosition.h"
#include "uWindowSlot.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The table follows the line this often while the window is shown: a gauge that falls silent
// is marked within one refresh of its failed exchange.
constexpr int RefreshMs = 250;

const QColor SilentBackground(255, 205, 205);

QString Millimetres(double value) {
    return QString::number(value, 'f', 0);
}

QString RelayText(const TIOThreeStates& relay) {
    const qint64 code = relay.GetValue().ToInt();
    return code == tsTrue    ? QStringLiteral("вкл")
           : code == tsFalse ? QStringLiteral("выкл")
                             : QStringLiteral("?");
}

// "3 с", "5 мин", "2 ч" since the last good answer; "—" for none.
QString AgeText(qint64 lastGoodMs, qint64 nowMs) {
    if (lastGoodMs <= 0)
        return QStringLiteral("—");
    const qint64 s = std::max<qint64>(0, (nowMs - lastGoodMs) / 1000);
    if (s < 120)
        return QString::number(s) + QStringLiteral(" с");
    if (s < 7200)
        return QString::number(s / 60) + QStringLiteral(" мин");
    return QString::number(s / 3600) + QStringLiteral(" ч");
}

} // namespace

QStringList LineColumnTitles() {
    return {QStringLiteral("Адрес"),         QStringLiteral("Зав. №"), QStringLiteral("Ну, мм"),
            QStringLiteral("Lт, мм"),        QStringLiteral("Lс, мм"), QStringLiteral("V"),
            QStringLiteral("Реле 1"),        QStringLiteral("Реле 2"), QStringLiteral("Код"),
            QStringLiteral("Неисправность"), QStringLiteral("Ответ"),  QStringLiteral("Ответы, %")};
}

TFormLine::TFormLine(TDeviceLink* link, TWindowContext* context, QWidget* parent)
    : QWidget(parent, Qt::Window), Link_(link), Context_(context), Timer_(new QTimer(this)) {
    setObjectName(QStringLiteral("FormLine"));
    setWindowTitle(QStringLiteral("Линия"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layout = new QVBoxLayout(this);
    auto* list = new QHBoxLayout;
    list->addWidget(new QLabel(QStringLiteral("Опрашивать адреса:"), this));
    edAddresses = new QLineEdit(this);
    edAddresses->setObjectName(QStringLiteral("edAddresses"));
    edAddresses->setPlaceholderText(QStringLiteral("1, 3, 7 (пусто: один текущий прибор)"));
    list->addWidget(edAddresses, 1);
    btnApply = new QPushButton(QStringLiteral("Применить"), this);
    btnApply->setObjectName(QStringLiteral("btnApply"));
    list->addWidget(btnApply);
    layout->addLayout(list);
    lblNote = new QLabel(this);
    lblNote->setObjectName(QStringLiteral("lblNote"));
    lblNote->setWordWrap(true);
    lblNote->setStyleSheet(QStringLiteral("color: #c00000;"));
    lblNote->hide();
    layout->addWidget(lblNote);

    grdLine = new QTableWidget(this);
    grdLine->setObjectName(QStringLiteral("grdLine"));
    grdLine->setColumnCount(ColumnCount);
    grdLine->setHorizontalHeaderLabels(LineColumnTitles());
    grdLine->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdLine->setSelectionMode(QAbstractItemView::SingleSelection);
    grdLine->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdLine->verticalHeader()->hide();
    grdLine->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grdLine->horizontalHeader()->setStretchLastSection(true);
    grdLine->setToolTip(QStringLiteral("Щелчок по строке делает прибор текущим"));
    layout->addWidget(grdLine, 1);

    if (Link_)
        edAddresses->setText(PollAddressesText(Link_->Poller()->Addresses()));
    connect(btnApply, &QPushButton::clicked, this, &TFormLine::ApplyAddresses);
    connect(edAddresses, &QLineEdit::returnPressed, this, &TFormLine::ApplyAddresses);
    connect(grdLine, &QTableWidget::cellClicked, this, [this](int row, int) { ChooseRow(row); });
    connect(Timer_, &QTimer::timeout, this, &TFormLine::RefreshRows);
    Timer_->setInterval(RefreshMs);
    resize(1100, 320);
    LoadWindowPosition(this);
    RefreshRows();
}

TFormLine::~TFormLine() = default;

void TFormLine::RefreshRows() {
    if (!Link_ || !Link_->Ulmar())
        return;
    std::vector<quint8> shown = Link_->Poller()->Addresses();
    const quint8 current = Link_->Ulmar()->SystemAddress;
    if (shown.empty())
        shown.push_back(current);
    if (shown != Shown_) {
        Shown_ = shown;
        grdLine->setRowCount(static_cast<int>(Shown_.size()));
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int r = 0; r < static_cast<int>(Shown_.size()); ++r) {
        const quint8 address = Shown_[static_cast<size_t>(r)];
        const TUlmar* gauge = Link_->GaugeModel(address);
        const TGaugeStats stats = Link_->GaugeStats(address);
        const bool answered = stats.LastGoodMs > 0;
        QStringList cells(ColumnCount);
        cells[ColAddress] =
            (address == current ? QStringLiteral("▶ ") : QString()) + QString::number(address);
        if (gauge) {
            if (gauge->PlantNumber != 0)
                cells[ColPlantNumber] = QString::number(gauge->PlantNumber);
            if (answered) {
                cells[ColLevel] = Millimetres(gauge->Level->AsDouble());
                cells[ColDistance] = Millimetres(gauge->Distance->AsDouble());
                cells[ColLevelFree] = Millimetres(gauge->LevelFree->AsDouble());
                cells[ColVolume] = QString::number(gauge->Volume->AsDouble(), 'f', 2);
                cells[ColRelay1] = RelayText(*gauge->Relay1);
                cells[ColRelay2] = RelayText(*gauge->Relay2);
            }
            if (stats.Polls > 0) {
                cells[ColFaultCode] = QString::number(gauge->ErrorCode);
                cells[ColFaultText] =
                    gauge->ErrorCode == 0 ? QStringLiteral("Норма") : gauge->ErrorText;
            }
        }
        if (stats.Silent && cells[ColFaultText].isEmpty())
            cells[ColFaultText] = QStringLiteral("Нет ответа");
        cells[ColAge] = AgeText(stats.LastGoodMs, now);
        if (stats.Polls > 0)
            cells[ColShare] =
                QString::number(100.0 * double(stats.Good) / double(stats.Polls), 'f', 0);
        for (int c = 0; c < ColumnCount; ++c) {
            QTableWidgetItem* item = grdLine->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                grdLine->setItem(r, c, item);
            }
            if (item->text() != cells[c])
                item->setText(cells[c]);
            item->setBackground(stats.Silent ? QBrush(SilentBackground) : QBrush());
            QFont font = item->font();
            font.setBold(address == current);
            item->setFont(font);
        }
    }
}

void TFormLine::ApplyAddresses() {
    if (!Link_)
        return;
    const auto addresses = ParsePollAddresses(edAddresses->text());
    if (!addresses) {
        SetNote(QStringLiteral("Адреса приборов: числа от 0 до 254 через запятую (255 — общий)"));
        return;
    }
    if (!Link_->SetPollAddresses(*addresses)) {
        SetNote(QStringLiteral("Список не принят: идёт обмен, повторите"));
        return;
    }
    SetNote(Link_->Poller()->SaveAddresses()
                ? QString()
                : QStringLiteral("Список опроса не сохранён в настройках"));
    edAddresses->setText(PollAddressesText(*addresses));
    if (Context_)
        Context_->RequestRefresh();
    RefreshRows();
}

void TFormLine::SetNote(const QString& text) {
    lblNote->setText(text);
    lblNote->setVisible(!text.isEmpty());
}

void TFormLine::ChooseRow(int row) {
    if (!Link_ || row < 0 || row >= static_cast<int>(Shown_.size()))
        return;
    if (Link_->SelectGauge(Shown_[static_cast<size_t>(row)]) && Context_)
        Context_->RequestRefresh();
    RefreshRows();
}

void TFormLine::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Timer_->start();
    RefreshRows();
}

void TFormLine::hideEvent(QHideEvent* event) {
    Timer_->stop();
    QWidget::hideEvent(event);
}

void TFormLine::closeEvent(QCloseEvent* event) {
    SaveWindowPosition(this);
    Timer_->stop();
    event->accept();
    emit Closed();
}

TFormLine* ShowFormLine(TWindowSlot<TFormLine>& slot, TDeviceLink* link, TWindowContext* context) {
    if (!slot) {
        auto* form = new TFormLine(link, context);
        FollowRefresh(context, form);
        slot.Set(form);
    }
    slot->show();
    slot->raise();
    return slot;
}
