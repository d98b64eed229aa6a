#pragma once
// "Сканирование": the bus scan and the address write by plant numbers. The window is a view of
// the command layer's TBusScan: it reads its fields, runs one step of the job per turn of the
// event loop (so "Остановить" and the rest of the window answer between two requests) and
// lists the rows. While a job runs the window does not close. User-interface thread.

#include "uBusScan.h"

#include <QDialog>
#include <QPointer>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class TEditNum;

class TFormScan : public QDialog {
    Q_OBJECT
public:
    // poll: the polling that a job pauses (null: none).
    TFormScan(TGaugeCommands& commands, IPollControl* poll, QWidget* parent = nullptr);
    ~TFormScan() override;

    TEditNum* enStartSA;
    TEditNum* enStopSA;
    TEditNum* enStartPN;
    TEditNum* enCountPN;
    QPushButton* btnScan;
    QPushButton* btnScanStop;
    QPushButton* btnWrite;
    QPushButton* btnWriteStop;
    QPushButton* btnSave;
    QPushButton* btnPollFound;
    QTableWidget* acgDeviceList;
    QProgressBar* pbProgress;
    QLabel* pnlStatus;

    int StartAddress = 0;
    int StopAddress = 254;
    int StartPlantNumber = 0;
    int PlantNumberCount = 10;
    bool StopRequested = true;
    int FoundCount = 0;

    // "Сканировать линию" and "Записать Сист. адреса": check the fields and start the job; the
    // steps follow on the event loop.
    void ScanLine();
    void WriteAddresses();
    // Either "Остановить": the job ends before its next request.
    void StopJob();
    bool JobRunning() const { return Job_.Running(); }
    // The rows of the list as the last job made them.
    const std::vector<TScanRow>& Rows() const { return Rows_; }
    // "Сохранить список…": asks for the file, writes the CSV; false when nothing was written.
    bool SaveList();
    // "Опрашивать найденные": the gauges found become the poll list, kept in the settings.
    bool PollFound();
    // Writes the list to the file; an error box on failure.
    bool SaveListTo(const QString& fileName);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void ReadFields();
    void SetButtons(bool running);
    void BuildList();
    void AddRow(const TScanRow& row);
    void StartJob(const QString& refusal);
    void ShowStep();
    void RunStep();

    TGaugeCommands* Commands_;
    TBusScan Job_;
    std::vector<TScanRow> Rows_;
    QString EndText_;
};

// Creates the window over the command layer when the slot holds none and shows it modally over
// the parent; the window is deleted when it closes. 0.
int ShowScan(QPointer<TFormScan>& slot, TGaugeCommands& commands, IPollControl* poll,
             QWidget* parent);
