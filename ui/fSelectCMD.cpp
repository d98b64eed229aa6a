#include "fSelectCMD.h"

#include "Ulmar.h"
#include "uParamStr.h"
#include "uRequestDevices.h"
#include "uWindowPosition.h"
#include "uWindowSlot.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QSignalBlocker>
#include <QStyle>

namespace {
constexpr int NoCode = -1;
constexpr int KalistEntry = 1;                // device list entry of the КАЛИСТ-1
const char* const CodeProperty = "ulmarCode"; // the command code of a box
} // namespace

TFormSelectCMD::TFormSelectCMD(QWidget* parent, TDeviceLink* link, TWindowContext* context)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      Link_(link), Context_(context) {
    setObjectName(QStringLiteral("FormSelectCMD"));
    setWindowTitle(QStringLiteral("Команды УЛМАР"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* grid = new QGridLayout(this);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);

    chbSelectAll = AddBox(grid, QStringLiteral("Выделить все"), NoCode);
    chbSelectAll->setToolTip(QStringLiteral("Выделить все команды"));
    chbEcho = AddBox(grid, QStringLiteral("Эхо"), UlmarCmd::Echo);
    AddSeparator(grid);
    chbDistance = AddBox(grid, QStringLiteral("Lт, Текущее расстояние"), UlmarCmd::DistanceRead);
    chbLevelFree =
        AddBox(grid, QStringLiteral("Lс, Свободное пространство"), UlmarCmd::LevelFreeRead);
    chbLevel = AddBox(grid, QStringLiteral("Ну, Текущий уровень"), UlmarCmd::LevelRead);
    chbVolume = AddBox(grid, QStringLiteral("V, Текущий объем"), UlmarCmd::VolumeRead);
    chbLevelAll = AddBox(grid, QStringLiteral("Lт, Lc, Ну,  V, Реле"), UlmarCmd::LevelAllRead);
    AddSeparator(grid);
    chbTempSVCH =
        AddBox(grid, QStringLiteral("Температура внутри оболочки"), UlmarCmd::TemperSVChModuleRead);
    chbTempTermostat = AddBox(grid, QStringLiteral("Температура внутри термостата"),
                              UlmarCmd::TemperTermostatRead);
    imgTempTermostat =
        qobject_cast<QLabel*>(grid->itemAtPosition(grid->rowCount() - 1, 0)->widget());
    FactoryWidgets_ << AddSeparator(grid);
    chbFreq = AddBox(grid, QStringLiteral("Измеренная частота"), UlmarCmd::FreqRead);
    chbFreqOpCh = AddBox(grid, QStringLiteral("Частота опорного канала"), UlmarCmd::FreqOpChRead);
    FactoryWidgets_ << AddSeparator(grid);
    chbCurrentOutput = AddBox(grid, QStringLiteral("Токовый выход"), NoCode);
    for (QCheckBox* box : {chbFreq, chbFreqOpCh, chbCurrentOutput}) {
        FactoryWidgets_ << box;
        for (int row = 0; row < grid->rowCount(); ++row)
            if (grid->itemAtPosition(row, 1) && grid->itemAtPosition(row, 1)->widget() == box)
                FactoryWidgets_ << grid->itemAtPosition(row, 0)->widget();
    }

    connect(chbSelectAll, &QCheckBox::toggled, this, &TFormSelectCMD::SelectAllChanged);
    connect(chbCurrentOutput, &QCheckBox::toggled, this, [this](bool on) {
        TDeviceLink* l = Link();
        if (l && int(l->Poller()->DeviceList.size()) > KalistEntry &&
            l->Poller()->DeviceList[KalistEntry])
            l->Poller()->DeviceList[KalistEntry]->Enabled = on;
    });

    LoadWindowPosition(this);
    ShowSelection();
    Refresh();
}

TFormSelectCMD::~TFormSelectCMD() = default;

TDeviceLink* TFormSelectCMD::Link() const {
    return Link_;
}

bool TFormSelectCMD::FactoryMode() const {
    return Context_ && Context_->FactoryMode;
}

QCheckBox* TFormSelectCMD::AddBox(QGridLayout* grid, const QString& caption, int code) {
    const int row = grid->rowCount();
    auto* image = new QLabel(this);
    image->setPixmap(style()->standardIcon(QStyle::SP_ArrowRight).pixmap(16, 16));
    auto* box = new QCheckBox(caption, this);
    grid->addWidget(image, row, 0);
    grid->addWidget(box, row, 1);
    if (code != NoCode) {
        box->setProperty(CodeProperty, code);
        Boxes_ << box;
        connect(box, &QCheckBox::toggled, this, [this, code](bool on) { SetCode(code, on); });
    }
    return box;
}

QFrame* TFormSelectCMD::AddSeparator(QGridLayout* grid) {
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    grid->addWidget(line, grid->rowCount(), 0, 1, 2);
    return line;
}

void TFormSelectCMD::ShowSelection() {
    const TDeviceLink* l = Link();
    if (!l)
        return;
    // Only the boxes follow the link here: their effects would write the same state back, and
    // "Выделить все" would spread to the other boxes.
    for (QCheckBox* box : std::as_const(Boxes_)) {
        const QSignalBlocker blocker(box);
        box->setChecked(l->SelectedCommands.Contains(box->property(CodeProperty).toInt()));
    }
    const bool polled = int(l->Poller()->DeviceList.size()) > KalistEntry &&
                        l->Poller()->DeviceList[KalistEntry] &&
                        l->Poller()->DeviceList[KalistEntry]->Enabled;
    const QSignalBlocker blocker(chbCurrentOutput);
    chbCurrentOutput->setChecked(polled);
}

void TFormSelectCMD::SetCode(int code, bool on) {
    TDeviceLink* l = Link();
    if (!l)
        return;
    if (on)
        l->SelectedCommands.Include(code);
    else
        l->SelectedCommands.Exclude(code);
}

void TFormSelectCMD::SelectAllChanged(bool checked) {
    for (QCheckBox* box :
         {chbDistance, chbLevelFree, chbLevel, chbVolume, chbLevelAll, chbTempSVCH})
        box->setChecked(checked);
    const TDeviceLink* l = Link();
    if (l && l->Ulmar() && l->Ulmar()->ProgramType == 1)
        chbTempTermostat->setChecked(checked);
    chbEcho->setChecked(checked);
    const bool factory = checked && FactoryMode();
    for (QCheckBox* box : {chbFreq, chbFreqOpCh, chbCurrentOutput})
        box->setChecked(factory);
}

void TFormSelectCMD::Refresh() {
    // Hiding the factory rows keeps their state and the codes they selected.
    for (QWidget* w : std::as_const(FactoryWidgets_))
        w->setVisible(FactoryMode());
    const TDeviceLink* l = Link();
    const bool type1 = l && l->Ulmar() && l->Ulmar()->ProgramType == 1;
    if (!type1)
        chbTempTermostat->setChecked(false);
    chbTempTermostat->setEnabled(type1);
    if (imgTempTermostat)
        imgTempTermostat->setEnabled(type1);
}

void TFormSelectCMD::closeEvent(QCloseEvent* event) {
    SaveWindowPosition(this);
    // Forgotten at once, so that the next Show creates a new window.
    event->accept();
    emit Closed();
}

void TFormSelectCMD::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

TFormSelectCMD* ShowFormSelectCMD(TWindowSlot<TFormSelectCMD>& slot, QWidget* parent,
                                  TWindowContext* context) {
    if (!slot) {
        auto* form = new TFormSelectCMD(parent, context ? context->Link() : nullptr, context);
        FollowRefresh(context, form);
        slot.Set(form);
    }
    slot->show();
    slot->raise();
    return slot;
}

void TFormSelectCMD::SelectCmdInit() {
    chbLevelAll->setChecked(true);
    chbCurrentOutput->setChecked(FactoryMode() && Context_->KalistMode);
}
