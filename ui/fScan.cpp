#include "fScan.h"
#include "EditNum.h"
#include "Ulmar.h"
#include "uGaugeCommands.h"
#include "uModal.h"
#include "uPoller.h"
#include "uRequestDevices.h"
#include "uWindowPosition.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

constexpr int ListColumns = 7; // the six of the gauge and the note

TEditNum* NumberEdit(const char* name, double min, double max, QWidget* parent) {
    auto* edit = new TEditNum(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->SetRange(min, max);
    // Out-of-range input stays as typed (shown red); reading the fields decides what it means.
    edit->SetCheckRange(false);
    return edit;
}

QPushButton* Button(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

// The field's value rounded to a whole number, when it reads as one within min..max.
bool WholeValue(const TEditNum* edit, double min, double max, int& value) {
    if (!edit->TextIsNumber())
        return false;
    const double v = std::round(edit->Value());
    if (v < min || v > max)
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

TFormScan::TFormScan(TGaugeCommands& commands, IPollControl* poll, QWidget* parent)
    : QDialog(parent), Commands_(&commands), Job_(commands, poll) {
    setObjectName(QStringLiteral("FormScan"));
    setWindowTitle(QStringLiteral("Сканирование"));
    setModal(true);
    if (const TUlmar* u = commands.Ulmar())
        StartPlantNumber = u->PlantNumber;

    auto* layout = new QVBoxLayout(this);
    auto* groups = new QHBoxLayout;
    layout->addLayout(groups);

    auto* addresses = new QGroupBox(QStringLiteral("Системные адреса"), this);
    auto* ag = new QGridLayout(addresses);
    enStartSA = NumberEdit("enStartSA", 0, 254, addresses);
    enStopSA = NumberEdit("enStopSA", 0, 254, addresses);
    btnScan = Button(QStringLiteral("Сканировать линию"), "btnScan", addresses);
    btnScanStop = Button(QStringLiteral("Остановить"), "btnScanStop", addresses);
    ag->addWidget(new QLabel(QStringLiteral("Начальный"), addresses), 0, 0);
    ag->addWidget(enStartSA, 0, 1);
    ag->addWidget(new QLabel(QStringLiteral("Конечный"), addresses), 1, 0);
    ag->addWidget(enStopSA, 1, 1);
    ag->addWidget(btnScan, 0, 2);
    ag->addWidget(btnScanStop, 1, 2);
    groups->addWidget(addresses);

    auto* plants = new QGroupBox(QStringLiteral("Заводские номера"), this);
    auto* pg = new QGridLayout(plants);
    enStartPN = NumberEdit("enStartPN", 0, 65535, plants);
    enCountPN = NumberEdit("enCountPN", 1, 65535, plants);
    btnWrite = Button(QStringLiteral("Записать Сист. адреса"), "btnWrite", plants);
    btnWriteStop = Button(QStringLiteral("Остановить"), "btnWriteStop", plants);
    pg->addWidget(new QLabel(QStringLiteral("Начальный"), plants), 0, 0);
    pg->addWidget(enStartPN, 0, 1);
    pg->addWidget(new QLabel(QStringLiteral("Количество"), plants), 1, 0);
    pg->addWidget(enCountPN, 1, 1);
    pg->addWidget(btnWrite, 0, 2);
    pg->addWidget(btnWriteStop, 1, 2);
    groups->addWidget(plants);

    acgDeviceList = new QTableWidget(this);
    acgDeviceList->setObjectName(QStringLiteral("acgDeviceList"));
    acgDeviceList->setSelectionBehavior(QAbstractItemView::SelectRows);
    acgDeviceList->setSelectionMode(QAbstractItemView::SingleSelection);
    acgDeviceList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    acgDeviceList->verticalHeader()->hide();
    acgDeviceList->setWordWrap(false);
    acgDeviceList->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(acgDeviceList, 1);

    auto* status = new QHBoxLayout;
    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setFixedWidth(150);
    pbProgress->setTextVisible(false);
    pbProgress->hide();
    pnlStatus = new QLabel(this);
    pnlStatus->setObjectName(QStringLiteral("pnlStatus"));
    btnSave = Button(QStringLiteral("Сохранить список…"), "btnSave", this);
    btnPollFound = Button(QStringLiteral("Опрашивать найденные"), "btnPollFound", this);
    btnPollFound->setToolTip(
        QStringLiteral("Найденные приборы становятся списком опроса (окно \"Линия\")"));
    status->addWidget(pbProgress);
    status->addWidget(pnlStatus, 1);
    status->addWidget(btnPollFound);
    status->addWidget(btnSave);
    layout->addLayout(status);

    connect(btnScan, &QPushButton::clicked, this, &TFormScan::ScanLine);
    connect(btnWrite, &QPushButton::clicked, this, &TFormScan::WriteAddresses);
    connect(btnScanStop, &QPushButton::clicked, this, &TFormScan::StopJob);
    connect(btnWriteStop, &QPushButton::clicked, this, &TFormScan::StopJob);
    connect(btnSave, &QPushButton::clicked, this, &TFormScan::SaveList);
    connect(btnPollFound, &QPushButton::clicked, this, &TFormScan::PollFound);
    Job_.OnRow = [this](const TScanRow& row) { AddRow(row); };

    enStartSA->SetValue(StartAddress);
    enStopSA->SetValue(StopAddress);
    enStartPN->SetValue(StartPlantNumber);
    enCountPN->SetValue(PlantNumberCount);
    BuildList();
    SetButtons(false);
    resize(980, 420);
    LoadWindowPosition(this);
}

TFormScan::~TFormScan() = default;

void TFormScan::ReadFields() {
    // An address outside 0..254 (or no number) leaves the previous one in place.
    WholeValue(enStartSA, 0, 254, StartAddress);
    WholeValue(enStopSA, 0, 254, StopAddress);
    enStartSA->SetValue(StartAddress);
    enStopSA->SetValue(StopAddress);
    // The plant-number fields are taken as they are; the job refuses a range beyond 65535.
    if (enStartPN->TextIsNumber())
        StartPlantNumber = static_cast<int>(std::round(enStartPN->Value()));
    if (enCountPN->TextIsNumber())
        PlantNumberCount = static_cast<int>(std::round(enCountPN->Value()));
}

void TFormScan::SetButtons(bool running) {
    btnScan->setEnabled(!running);
    btnWrite->setEnabled(!running);
    btnScanStop->setEnabled(running);
    btnWriteStop->setEnabled(running);
    btnSave->setEnabled(!running && !Rows_.empty());
    btnPollFound->setEnabled(!running && !FoundAddresses(Rows_).empty());
}

void TFormScan::BuildList() {
    acgDeviceList->clear();
    acgDeviceList->setColumnCount(ListColumns);
    acgDeviceList->setHorizontalHeaderLabels(ScanColumnTitles());
    const int widths[ListColumns] = {30, 100, 100, 100, 100, 100, 300};
    // The given widths, widened where the font needs more for a column's title.
    QHeaderView* header = acgDeviceList->horizontalHeader();
    for (int c = 0; c < ListColumns; ++c)
        acgDeviceList->setColumnWidth(c, std::max(widths[c], header->sectionSizeHint(c) + 12));
    acgDeviceList->setRowCount(1);
    Rows_.clear();
    FoundCount = 0;
}

void TFormScan::AddRow(const TScanRow& row) {
    Rows_.push_back(row);
    ++FoundCount;
    if (FoundCount > 1)
        acgDeviceList->setRowCount(FoundCount);
    const int r = FoundCount - 1;
    const QStringList cells = ScanRowCells(row);
    for (int c = 0; c < ListColumns; ++c) {
        auto* item = new QTableWidgetItem(cells.value(c));
        item->setTextAlignment(c == 0 ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
        if (row.Flagged())
            item->setForeground(QColor(176, 0, 0));
        acgDeviceList->setItem(r, c, item);
    }
    acgDeviceList->selectRow(r);
}

void TFormScan::ScanLine() {
    if (Job_.Running())
        return;
    ReadFields();
    EndText_ = QStringLiteral("Сканирование завершено");
    StartJob(Job_.StartScan(StartAddress, StopAddress));
}

void TFormScan::WriteAddresses() {
    if (Job_.Running())
        return;
    ReadFields();
    EndText_ = QStringLiteral("Запись завершена");
    StartJob(Job_.StartAddressWrite(StartAddress, StartPlantNumber, PlantNumberCount));
}

void TFormScan::StartJob(const QString& refusal) {
    if (!refusal.isEmpty()) {
        ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"), refusal, QMessageBox::Ok,
                       QMessageBox::Ok, this);
        return;
    }
    StopRequested = false;
    BuildList();
    SetButtons(true);
    pbProgress->setRange(Job_.First(), Job_.Last());
    pbProgress->show();
    ShowStep();
}

// The next step's position and status, then the step itself on the next turn of the event
// loop, so that clicks (a stop) are handled between two requests.
void TFormScan::ShowStep() {
    pbProgress->setValue(Job_.Position());
    pnlStatus->setText(Job_.StatusText());
    QTimer::singleShot(0, this, &TFormScan::RunStep);
}

void TFormScan::RunStep() {
    if (Job_.Step()) {
        ShowStep();
        return;
    }
    pnlStatus->setText(EndText_);
    pbProgress->hide();
    StopRequested = true;
    SetButtons(false);
}

void TFormScan::StopJob() {
    pnlStatus->clear();
    StopRequested = true;
    Job_.Stop();
}

bool TFormScan::PollFound() {
    const std::vector<quint8> addresses = FoundAddresses(Rows_);
    TDeviceLink* link = Commands_->Link();
    if (Job_.Running() || addresses.empty() || !link)
        return false;
    if (!link->SetPollAddresses(addresses)) {
        pnlStatus->setText(QStringLiteral("Список опроса не принят: идёт обмен"));
        return false;
    }
    const bool saved = link->Poller()->SaveAddresses();
    pnlStatus->setText(QStringLiteral("Опрашиваются адреса ") + PollAddressesText(addresses) +
                       (saved ? QString() : QStringLiteral(" (в настройках не сохранено)")));
    return true;
}

bool TFormScan::SaveList() {
    if (Job_.Running() || Rows_.empty())
        return false;
    QFileDialog dialog(this, QStringLiteral("Сохранить список"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("CSV (*.csv)"));
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(QStringLiteral("scan.csv"));
    if (ExecModal(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    return SaveListTo(dialog.selectedFiles().constFirst());
}

bool TFormScan::SaveListTo(const QString& fileName) {
    QString error;
    if (SaveScanCsv(fileName, Rows_, &error))
        return true;
    ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"),
                   QStringLiteral("Не удалось сохранить файл\n") +
                       QDir::toNativeSeparators(fileName) + u'\n' + error,
                   QMessageBox::Ok, QMessageBox::Ok, this);
    return false;
}

void TFormScan::closeEvent(QCloseEvent* event) {
    if (Job_.Running()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event); // through reject(), which keeps the position
}

void TFormScan::reject() {
    if (Job_.Running())
        return;
    SaveWindowPosition(this);
    QDialog::reject();
}

int ShowScan(QPointer<TFormScan>& slot, TGaugeCommands& commands, IPollControl* poll,
             QWidget* parent) {
    if (!slot)
        slot = new TFormScan(commands, poll, parent);
    TFormScan* form = slot;
    ExecModal(form);
    // The window keeps nothing between openings but its position.
    delete form;
    return 0;
}
