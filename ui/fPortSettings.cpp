#include "fPortSettings.h"
#include "uModal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
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

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
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

bool TransmitterSettingsDialog(TTransmitter& transmitter, QWidget* parent) {
    TTransmitterSettings settings = transmitter.Settings();
    if (EditTransmitterSettings(settings, parent))
        transmitter.SetSettings(settings);
    return true;
}
