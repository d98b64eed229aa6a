#pragma once
// Serial port settings dialog of the port settings command: port (a listed port or any typed
// name), baud rate with a custom rate, data bits, stop bits, parity and flow control.
// User-interface thread.

#include "devicelink/uTransmitter.h"
#include <QDialog>

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

class TFormPortSettings : public QDialog {
    Q_OBJECT
public:
    // The boxes start from the given settings; the port list holds the ports the desktop
    // reports, and the current port first when it is not among them.
    explicit TFormPortSettings(const TTransmitterSettings& settings, QWidget* parent = nullptr);

    // The given settings with the six choices of the boxes (time-outs unchanged).
    TTransmitterSettings Settings() const;

    QComboBox* cmbPort;
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
    TTransmitterSettings Settings_;
};

// Shows the dialog for the given settings; true when OK closed it (the choices are then in
// settings), false on Cancel or when the dialog could not be shown.
bool EditTransmitterSettings(TTransmitterSettings& settings, QWidget* parent = nullptr);
// Shows the dialog for the transmitter's settings; on OK the choices become its settings.
// False when the dialog could not be shown. Only while no exchange can run (no request thread
// or polling stopped and the cycle ended); the port settings command uses
// EditTransmitterSettings and TDeviceLink::ApplyPortSettings.
bool TransmitterSettingsDialog(TTransmitter& transmitter, QWidget* parent = nullptr);
