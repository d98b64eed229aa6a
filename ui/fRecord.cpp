#include "fRecord.h"

#include "Ulmar.h"
#include "uIniFile.h"
#include "uModal.h"
#include "uRecordReport.h"
#include "uRequestDevices.h"
#include "uTransmitter.h"
#include "uWindowContext.h"
#include "uWindowSlot.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Marks the window busy for the life of a step: the session is not to be dropped meanwhile.
class TBusy {
public:
    explicit TBusy(bool& flag) : Flag_(flag) { Flag_ = true; }
    ~TBusy() { Flag_ = false; }
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;

private:
    bool& Flag_;
};

// The section of the settings file (ServiceSettingsFile) that keeps the window's fields.
const QString FieldsSection = QStringLiteral("RecordWindow");

void SnapshotLines(QStringList& lines, const QString& when, const TServiceSnapshot& s) {
    for (const TServiceStep step : ServiceSteps) {
        const QString name = ServiceStepName(step);
        QString reason;
        for (const TServiceFailure& f : s.Failed)
            if (f.Step == name)
                reason = f.Reason;
        if (s.IsDone(step))
            lines << when + QStringLiteral(": ") + ServiceStepCaption(step) +
                         QStringLiteral(" — считано");
        else if (!reason.isEmpty())
            lines << when + QStringLiteral(": ") + ServiceStepCaption(step) +
                         QStringLiteral(" — не считано: ") + reason;
    }
}

} // namespace

QStringList RecordStatusLines(const TServiceRecord& record, const QStringList& notes) {
    QStringList lines;
    SnapshotLines(lines, QStringLiteral("Как найдено"), record.AsFound);
    if (record.RunTest.Recorded.isEmpty())
        lines << QStringLiteral("Прогон: не записан");
    else
        lines << QStringLiteral("Прогон: записан, заключение — ") + RecordVerdictText(record);
    SnapshotLines(lines, QStringLiteral("Как оставлено"), record.AsLeft);
    if (record.State == TServiceState::Finished)
        lines << QStringLiteral("Сеанс завершён, записей в прибор: ") +
                     QString::number(record.Writes.size());
    else
        lines << QStringLiteral("Сеанс открыт");
    lines << notes;
    return lines;
}

bool PrintRecord(const TServiceRecord& record, QPrinter& printer, QString* error) {
    // The pages are laid out from the sheet's corner, whatever margins the printer keeps.
    printer.setFullPage(true);
    return PaintRecordDocument(printer, BuildRecordDocument(record), error);
}

TFormRecord::TFormRecord(TGaugeCommands& commands, IPollControl* poll, TWindowContext* context,
                         QWidget* parent)
    : QWidget(parent, Qt::Window), Commands_(commands), Poll_(poll), Context_(context) {
    setObjectName(QStringLiteral("FormRecord"));
    setWindowTitle(QStringLiteral("Протокол"));
    setAttribute(Qt::WA_DeleteOnClose);
    BuildLayout();
    LoadFields();
    ShowState();
}

TFormRecord::~TFormRecord() = default;

void TFormRecord::BuildLayout() {
    auto* fields = new QFormLayout;
    edSite = new QLineEdit(this);
    edTag = new QLineEdit(this);
    edTechnician = new QLineEdit(this);
    edSite->setObjectName(QStringLiteral("edSite"));
    edTag->setObjectName(QStringLiteral("edTag"));
    edTechnician->setObjectName(QStringLiteral("edTechnician"));
    fields->addRow(QStringLiteral("Объект"), edSite);
    fields->addRow(QStringLiteral("Позиция"), edTag);
    fields->addRow(QStringLiteral("Исполнитель"), edTechnician);

    const auto button = [this](const char* name, const char* text, void (TFormRecord::*run)()) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setObjectName(QString::fromLatin1(name));
        connect(b, &QPushButton::clicked, this, run);
        return b;
    };
    btnStart = button("btnStart", "Начать", &TFormRecord::Start);
    btnResume = button("btnResume", "Продолжить", &TFormRecord::Resume);
    btnRunTest = button("btnRunTest", "Записать прогон", &TFormRecord::RecordRunTest);
    btnFinish = button("btnFinish", "Завершить", &TFormRecord::Finish);
    btnPdf = button("btnPdf", "PDF…", &TFormRecord::SavePdf);
    btnPrint = button("btnPrint", "Печать", &TFormRecord::Print);
    btnStart->setToolTip(QStringLiteral("Считать прибор как найдено в новую папку сеанса"));
    btnResume->setToolTip(QStringLiteral("Продолжить незавершённый сеанс этого прибора"));
    btnRunTest->setToolTip(QStringLiteral("Записать таблицу окна \"Прогон\" в протокол"));
    btnFinish->setToolTip(QStringLiteral("Считать прибор как оставлено и завершить сеанс"));
    auto* buttons = new QGridLayout;
    buttons->addWidget(btnStart, 0, 0);
    buttons->addWidget(btnResume, 0, 1);
    buttons->addWidget(btnRunTest, 0, 2);
    buttons->addWidget(btnFinish, 1, 0);
    buttons->addWidget(btnPdf, 1, 1);
    buttons->addWidget(btnPrint, 1, 2);

    lbFolder = new QLabel(this);
    lbFolder->setObjectName(QStringLiteral("lbFolder"));
    lbFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbFolder->setWordWrap(true);
    lbSteps = new QListWidget(this);
    lbSteps->setObjectName(QStringLiteral("lbSteps"));
    lbSteps->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->addWidget(lbFolder);
    layout->addWidget(lbSteps, 1);
    resize(560, 420);
}

void TFormRecord::LoadFields() {
    const TIniFile ini(ServiceSettingsFile());
    edSite->setText(ini.ReadString(FieldsSection, QStringLiteral("Site"), QString()));
    edTag->setText(ini.ReadString(FieldsSection, QStringLiteral("Tag"), QString()));
    edTechnician->setText(ini.ReadString(FieldsSection, QStringLiteral("Technician"), QString()));
}

void TFormRecord::SaveFields() {
    TIniFile ini(ServiceSettingsFile());
    ini.WriteString(FieldsSection, QStringLiteral("Site"), edSite->text().trimmed());
    ini.WriteString(FieldsSection, QStringLiteral("Tag"), edTag->text().trimmed());
    ini.WriteString(FieldsSection, QStringLiteral("Technician"), edTechnician->text().trimmed());
    // The fields only spare retyping: a settings file that cannot be written costs nothing more.
    if (!ini.Save(true))
        lbSteps->addItem(QStringLiteral("Поля не сохранены в ") +
                         QDir::toNativeSeparators(ServiceSettingsFile()));
}

QString TFormRecord::OpenSessionFolder() const {
    const TUlmar* u = Commands_.Ulmar();
    QString folder;
    if (u && u->PlantNumber > 0)
        folder = FindOpenSession(u->PlantNumber);
    const TDeviceLink* link = Commands_.Link();
    if (folder.isEmpty() && link && link->Transmitter())
        folder =
            FindOpenSessionOnPort(link->Transmitter()->Settings().Port, u ? u->SystemAddress : -1);
    return folder;
}

void TFormRecord::ShowState() {
    const bool open = Session_ && Session_->IsOpen();
    const bool record = Session_ && !Session_->Folder().isEmpty();
    btnStart->setEnabled(!open);
    btnResume->setEnabled(!open);
    btnRunTest->setEnabled(open);
    btnFinish->setEnabled(open);
    btnPdf->setEnabled(record);
    btnPrint->setEnabled(record);
    for (QLineEdit* e : {edSite, edTag, edTechnician})
        e->setReadOnly(open);
    lbSteps->clear();
    if (!record) {
        const QString waiting = OpenSessionFolder();
        lbFolder->setText(waiting.isEmpty() ? QStringLiteral("Сеанс не начат")
                                            : QStringLiteral("Незавершённый сеанс прибора: ") +
                                                  QDir::toNativeSeparators(waiting) +
                                                  QStringLiteral(" — «Продолжить»"));
        return;
    }
    lbFolder->setText(QStringLiteral("Папка сеанса: ") +
                      QDir::toNativeSeparators(Session_->Folder()));
    lbSteps->addItems(RecordStatusLines(Session_->Record(), Session_->Notes()));
    if (!Session_->Error().isEmpty())
        lbSteps->addItem(QStringLiteral("Ошибка: ") + Session_->Error());
}

void TFormRecord::Warn(const QString& text) {
    ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"), text, QMessageBox::Ok,
                   QMessageBox::Ok, this);
}

void TFormRecord::Start() {
    if (Busy_ || (Session_ && Session_->IsOpen()))
        return;
    const TBusy busy(Busy_);
    SaveFields();
    TServiceOptions options;
    options.Factory = Context_ && Context_->FactoryMode;
    Session_ = std::make_unique<TServiceSession>(Commands_, Poll_, options);
    const bool started = Session_->Start(edSite->text().trimmed(), edTag->text().trimmed(),
                                         edTechnician->text().trimmed());
    if (!Session_->IsOpen()) {
        const QString error = Session_->Error();
        Session_.reset();
        ShowState();
        Warn(QStringLiteral("Сеанс не начат: ") + error);
        return;
    }
    ShowState();
    if (!started)
        Warn(QStringLiteral("Сеанс начат, но не всё считано как найдено: ") + Session_->Error() +
             QStringLiteral("\n«Продолжить» повторит несчитанное."));
}

void TFormRecord::Resume() {
    if (Busy_ || (Session_ && Session_->IsOpen()))
        return;
    const TBusy busy(Busy_);
    const QString folder = OpenSessionFolder();
    if (folder.isEmpty()) {
        Warn(QStringLiteral("У этого прибора нет незавершённого сеанса"));
        return;
    }
    TServiceOptions options;
    options.Factory = Context_ && Context_->FactoryMode;
    auto session = std::make_unique<TServiceSession>(Commands_, Poll_, options);
    const bool resumed = session->Resume(folder);
    if (!session->IsOpen()) {
        Warn(QStringLiteral("Сеанс не продолжен: ") + session->Error());
        ShowState();
        return;
    }
    Session_ = std::move(session);
    const TServiceRecord& r = Session_->Record();
    edSite->setText(r.Site);
    edTag->setText(r.Tag);
    edTechnician->setText(r.Technician);
    ShowState();
    if (!resumed)
        Warn(QStringLiteral("Не всё считано как найдено: ") + Session_->Error());
}

void TFormRecord::RecordRunTest() {
    if (Busy_ || !Session_ || !Session_->IsOpen())
        return;
    const TBusy busy(Busy_);
    if (!Session_->RecordRunTest())
        Warn(QStringLiteral("Прогон не записан: ") + Session_->Error());
    ShowState();
}

void TFormRecord::Finish() {
    if (Busy_ || !Session_ || !Session_->IsOpen())
        return;
    const TBusy busy(Busy_);
    if (!Session_->Finish())
        Warn(QStringLiteral("Сеанс не завершён: ") + Session_->Error() +
             QStringLiteral("\n«Завершить» можно повторить."));
    ShowState();
}

void TFormRecord::SavePdf() {
    if (!Session_ || Session_->Folder().isEmpty())
        return;
    QFileDialog dialog(this, QStringLiteral("Сохранить протокол в PDF"), Session_->Folder(),
                       QStringLiteral("Документ PDF (*.pdf)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    dialog.selectFile(QDir(Session_->Folder()).filePath(QStringLiteral("record.pdf")));
    if (ExecModal(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    QString error;
    int pages = 0;
    if (!WriteRecordPdf(Session_->Record(), path, &error, &pages)) {
        ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"),
                       QStringLiteral("Протокол не сохранён\n") + error, QMessageBox::Ok,
                       QMessageBox::Ok, this);
        return;
    }
    lbSteps->addItem(
        QStringLiteral("PDF: %1 (страниц: %2)").arg(QDir::toNativeSeparators(path)).arg(pages));
}

void TFormRecord::Print() {
    if (!Session_ || Session_->Folder().isEmpty())
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("Протокол УЛМАР"));
    QPrintDialog dialog(&printer, this);
    if (ExecModal(&dialog) != QDialog::Accepted)
        return;
    QString error;
    if (!PrintRecord(Session_->Record(), printer, &error))
        ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"),
                       QStringLiteral("Протокол не напечатан\n") + error, QMessageBox::Ok,
                       QMessageBox::Ok, this);
}

void TFormRecord::closeEvent(QCloseEvent* event) {
    // The session is in use until its step returns.
    if (Busy_) {
        event->ignore();
        return;
    }
    // An open session stays open on the disk: "Продолжить" takes it up again.
    Session_.reset();
    event->accept();
    emit Closed();
}

int ShowRecord(TWindowSlot<TFormRecord>& slot, TGaugeCommands& commands, IPollControl* poll,
               TWindowContext* context, QWidget* parent) {
    if (!slot)
        slot.Set(new TFormRecord(commands, poll, context, parent));
    slot->show();
    slot->raise();
    slot->activateWindow();
    return 0;
}
