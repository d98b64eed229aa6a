#pragma once
// The service session window "Протокол": a view on TServiceSession (commands/uServiceSession.h)
// for the current gauge. "Начать" reads the gauge as found into a new session folder,
// "Продолжить" resumes the gauge's open session, "Записать прогон" takes the run window's
// table, "Завершить" reads the gauge as left and closes the session; "PDF…" and "Печать" put
// the record's pages (report/uRecordReport.h) into a file or on a printer. The fields "Объект",
// "Позиция" and "Исполнитель" are kept in the settings for the next session. The long steps run
// through the command layer's progress window, which keeps the event loop running. Not modal,
// at most one. User-interface thread.

#include "uServiceSession.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

class IPollControl;
class QLabel;
class QLineEdit;
class QListWidget;
class QPrinter;
class QPushButton;
class TGaugeCommands;
class TWindowContext;
template <class W> class TWindowSlot;

class TFormRecord : public QWidget {
    Q_OBJECT
public:
    // The window over the command layer and the polling (both outlive it; poll may be null).
    // The context (may be null) gives the factory mode: its bulk read set is the session's.
    TFormRecord(TGaugeCommands& commands, IPollControl* poll, TWindowContext* context = nullptr,
                QWidget* parent = nullptr);
    ~TFormRecord() override;

    QLineEdit* edSite = nullptr;
    QLineEdit* edTag = nullptr;
    QLineEdit* edTechnician = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnResume = nullptr;
    QPushButton* btnRunTest = nullptr;
    QPushButton* btnFinish = nullptr;
    QPushButton* btnPdf = nullptr;
    QPushButton* btnPrint = nullptr;
    QLabel* lbFolder = nullptr;
    QListWidget* lbSteps = nullptr;

    // The session the window shows; null before "Начать" or "Продолжить".
    const TServiceSession* Session() const { return Session_.get(); }

    // --- operations, as the buttons run them ---
    void Start();
    void Resume();
    void RecordRunTest();
    void Finish();
    // "PDF…": the save dialog (record.pdf in the session folder by default), then the file.
    void SavePdf();
    // "Печать": the print dialog, then the pages on the chosen printer.
    void Print();

signals:
    // The close was accepted: the window is on its way to deletion.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLayout();
    void LoadFields();
    void SaveFields();
    void ShowState();
    void Warn(const QString& text);
    // The open session of the current gauge on the disk; empty when none.
    QString OpenSessionFolder() const;

    TGaugeCommands& Commands_;
    IPollControl* Poll_;
    TWindowContext* Context_;
    std::unique_ptr<TServiceSession> Session_;
    bool Busy_ = false; // a step of the session runs (its progress window keeps events going)
};

// The lines of the status list for a record: each step of as found and as left done or failed
// (with the reason), the run test, the state, and the session's notes.
QStringList RecordStatusLines(const TServiceRecord& record, const QStringList& notes);

// The printer's pages: the record's document on the printer, A4 portrait, from the sheet's
// corner. False with the reason.
bool PrintRecord(const TServiceRecord& record, QPrinter& printer, QString* error);

// Creates the window when the slot holds none, keeps it there and shows it. Returns 0.
int ShowRecord(TWindowSlot<TFormRecord>& slot, TGaugeCommands& commands, IPollControl* poll,
               TWindowContext* context, QWidget* parent);
