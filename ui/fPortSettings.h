#pragma once
// Serial port settings dialog of the port settings command: port (a listed port or any typed
// name), baud rate with a custom rate, data bits, stop bits, parity and flow control; with the
// command layer given, the gauge finder ("Найти прибор") that tries every rate of the list and
// lists the gauges that answered, one of which "Применить" takes into the dialog.
// User-interface thread.

#include "uGaugeFinder.h"
#include "uPortList.h"
#include "uTransmitter.h"
#include <QDialog>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

class TFormPortSettings : public QDialog {
    Q_OBJECT
public:
    // The boxes start from the given settings. The port list holds the serial ports of
    // ListSerialPorts (the current port among them even when it is not there), each as its
    // device with the adapter's name and a mark when it is busy or cannot be opened; the
    // current port's name stays as it was saved. Choosing a listed port puts its stable
    // by-id name in the box when it has one, so the saved port survives the adapter coming
    // back as another ttyUSB; any path may be typed instead.
    explicit TFormPortSettings(const TTransmitterSettings& settings, QWidget* parent = nullptr,
                               const TPortRoots& roots = PortRootsFromEnvironment());
    ~TFormPortSettings() override;

    // Shows the gauge finder, which searches through the command layer's link; poll: the
    // polling a search pauses (null: none). Without it the finder's group stays hidden.
    void EnableFinder(TGaugeCommands& commands, IPollControl* poll);
    // "Найти прибор": every rate of the list on the port in the box, one request per turn of
    // the event loop; the gauges fill the list as they answer. The link's port settings are
    // put back afterwards; nothing is saved. While it runs the dialog does not close.
    void FindGauge();
    // "Остановить": the search ends before its next request.
    void StopFind();
    bool Finding() const;
    // "Применить" (or a double click on a row): the rate of the gauge in the list's current row
    // goes into the rate box (with the framing it answered with), and its address is kept for
    // the poll list, taken on OK with the rest of the dialog. False when the list is empty.
    bool ApplyFound();
    // The gauges of the last search, in the order found.
    const std::vector<TFoundGauge>& Found() const { return Found_; }
    // The gauge applied with "Применить", and the gauges of its search (for its line).
    const std::optional<TFoundGauge>& Applied() const { return Applied_; }
    const std::vector<TFoundGauge>& AppliedSearch() const { return AppliedSearch_; }

    // The given settings with the six choices of the boxes (time-outs unchanged).
    TTransmitterSettings Settings() const;

    QComboBox* cmbPort;
    QLabel* lblPortState; // the adapter and the state of the port in the box
    QComboBox* cmbBaudRate;
    QSpinBox* seCustomBaudRate;
    QComboBox* cmbDataBits;
    QComboBox* cmbStopBits;
    QComboBox* cmbParity;
    QComboBox* cmbFlowControl;
    QCheckBox* chkEndByLength;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QGroupBox* grbFinder;
    QPushButton* btnFind;
    QPushButton* btnFindStop;
    QProgressBar* pbFind;
    QLabel* lblFindStatus;
    QTableWidget* tblFound;
    QPushButton* btnApplyFound;

    // While a search runs, neither OK, Cancel, Esc nor the window's close ends the dialog.
    void done(int result) override;

private:
    // The listed port that the box's text names, or null for a typed path not in the list.
    const TPortEntry* EntryOf(const QString& text) const;
    void ShowPortState();
    void SetFinding(bool finding);
    void AddFound(const TFoundGauge& gauge);
    void ShowFindStep();
    void RunFindStep();
    void EndFind();

    TTransmitterSettings Settings_;
    std::vector<TPortEntry> Ports_; // in the order of cmbPort's items
    std::unique_ptr<TGaugeFinder> Finder_;
    std::vector<TFoundGauge> Found_;
    std::optional<TFoundGauge> Applied_;
    std::vector<TFoundGauge> AppliedSearch_;
    QString FindSummary_; // what the last search came to, as the status line says it
};

// Shows the dialog for the given settings; true when OK closed it (the choices are then in
// settings), false on Cancel.
bool EditTransmitterSettings(TTransmitterSettings& settings, QWidget* parent = nullptr);
// The same with the gauge finder over the command layer's link. On OK, a gauge applied with
// "Применить" is in `applied` and its search in `search` (for PollFoundGauge); else `applied`
// is empty.
bool EditTransmitterSettings(TTransmitterSettings& settings, TGaugeCommands& commands,
                             IPollControl* poll, std::optional<TFoundGauge>& applied,
                             std::vector<TFoundGauge>& search, QWidget* parent = nullptr);
// Shows the dialog for the transmitter's settings; on OK the choices become its settings.
// Returns true. Only while no exchange can run (no request thread or polling stopped and the
// cycle ended); the port settings command uses EditTransmitterSettings and
// TDeviceLink::ApplyPortSettings.
bool TransmitterSettingsDialog(TTransmitter& transmitter, QWidget* parent = nullptr);
