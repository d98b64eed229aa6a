#include "fUlmar.h"
#include "IOVisual.h"
#include "Ulmar.h"
#include "VHistogram.h"
#include "uActionLink.h"
#include "uWindowContext.h"
#include "uWindowPosition.h"
#include "uWindowSlot.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// Keeps the tool tip of a control from showing while its text still carries one.
class TNoToolTip : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ToolTip)
            return true;
        return QObject::eventFilter(watched, event);
    }
};

// 16 x 16 picture of a small trend.
QPixmap TrendIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(Qt::darkGray);
    p.drawRect(0, 0, 15, 15);
    p.fillRect(1, 1, 14, 14, Qt::white);
    p.setPen(QPen(Qt::blue, 1));
    const QPoint points[] = {{2, 12}, {5, 8}, {8, 10}, {11, 4}, {13, 6}};
    p.drawPolyline(points, 5);
    return pm;
}

// 16 x 16 picture of a bar gauge for the window.
QPixmap GaugeIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.fillRect(4, 1, 8, 14, QColor(192, 192, 192));
    p.fillRect(4, 7, 8, 8, Qt::blue);
    p.setPen(Qt::black);
    p.drawRect(4, 1, 7, 13);
    return pm;
}

QLabel* ValueLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->installEventFilter(new TNoToolTip(label));
    return label;
}

TActionLabel* TrendImage(QAction* action, const QString& trendName, QWidget* parent) {
    auto* img = new TActionLabel(action, TActionLabel::TStyle::Plain, parent);
    img->setPixmap(TrendIcon());
    img->setFixedSize(16, 16);
    img->setCursor(Qt::PointingHandCursor);
    img->setToolTip(QStringLiteral("График \"%1\"").arg(trendName));
    return img;
}

void Name(QObject* object, const char* name) {
    object->setObjectName(QLatin1String(name));
}

} // namespace

TFormUlmar::TFormUlmar(TUlmar* ulmar, TWindowContext* context, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Ulmar_(ulmar), Context_(context) {
    setObjectName(QStringLiteral("FormUlmar"));
    setWindowTitle(QStringLiteral("Показания УЛМАР"));
    setWindowIcon(QIcon(GaugeIcon()));
    setAttribute(Qt::WA_DeleteOnClose);
    BuildLayout();
    resize(373, 393);
    InstallEscClose(this);
    LoadWindowPosition(this);
    CreateBindings();
}

TFormUlmar::~TFormUlmar() {
    ReleaseBindings();
}

void TFormUlmar::BuildLayout() {
    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(4, 4, 4, 4);

    auto* strip = new QWidget(this);
    strip->setFixedWidth(81);
    auto* stripLayout = new QVBoxLayout(strip);
    stripLayout->setContentsMargins(0, 0, 0, 0);
    stripLayout->setSpacing(2);
    vhLevel = new TVHistogram(strip);
    Name(vhLevel, "vhLevel");
    vhLevel->SetBorder(bLower);
    vhLevel->SetMax(4);
    vhLevel->SetColorZoneAlarm(255);
    vhLevel->SetColorZoneAttention(0x00FFFF);
    vhLevel->SetScaleOffset(0);
    vhLevel->SetColorProductType(cptManual);
    vhLevel->SetColorProduct(0xFF0000); // blue
    vhLevel->SetColorEmpty(0xC0C0C0);
    vhLevel->SetColorScale(0x808080);
    vhLevel->SetColorValues(0x808080);
    vhLevel->SetDValueSmall(1);
    vhLevel->SetDValueBig(10);
    vhLevel->SetDecimalSign(1);
    vhLevel->SetShowScaleMarks(true);
    vhLevel->SetShowScaleZones(false);
    vhLevel->SetShowValues(true);
    vhLevel->SetScaleAlignment(saLeft);
    vhLevel->SetScaleReverse(false);
    vhLevel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stripLayout->addWidget(vhLevel, 1);
    stxLevel = new QLabel(strip);
    Name(stxLevel, "stxLevel");
    stxLevel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    stxLevel->setAlignment(Qt::AlignCenter);
    stxLevel->setFixedHeight(17);
    stripLayout->addWidget(stxLevel);
    root->addWidget(strip);

    auto* column = new QVBoxLayout;
    root->addLayout(column, 1);

    gbValues = new QGroupBox(QStringLiteral("Показания датчика"), this);
    Name(gbValues, "gbValues");
    gbValues->setAutoFillBackground(true);
    auto* values = new QGridLayout(gbValues);
    values->setColumnStretch(2, 1);
    auto addValueRow = [&](int row, TActionLabel*& img, const char* imgName, const char* action,
                           const QString& trend, const QString& title, QLabel*& value,
                           const char* valueName) {
        img = TrendImage(Context_ ? Context_->Action(QLatin1String(action)) : nullptr, trend,
                         gbValues);
        Name(img, imgName);
        auto* titleLabel = new QLabel(title, gbValues);
        value = ValueLabel(gbValues);
        Name(value, valueName);
        values->addWidget(img, row, 0);
        values->addWidget(titleLabel, row, 1);
        values->addWidget(value, row, 2);
        return titleLabel;
    };
    addValueRow(0, imgDistance, "imgDistance", "actGraphDistance",
                QStringLiteral("Текущее расстояние"), QStringLiteral("Lт, текущее расстояние, мм"),
                lblDistance, "lblDistance");
    addValueRow(1, imgLevelFree, "imgLevelFree", "actGraphLevelFree",
                QStringLiteral("Свободное пространство"),
                QStringLiteral("Lc, свободное пространство, мм"), lblLevelFree, "lblLevelFree");
    addValueRow(2, imgLevel, "imgLevel", "actGraphLevel", QStringLiteral("Текущий уровень"),
                QStringLiteral("Ну, текущий уровень, мм"), lblLevel, "lblLevel");
    addValueRow(3, imgVolume, "imgVolume", "actGraphVolume", QStringLiteral("Текущий объем"),
                QStringLiteral("V, текущий объем, %"), lblVolume, "lblVolume");
    lblCurrentOutputTitle =
        addValueRow(4, imgCurrentOutput, "imgCurrentOutput", "actGraphCurrentOutput",
                    QStringLiteral("Токовый выход"), QStringLiteral("Токовый выход, мА"),
                    lblCurrentOutput, "lblCurrentOutput");
    Name(lblCurrentOutputTitle, "lblCurrentOutputTitle");
    column->addWidget(gbValues);

    grbRelay = new QGroupBox(this);
    Name(grbRelay, "grbRelay");
    auto* relays = new QGridLayout(grbRelay);
    relays->setColumnStretch(2, 1);
    auto addRelay = [&](int row, const QString& title, QFrame*& shape, const char* shapeName,
                        QLabel*& state, const char* stateName) {
        relays->addWidget(new QLabel(title, grbRelay), row, 0);
        shape = new QFrame(grbRelay);
        Name(shape, shapeName);
        shape->setFixedSize(12, 12);
        shape->setFrameShape(QFrame::Box);
        shape->setAutoFillBackground(true);
        relays->addWidget(shape, row, 1);
        state = new QLabel(grbRelay);
        Name(state, stateName);
        relays->addWidget(state, row, 2);
    };
    addRelay(0, QStringLiteral("Реле 1"), shpRelay1, "shpRelay1", lblRelay1, "lblRelay1");
    addRelay(1, QStringLiteral("Реле 2"), shpRelay2, "shpRelay2", lblRelay2, "lblRelay2");
    column->addWidget(grbRelay);

    auto addPair = [](QGridLayout* grid, int row, const QString& title, QLabel*& value,
                      const char* valueName, QWidget* group) {
        grid->addWidget(new QLabel(title, group), row, 0);
        value = ValueLabel(group);
        Name(value, valueName);
        grid->addWidget(value, row, 1);
    };

    gbTemp = new QGroupBox(QStringLiteral("Температура"), this);
    Name(gbTemp, "gbTemp");
    auto* temps = new QGridLayout(gbTemp);
    temps->setColumnStretch(1, 1);
    addPair(temps, 0, QStringLiteral("Внутри оболочки, °С"), lblTempSVCH, "lblTempSVCH", gbTemp);
    addPair(temps, 1, QStringLiteral("Внутри термостата, °С"), lblTempTermostat, "lblTempTermostat",
            gbTemp);
    column->addWidget(gbTemp);

    grbErrors = new QGroupBox(QStringLiteral("Ошибки"), this);
    Name(grbErrors, "grbErrors");
    auto* errors = new QGridLayout(grbErrors);
    errors->setColumnStretch(1, 1);
    addPair(errors, 0, QStringLiteral("Код ошибки"), lblErrorByte, "lblErrorByte", grbErrors);
    lblErrorMessage = ValueLabel(grbErrors);
    Name(lblErrorMessage, "lblErrorMessage");
    lblErrorMessage->setWordWrap(true);
    lblErrorMessage->setAlignment(Qt::AlignRight | Qt::AlignTop);
    lblErrorMessage->setMinimumSize(256, 33);
    errors->addWidget(lblErrorMessage, 1, 0, 1, 2);
    column->addWidget(grbErrors);

    gbFreq = new QGroupBox(QStringLiteral("Частота"), this);
    Name(gbFreq, "gbFreq");
    auto* freqs = new QGridLayout(gbFreq);
    freqs->setColumnStretch(1, 1);
    addPair(freqs, 0, QStringLiteral("Измеренная"), lblFreq, "lblFreq", gbFreq);
    addPair(freqs, 1, QStringLiteral("Опорного канала"), lblFreqOpCh, "lblFreqOpCh", gbFreq);
    column->addWidget(gbFreq);
    column->addStretch(1);
}

std::array<TIODouble*, 6> TFormUlmar::Sources() const {
    return {Ulmar_->Level.get(),     Ulmar_->Level.get(),  Ulmar_->Level.get(),
            Ulmar_->LevelFree.get(), Ulmar_->Volume.get(), Ulmar_->Distance.get()};
}

void TFormUlmar::CreateBindings() {
    if (!Ulmar_)
        return;
    auto bar = std::make_unique<TIODoubleVHistogram>();
    bar->ValueControl = vhLevel;
    auto text = std::make_unique<TIODoubleStaticText>();
    text->ValueControl = stxLevel;
    auto level = std::make_unique<TIODoubleLabel>();
    level->ValueControl = lblLevel;
    auto levelFree = std::make_unique<TIODoubleLabel>();
    levelFree->ValueControl = lblLevelFree;
    auto volume = std::make_unique<TIODoubleLabel>();
    volume->ValueControl = lblVolume;
    auto distance = std::make_unique<TIODoubleLabel>();
    distance->ValueControl = lblDistance;
    Bindings_ = {std::move(bar),       std::move(text),   std::move(level),
                 std::move(levelFree), std::move(volume), std::move(distance)};
    AssignDescriptions();
    // Each binding takes the device value's current reading at once, so that a window opened
    // while polling is stopped shows the last readings rather than zeros.
    const auto sources = Sources();
    for (size_t i = 0; i < Bindings_.size(); ++i)
        Bindings_[i]->Connect(sources[i], true);
}

void TFormUlmar::AssignDescriptions() {
    if (!Ulmar_ || !Bindings_[0])
        return;
    const auto sources = Sources();
    for (size_t i = 0; i < Bindings_.size(); ++i)
        Bindings_[i]->Description()->Assign(sources[i]->Description());
}

void TFormUlmar::ReleaseBindings() {
    for (auto& binding : Bindings_) {
        if (!binding)
            continue;
        binding->Disconnect(binding->Source());
        binding.reset();
    }
}

namespace {

// Relay state text and square colour of a three-state code.
void ShowRelay(quint8 state, QLabel* text, QFrame* square) {
    QString caption = QStringLiteral("Не известно");
    TColor color = clGray;
    if (state == tsFalse) {
        caption = QStringLiteral("Отключено");
        color = clLime;
    } else if (state == tsTrue) {
        caption = QStringLiteral("Включено");
        color = clRed;
    }
    text->setText(caption);
    QPalette pal = square->palette();
    pal.setColor(QPalette::Window, ColorToQColor(color));
    square->setPalette(pal);
}

// Colour of the readings group for an error code: button face, yellow for the codes 8 to 11,
// red for any other code.
TColor ErrorGroupColor(int code) {
    if (code == 0)
        return clBtnFace;
    if (code >= 8 && code <= 11)
        return 0x00FFFF;
    return clRed;
}

} // namespace

void TFormUlmar::Refresh() {
    if (!Ulmar_)
        return;
    TUlmar& u = *Ulmar_;
    const bool factory = Context_ && Context_->FactoryMode;
    gbFreq->setVisible(factory);
    lblCurrentOutputTitle->setVisible(factory);
    lblCurrentOutput->setVisible(factory);
    imgCurrentOutput->setVisible(factory);

    ShowRelay(u.Relay1->State(), lblRelay1, shpRelay1);
    ShowRelay(u.Relay2->State(), lblRelay2, shpRelay2);
    lblErrorByte->setText(QString::number(u.ErrorCode));
    lblErrorMessage->setText(u.ErrorText);

    AssignDescriptions();
    vhLevel->SetDecimalSign(0);
    vhLevel->SetRange(0, u.Dist2());
    vhLevel->SetDValueBig(u.Dist2() * 0.1);
    vhLevel->SetDValueSmall(u.Dist2() * 0.05);
    for (auto& binding : Bindings_) {
        if (binding)
            binding->Refresh();
    }
    lblTempSVCH->setText(u.TempSVCH->Description()->FormatValue(u.TempSVCH->AsDouble()));
    lblTempTermostat->setText(QString::number(u.TemperTermostat));
    lblFreq->setText(u.Freq->Description()->FormatValue(u.Freq->AsDouble()));
    lblFreqOpCh->setText(u.FreqOpCh->Description()->FormatValue(u.FreqOpCh->AsDouble()));

    QPalette pal = gbValues->palette();
    pal.setColor(QPalette::Window, ColorToQColor(ErrorGroupColor(u.ErrorCode)));
    gbValues->setPalette(pal);

    lblCurrentOutput->setText(FormatNumber(u.CurrentOutput->AsDouble(), 9, 2));
}

void TFormUlmar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
}

void TFormUlmar::closeEvent(QCloseEvent* event) {
    SaveWindowPosition(this);
    ReleaseBindings();
    event->accept();
    emit Closed();
}

int ShowFormUlmar(TWindowSlot<TFormUlmar>& slot, TUlmar* ulmar, TWindowContext* context) {
    if (!slot) {
        if (!ulmar)
            return -1;
        auto* form = new TFormUlmar(ulmar, context);
        FollowRefresh(context, form);
        slot.Set(form);
    }
    slot->show();
    slot->raise();
    slot->activateWindow();
    return 0;
}
