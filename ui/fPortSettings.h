#pragma once
// Serial port settings dialog of the port settings command: port (a listed port or any typed
// name), baud rate with a custom rate, data bits, stop bits, parity and flow control.
// User-interface thread.

#include "uPortList.h"
#include "uTransmitter.h"
#include <QDialog>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

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

private:
    // The listed port that the box's text names, or null for a typed path not in the list.
    const TPortEntry* EntryOf(const QString& text) const;
    void ShowPortState();

    TTransmitterSettings Settings_;
    std::vector<TPortEntry> Ports_; // in the order of cmbPort's items
};

// Shows the dialog for the given settings; true when OK closed it (the choices are then in
// settings), false on Cancel.
bool EditTransmitterSettings(TTransmitterSettings& settings, QWidget* parent = nullptr);
// Shows the dialog for the transmitter's settings; on OK the choices become its settings.
// Returns true. Only while no exchange can run (no request thread or polling stopped and the
// cycle ended); the port settings command uses EditTransmitterSettings and
// TDeviceLink::ApplyPortSettings.
bool TransmitterSettingsDialog(TTransmitter& transmitter, QWidget* parent = nullptr);
