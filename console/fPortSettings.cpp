#include "console/fPortSettings.h"
#include "values/uModal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QComboBox* ChoiceBox(const QStringList& items, const QString& current, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->addItems(items);
    const int i = items.indexOf(current);
    box->setCurrentIndex(i >= 0 ? i : 0);
    return box;
}

} // namespace

TFormPortSettings::TFormPortSettings(const TTransmitterSettings& settings, QWidget* parent)
    : QDialog(parent), Settings_(settings) {
    setObjectName(QStringLiteral("FormPortSettings"));
    setWindowTitle(QStringLiteral("Параметры СОМ-порта"));

    cmbPort = new QComboBox(this);
    cmbPort->setObjectName(QStringLiteral("cmbPort"));
    cmbPort->setEditable(true);
    cmbPort->setInsertPolicy(QComboBox::NoInsert);
    QStringList ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports << info.systemLocation();
    if (!ports.contains(settings.Port))
        ports.prepend(settings.Port);
    cmbPort->addItems(ports);
    cmbPort->setCurrentIndex(ports.indexOf(settings.Port));

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

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

TTransmitterSettings TFormPortSettings::Settings() const {
    TTransmitterSettings s = Settings_;
    const QString port = cmbPort->currentText().trimmed();
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
    try {
        TFormPortSettings dialog(settings, parent);
        if (ExecModal(&dialog) != QDialog::Accepted)
            return false;
        settings = dialog.Settings();
        return true;
    } catch (...) {
        return false;
    }
}

bool TransmitterSettingsDialog(TTransmitter& transmitter, QWidget* parent) {
    try {
        TTransmitterSettings settings = transmitter.Settings();
        if (EditTransmitterSettings(settings, parent))
            transmitter.SetSettings(settings);
        return true;
    } catch (...) {
        return false;
    }
}
