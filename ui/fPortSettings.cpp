#include "fPortSettings.h"
#include "uModal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QComboBox* ChoiceBox(const QStringList& items, const QString& current, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->addItems(items);
    const int i = items.indexOf(current);
    box->setCurrentIndex(i >= 0 ? i : 0);
    return box;
}

// The list's line of a port: the device, the adapter beside it, and what keeps it from use.
QString PortItemText(const TPortEntry& e) {
    QString text = e.Device;
    const QString adapter = e.AdapterText();
    if (!adapter.isEmpty())
        text += QStringLiteral(" — ") + adapter;
    if (e.State != TPortState::Free)
        text += QStringLiteral(" [") + PortStateText(e.State) + QStringLiteral("]");
    return text;
}

// The port's state in words: the state, and its reason when there is one.
QString PortStateLine(const TPortEntry& e) {
    return e.Reason.isEmpty() ? PortStateText(e.State)
                              : PortStateText(e.State) + QStringLiteral(": ") + e.Reason;
}

QString PortItemTip(const TPortEntry& e) {
    QStringList lines{e.Device};
    if (!e.AdapterText().isEmpty())
        lines << e.AdapterText();
    if (!e.ById.isEmpty())
        lines << e.ById;
    lines << PortStateLine(e);
    return lines.join(u'\n');
}

// The columns of the found gauges' list.
const QStringList& FoundColumnTitles() {
    static const QStringList titles{
        QStringLiteral("Скорость, бод"), QStringLiteral("Адрес"), QStringLiteral("Заводской номер"),
        QStringLiteral("Тип"),           QStringLiteral("АВ"),    QStringLiteral("ПВ")};
    return titles;
}

QPushButton* FinderButton(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

TFormPortSettings::TFormPortSettings(const TTransmitterSettings& settings, QWidget* parent,
                                     const TPortRoots& roots)
    : QDialog(parent), Settings_(settings) {
    setObjectName(QStringLiteral("FormPortSettings"));
    setWindowTitle(QStringLiteral("Параметры СОМ-порта"));

    cmbPort = new QComboBox(this);
    cmbPort->setObjectName(QStringLiteral("cmbPort"));
    cmbPort->setEditable(true);
    cmbPort->setInsertPolicy(QComboBox::NoInsert);
    cmbPort->setMinimumContentsLength(40);
    Ports_ = ListSerialPorts(roots, settings.Port);
    int current = -1;
    for (const TPortEntry& e : Ports_) {
        cmbPort->addItem(PortItemText(e), e.SettingsName());
        cmbPort->setItemData(cmbPort->count() - 1, PortItemTip(e), Qt::ToolTipRole);
        if (current < 0 && e.Names(settings.Port))
            current = cmbPort->count() - 1;
    }
    cmbPort->setCurrentIndex(current);
    cmbPort->setEditText(settings.Port); // as saved: a device path stays one
    lblPortState = new QLabel(this);
    lblPortState->setObjectName(QStringLiteral("lblPortState"));
    lblPortState->setWordWrap(true);
    // A chosen port goes into the box by the name the settings keep.
    connect(cmbPort, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            cmbPort->setEditText(cmbPort->itemData(index).toString());
    });
    connect(cmbPort, &QComboBox::editTextChanged, this, [this] { ShowPortState(); });
    ShowPortState();

    cmbBaudRate = ChoiceBox(TTransmitterSettings::BaudRateNames(), settings.BaudRate, this);
    cmbBaudRate->setObjectName(QStringLiteral("cmbBaudRate"));
    seCustomBaudRate = new QSpinBox(this);
    seCustomBaudRate->setObjectName(QStringLiteral("seCustomBaudRate"));
    seCustomBaudRate->setRange(1, 4000000);
    seCustomBaudRate->setValue(settings.CustomBaudRate > 0 ? settings.CustomBaudRate : 9600);
    auto customEnabled = [this] {
        seCustomBaudRate->setEnabled(cmbBaudRate->currentText() == QLatin1String("Custom"));
    };
    connect(cmbBaudRate, &QComboBox::currentIndexChanged, this, customEnabled);
    customEnabled();
    cmbDataBits = ChoiceBox(TTransmitterSettings::DataBitsNames(), settings.DataBits, this);
    cmbDataBits->setObjectName(QStringLiteral("cmbDataBits"));
    cmbStopBits = ChoiceBox(TTransmitterSettings::StopBitsNames(), settings.StopBits, this);
    cmbStopBits->setObjectName(QStringLiteral("cmbStopBits"));
    cmbParity = ChoiceBox(TTransmitterSettings::ParityNames(), settings.Parity, this);
    cmbParity->setObjectName(QStringLiteral("cmbParity"));
    cmbFlowControl =
        ChoiceBox(TTransmitterSettings::FlowControlNames(), settings.FlowControl, this);
    cmbFlowControl->setObjectName(QStringLiteral("cmbFlowControl"));
    chkEndByLength = new QCheckBox(QStringLiteral("Конец ответа по длине"), this);
    chkEndByLength->setObjectName(QStringLiteral("chkEndByLength"));
    chkEndByLength->setToolTip(
        QStringLiteral("Ответ считается полученным, как только пришли все байты, объявленные "
                       "в его длине, и сошлась контрольная сумма; иначе - по паузе на линии"));
    chkEndByLength->setChecked(settings.EndByLength);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Порт:"), cmbPort);
    form->addRow(QString(), lblPortState);
    form->addRow(QStringLiteral("Скорость:"), cmbBaudRate);
    form->addRow(QString(), seCustomBaudRate);
    form->addRow(QStringLiteral("Кол-во бит данных:"), cmbDataBits);
    form->addRow(QStringLiteral("Стоп бит:"), cmbStopBits);
    form->addRow(QStringLiteral("Бит четности:"), cmbParity);
    form->addRow(QStringLiteral("Управление потоком:"), cmbFlowControl);
    form->addRow(QString(), chkEndByLength);

    auto* buttons = new QDialogButtonBox(this);
    OKBtn = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = buttons->addButton(QStringLiteral("Отменить"), QDialogButtonBox::RejectRole);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    grbFinder = new QGroupBox(QStringLiteral("Поиск прибора"), this);
    grbFinder->setObjectName(QStringLiteral("grbFinder"));
    btnFind = FinderButton(QStringLiteral("Найти прибор"), "btnFind", grbFinder);
    btnFind->setToolTip(
        QStringLiteral(
            "Перебрать скорости списка (от быстрой к медленной): запрос сигнатуры по адресу 255, "
            "где ответили - по адресам ") +
        QString::number(TGaugeFinder::DefaultFrom) + QStringLiteral("..") +
        QString::number(TGaugeFinder::DefaultTo));
    btnFindStop = FinderButton(QStringLiteral("Остановить"), "btnFindStop", grbFinder);
    btnApplyFound = FinderButton(QStringLiteral("Применить"), "btnApplyFound", grbFinder);
    btnApplyFound->setToolTip(
        QStringLiteral("Скорость выбранного прибора - в поле скорости, его адрес - в список "
                       "опроса; сохраняется по OK"));
    pbFind = new QProgressBar(grbFinder);
    pbFind->setObjectName(QStringLiteral("pbFind"));
    pbFind->setTextVisible(false);
    pbFind->hide();
    lblFindStatus = new QLabel(grbFinder);
    lblFindStatus->setObjectName(QStringLiteral("lblFindStatus"));
    lblFindStatus->setWordWrap(true);
    tblFound = new QTableWidget(0, static_cast<int>(FoundColumnTitles().size()), grbFinder);
    tblFound->setObjectName(QStringLiteral("tblFound"));
    tblFound->setHorizontalHeaderLabels(FoundColumnTitles());
    tblFound->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblFound->setSelectionMode(QAbstractItemView::SingleSelection);
    tblFound->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblFound->verticalHeader()->hide();
    tblFound->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tblFound->horizontalHeader()->setStretchLastSection(true);
    tblFound->setMinimumHeight(110);
    connect(btnFind, &QPushButton::clicked, this, &TFormPortSettings::FindGauge);
    connect(btnFindStop, &QPushButton::clicked, this, &TFormPortSettings::StopFind);
    connect(btnApplyFound, &QPushButton::clicked, this, &TFormPortSettings::ApplyFound);
    connect(tblFound, &QTableWidget::cellDoubleClicked, this, [this] { ApplyFound(); });
    auto* finderButtons = new QHBoxLayout;
    finderButtons->addWidget(btnFind);
    finderButtons->addWidget(btnFindStop);
    finderButtons->addWidget(pbFind, 1);
    finderButtons->addWidget(btnApplyFound);
    auto* finderLayout = new QVBoxLayout(grbFinder);
    finderLayout->addLayout(finderButtons);
    finderLayout->addWidget(lblFindStatus);
    finderLayout->addWidget(tblFound);
    grbFinder->hide(); // until EnableFinder
    SetFinding(false);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(grbFinder);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

TFormPortSettings::~TFormPortSettings() = default;

void TFormPortSettings::EnableFinder(TGaugeCommands& commands, IPollControl* poll) {
    Finder_ = std::make_unique<TGaugeFinder>(commands, poll);
    Finder_->OnGauge = [this](const TFoundGauge& g) { AddFound(g); };
    grbFinder->show();
}

bool TFormPortSettings::Finding() const {
    return Finder_ && Finder_->Running();
}

void TFormPortSettings::SetFinding(bool finding) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{cmbPort, cmbBaudRate, cmbDataBits, cmbStopBits, cmbParity,
                                         cmbFlowControl, chkEndByLength, OKBtn, CancelBtn, btnFind})
        w->setEnabled(!finding);
    seCustomBaudRate->setEnabled(!finding && cmbBaudRate->currentText() == QLatin1String("Custom"));
    btnFindStop->setEnabled(finding);
    btnApplyFound->setEnabled(!finding && !Found_.empty());
    pbFind->setVisible(finding);
}

void TFormPortSettings::FindGauge() {
    if (!Finder_ || Finding())
        return;
    // The port and line as the boxes show them now, confirmed or not.
    const TTransmitterSettings port = Settings();
    Found_.clear();
    tblFound->setRowCount(0);
    const QString refusal =
        Finder_->Start(TGaugeFinder::DefaultFrom, TGaugeFinder::DefaultTo, {}, &port);
    if (!refusal.isEmpty()) {
        lblFindStatus->setText(refusal);
        return;
    }
    SetFinding(true);
    pbFind->setRange(0, Finder_->RateCount());
    ShowFindStep();
}

void TFormPortSettings::StopFind() {
    if (Finder_)
        Finder_->Stop();
}

// The next step's status, then the step itself on the next turn of the event loop, so that
// "Остановить" is handled between two requests.
void TFormPortSettings::ShowFindStep() {
    pbFind->setValue(Finder_->RateIndex());
    lblFindStatus->setText(Finder_->StatusText() + QStringLiteral("…"));
    QTimer::singleShot(0, this, &TFormPortSettings::RunFindStep);
}

void TFormPortSettings::RunFindStep() {
    if (!Finder_)
        return;
    if (Finder_->Step()) {
        ShowFindStep();
        return;
    }
    EndFind();
}

void TFormPortSettings::EndFind() {
    const TFinderReport& report = Finder_->Report();
    const int total = Finder_->RateCount();
    QStringList lines;
    if (report.Stopped)
        lines << QStringLiteral("Поиск остановлен: проверено скоростей %1 из %2, найдено "
                                "приборов: %3")
                     .arg(report.Rates.size())
                     .arg(total)
                     .arg(report.Gauges.size());
    else if (!report.PortError.isEmpty())
        lines << report.PortError;
    else if (report.Gauges.empty())
        lines << QStringLiteral("Ни один прибор не ответил ни на одной скорости (адрес 255 и "
                                "адреса %1..%2)")
                     .arg(report.From)
                     .arg(report.To);
    else
        lines << QStringLiteral("Найдено приборов: %1 (скоростей проверено: %2, %3 мс); "
                                "выберите прибор и нажмите «Применить»")
                     .arg(report.Gauges.size())
                     .arg(report.Rates.size())
                     .arg(report.ElapsedMs);
    if (report.PortError.isEmpty())
        lines << report.Notes();
    FindSummary_ = lines.join(u'\n');
    lblFindStatus->setText(FindSummary_);
    SetFinding(false);
}

void TFormPortSettings::AddFound(const TFoundGauge& g) {
    Found_.push_back(g);
    const int row = tblFound->rowCount();
    tblFound->setRowCount(row + 1);
    const QStringList cells{QString::number(g.BaudRate),    QString::number(g.SystemAddress),
                            QString::number(g.PlantNumber), QString::number(g.UnitType),
                            QString::number(g.HardVersion), QString::number(g.SoftVersion)};
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        item->setTextAlignment(Qt::AlignCenter);
        tblFound->setItem(row, c, item);
    }
    if (row == 0)
        tblFound->selectRow(0);
}

bool TFormPortSettings::ApplyFound() {
    if (Finding() || Found_.empty())
        return false;
    const int row = std::max(0, tblFound->currentRow());
    if (row >= static_cast<int>(Found_.size()))
        return false;
    const TFoundGauge gauge = Found_[static_cast<size_t>(row)];
    const TTransmitterSettings s = TGaugeFinder::SettingsFor(Settings(), gauge);
    cmbBaudRate->setCurrentText(s.BaudRate);
    if (s.BaudRate == QLatin1String("Custom"))
        seCustomBaudRate->setValue(s.CustomBaudRate);
    cmbDataBits->setCurrentText(s.DataBits);
    cmbStopBits->setCurrentText(s.StopBits);
    cmbFlowControl->setCurrentText(s.FlowControl);
    Applied_ = gauge;
    AppliedSearch_ = Found_;
    lblFindStatus->setText(FindSummary_ + QStringLiteral("\nПрименено: ") +
                           QString::number(gauge.BaudRate) + QStringLiteral(" бод, адрес ") +
                           QString::number(gauge.SystemAddress) +
                           QStringLiteral("; сохраняется по OK"));
    return true;
}

void TFormPortSettings::done(int result) {
    if (Finding())
        return;
    QDialog::done(result);
}

const TPortEntry* TFormPortSettings::EntryOf(const QString& text) const {
    const QString port = text.trimmed();
    for (int i = 0; i < cmbPort->count() && i < static_cast<int>(Ports_.size()); ++i)
        if (port == cmbPort->itemText(i) || Ports_[static_cast<size_t>(i)].Names(port))
            return &Ports_[static_cast<size_t>(i)];
    return nullptr;
}

void TFormPortSettings::ShowPortState() {
    const TPortEntry* e = EntryOf(cmbPort->currentText());
    if (!e) {
        lblPortState->clear();
        lblPortState->setToolTip(QString());
        return;
    }
    QStringList parts;
    if (!e->AdapterText().isEmpty())
        parts << e->AdapterText();
    parts << e->Device;
    lblPortState->setText(parts.join(QStringLiteral(", ")) + QStringLiteral(" — ") +
                          PortStateLine(*e));
    lblPortState->setToolTip(PortItemTip(*e));
    lblPortState->setStyleSheet(e->State == TPortState::Free ? QString()
                                                             : QStringLiteral("color: #c00000;"));
}

TTransmitterSettings TFormPortSettings::Settings() const {
    TTransmitterSettings s = Settings_;
    // A list line that reached the box as it is stands for the port's settings name.
    QString port = cmbPort->currentText().trimmed();
    for (int i = 0; i < cmbPort->count(); ++i)
        if (port == cmbPort->itemText(i))
            port = cmbPort->itemData(i).toString();
    if (!port.isEmpty())
        s.Port = port;
    s.BaudRate = cmbBaudRate->currentText();
    if (s.BaudRate == QLatin1String("Custom"))
        s.CustomBaudRate = seCustomBaudRate->value();
    s.DataBits = cmbDataBits->currentText();
    s.StopBits = cmbStopBits->currentText();
    s.Parity = cmbParity->currentText();
    s.FlowControl = cmbFlowControl->currentText();
    s.EndByLength = chkEndByLength->isChecked();
    return s;
}

bool EditTransmitterSettings(TTransmitterSettings& settings, QWidget* parent) {
    TFormPortSettings dialog(settings, parent);
    if (ExecModal(&dialog) != QDialog::Accepted)
        return false;
    settings = dialog.Settings();
    return true;
}

bool EditTransmitterSettings(TTransmitterSettings& settings, TGaugeCommands& commands,
                             IPollControl* poll, std::optional<TFoundGauge>& applied,
                             std::vector<TFoundGauge>& search, QWidget* parent) {
    applied.reset();
    search.clear();
    TFormPortSettings dialog(settings, parent);
    dialog.EnableFinder(commands, poll);
    if (ExecModal(&dialog) != QDialog::Accepted)
        return false;
    settings = dialog.Settings();
    applied = dialog.Applied();
    search = dialog.AppliedSearch();
    return true;
}

bool TransmitterSettingsDialog(TTransmitter& transmitter, QWidget* parent) {
    TTransmitterSettings settings = transmitter.Settings();
    if (EditTransmitterSettings(settings, parent))
        transmitter.SetSettings(settings);
    return true;
}
