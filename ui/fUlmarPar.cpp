#include "fUlmarPar.h"
#include "IODescription.h"
#include "Ulmar.h"
#include "uActionLink.h"
#include "uParamStr.h"
#include "uParamTable.h"
#include "uPaths.h"
#include "uSmallFile.h"
#include "uWindowContext.h"
#include "uWindowPosition.h"
#include "uWindowSlot.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStringDecoder>
#include <QVBoxLayout>

namespace {

// 16 x 16 picture at the start of a parameter row.
QPixmap RowIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.fillRect(3, 3, 10, 10, QColor(0, 0, 128));
    p.fillRect(5, 7, 6, 2, Qt::white);
    return pm;
}

// 16 x 16 picture of the window: a small table.
QPixmap ParametersIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setPen(Qt::darkGray);
    p.drawRect(0, 0, 15, 15);
    p.setPen(Qt::blue);
    for (int y = 3; y < 15; y += 4)
        p.drawLine(3, y, 12, y);
    return pm;
}

// A parameter's caption in the window, from the parameter table.
QString Caption(TParamId id) {
    return QString::fromUtf8(ParamView(ParamRow(id)).PanelCaption);
}

// A parameter's value as the window shows it: the table's width and decimals for a number, an
// integer in plain decimal.
QString ValueText(const TUlmar& ulmar, const TParamRow& row) {
    const TParamView& view = ParamView(row);
    const double value = ParamNumber(ulmar, row);
    return view.PanelDecimals < 0 ? QString::number(static_cast<qint64>(value))
                                  : FormatNumber(value, view.PanelWidth, view.PanelDecimals);
}

void Name(QObject* object, const char* name) {
    object->setObjectName(QLatin1String(name));
}

QFrame* HLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// Rows of a group: an optional icon, a caption and the value controls.
class TRows {
public:
    TRows(QGroupBox* group, bool icons)
        : Group_(group), Icons_(icons), Grid_(new QGridLayout(group)) {
        Grid_->setColumnStretch(1, 1);
    }
    QGridLayout* Grid() const { return Grid_; }
    int Row() const { return Row_; }

    // Adds a row; returns its caption label. icon receives the row's picture (if any).
    QLabel* Add(const QString& caption, QWidget* value, QWidget* second = nullptr,
                QLabel** icon = nullptr) {
        if (Icons_) {
            auto* img = new QLabel(Group_);
            img->setPixmap(RowIcon());
            img->setFixedSize(16, 16);
            Grid_->addWidget(img, Row_, 0);
            if (icon)
                *icon = img;
        }
        auto* label = new QLabel(caption, Group_);
        Grid_->addWidget(label, Row_, 1);
        if (value)
            Grid_->addWidget(value, Row_, 2);
        if (second)
            Grid_->addWidget(second, Row_, 3);
        ++Row_;
        return label;
    }
    void AddWidget(QWidget* w) {
        Grid_->addWidget(w, Row_, 0, 1, 4);
        ++Row_;
    }

private:
    QGroupBox* Group_;
    bool Icons_;
    QGridLayout* Grid_;
    int Row_ = 0;
};

QComboBox* List(const char* name, const QStringList& items, QWidget* parent) {
    auto* list = new QComboBox(parent);
    Name(list, name);
    list->addItems(items);
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return list;
}

// Selects the item at the position, or nothing when the list has no such item.
void Select(QComboBox* list, int position) {
    list->setCurrentIndex(position >= 0 && position < list->count() ? position : -1);
}

} // namespace

QStringList TFormUlmarPar::DefaultTypeSVCHList() {
    return {QStringLiteral("ППМ-A1"), QStringLiteral("ППМ-A2"), QStringLiteral("ППМ-B1"),
            QStringLiteral("ППМ-B2"), QStringLiteral("ППМ-B3"), QStringLiteral("ППМ-C1"),
            QStringLiteral("ППМ-C2")};
}

QStringList TFormUlmarPar::LoadTypeSVCHList() {
    const QString path = JoinPath(ProgramIniDir(), QStringLiteral("TypeSVCH.ini"));
    QByteArray bytes;
    QString reason;
    const TSmallFileRead read = ReadSmallRegularFile(path, TypeSvchFileMaxBytes, bytes, reason);
    if (read == TSmallFileRead::Refused)
        NoteRefusedSettingsFile(FileRefusalText(path, reason));
    if (read != TSmallFileRead::Read)
        return DefaultTypeSVCHList();
    // UTF-8 when the bytes are valid UTF-8, else the Windows code page of older files.
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        QStringDecoder cp1251("windows-1251");
        text = cp1251.isValid() ? QString(cp1251.decode(bytes)) : QString::fromLatin1(bytes);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the line break that ends the last line
    bool anyText = false;
    for (const QString& line : lines)
        anyText = anyText || !line.trimmed().isEmpty();
    return anyText ? lines : DefaultTypeSVCHList();
}

TFormUlmarPar::TFormUlmarPar(TUlmar* ulmar, TWindowContext* context, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Ulmar_(ulmar), Context_(context) {
    setObjectName(QStringLiteral("FormUlmarPar"));
    setWindowTitle(QStringLiteral("Параметры УЛМАР"));
    setWindowIcon(QIcon(ParametersIcon()));
    setAttribute(Qt::WA_DeleteOnClose);
    BuildLayout();
    resize(719, 436);
    InstallEscClose(this);
    LoadWindowPosition(this);
    cmbTypeSVCH->clear();
    cmbTypeSVCH->addItems(LoadTypeSVCHList());
}

TFormUlmarPar::~TFormUlmarPar() = default;

void TFormUlmarPar::BuildLayout() {
    using S = TActionLabel::TStyle;
    // A value label named "lbl" + the row's stem, running the row's Change action; its value
    // is shown as the parameter table says.
    const auto value = [this](TParamId id, S style, QWidget* parent) {
        const TParamRow& row = ParamRow(id);
        const QString action = ParamActionName(row, VerbChange);
        auto* label =
            new TActionLabel(Context_ ? Context_->Action(action) : nullptr, style, parent);
        label->setObjectName(QStringLiteral("lbl") + QLatin1String(row.Stem));
        Values_.push_back({label, id});
        return label;
    };
    auto link = [&value](TParamId id, QWidget* parent) { return value(id, S::Link, parent); };

    auto* root = new QVBoxLayout(this);
    root->setSizeConstraint(QLayout::SetFixedSize); // the window follows its visible groups
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right);
    root->addLayout(columns);

    grbSignature = new QGroupBox(QStringLiteral("Сигнатура"), this);
    Name(grbSignature, "grbSignature");
    {
        TRows rows(grbSignature, false);
        lblHardVersion = new QLabel(grbSignature);
        Name(lblHardVersion, "lblHardVersion");
        Values_.push_back({lblHardVersion, TParamId::HardVersion});
        lblHardVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        rows.Add(Caption(TParamId::HardVersion), lblHardVersion);
        lblSoftVersion = new QLabel(grbSignature);
        Name(lblSoftVersion, "lblSoftVersion");
        Values_.push_back({lblSoftVersion, TParamId::SoftVersion});
        lblSoftVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        rows.Add(Caption(TParamId::SoftVersion), lblSoftVersion);
        lblPlantNumber = value(TParamId::PlantNumber, S::Black, grbSignature);
        rows.Add(Caption(TParamId::PlantNumber), lblPlantNumber);
        lblSystemAddress = link(TParamId::SystemAddress, grbSignature);
        rows.Add(Caption(TParamId::SystemAddress), lblSystemAddress);
    }
    left->addWidget(grbSignature);

    grbDist = new QGroupBox(QStringLiteral("Установочные параметры резервуара"), this);
    Name(grbDist, "grbDist");
    {
        TRows rows(grbDist, true);
        lblDist1 = link(TParamId::Dist1, grbDist);
        rows.Add(Caption(TParamId::Dist1), lblDist1);
        lblDist2 = link(TParamId::Dist2, grbDist);
        rows.Add(Caption(TParamId::Dist2), lblDist2);
    }
    left->addWidget(grbDist);

    grbRelay = new QGroupBox(QStringLiteral("Параметры реле"), this);
    Name(grbRelay, "grbRelay");
    {
        TRows rows(grbRelay, false);
        auto* head1 = new QLabel(QStringLiteral("1"), grbRelay);
        auto* head2 = new QLabel(QStringLiteral("2"), grbRelay);
        head1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        head2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        rows.Grid()->addWidget(head1, 0, 2);
        rows.Grid()->addWidget(head2, 0, 3);
        rows.Grid()->setColumnMinimumWidth(2, 60);
        rows.Grid()->setColumnMinimumWidth(3, 60);
        rows.AddWidget(new QWidget(grbRelay)); // the row of the column heads
        lblRelay1Ust1 = link(TParamId::Relay1Ust1, grbRelay);
        lblRelay2Ust1 = link(TParamId::Relay2Ust1, grbRelay);
        rows.Add(Caption(TParamId::Relay1Ust1), lblRelay1Ust1, lblRelay2Ust1);
        lblRelay1Ust2 = link(TParamId::Relay1Ust2, grbRelay);
        lblRelay2Ust2 = link(TParamId::Relay2Ust2, grbRelay);
        rows.Add(Caption(TParamId::Relay1Ust2), lblRelay1Ust2, lblRelay2Ust2);
    }
    left->addWidget(grbRelay);

    grbPar = new QGroupBox(QStringLiteral("Параметры"), this);
    Name(grbPar, "grbPar");
    {
        TRows rows(grbPar, true);
        lblKKalman = link(TParamId::KKalman, grbPar);
        rows.Add(Caption(TParamId::KKalman), lblKKalman);
        lblSpeed = link(TParamId::Speed, grbPar);
        rows.Add(Caption(TParamId::Speed), lblSpeed);
        lblUserPsw = link(TParamId::UserPsw, grbPar);
        rows.Add(Caption(TParamId::UserPsw), lblUserPsw);
    }
    left->addWidget(grbPar);

    grbMode = new QGroupBox(QStringLiteral("Режимы"), this);
    Name(grbMode, "grbMode");
    {
        TRows rows(grbMode, true);
        cmbModeImage =
            List("cmbModeImage",
                 {QStringLiteral("Текущее расстояние"), QStringLiteral("Текущий уровень"),
                  QStringLiteral("Свободное пространство"), QStringLiteral("Текущий объем")},
                 grbMode);
        rows.Add(Caption(TParamId::ModeImage), cmbModeImage);
        cmbModeCurrentOutput = List(
            "cmbModeCurrentOutput",
            {QStringLiteral("0...5 mА"), QStringLiteral("4...20 mА"), QStringLiteral("0...20 mА")},
            grbMode);
        rows.Add(Caption(TParamId::ModeCurrentOutput), cmbModeCurrentOutput);
        cmbProgramType = List("cmbProgramType",
                              {QStringLiteral("УЛМАР-10"), QStringLiteral("УЛМАР-20")}, grbMode);
        lblProgramType = new QLabel(grbMode);
        Name(lblProgramType, "lblProgramType");
        lblProgramType->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // The list and the plain label share one cell; Refresh shows one of them.
        auto* cell = new QWidget(grbMode);
        auto* cellLayout = new QHBoxLayout(cell);
        cellLayout->setContentsMargins(0, 0, 0, 0);
        cellLayout->addWidget(cmbProgramType);
        cellLayout->addWidget(lblProgramType);
        rows.Add(Caption(TParamId::ProgramType), cell);
    }
    left->addWidget(grbMode);
    left->addStretch(1);

    grbParKalibr = new QGroupBox(QStringLiteral("Параметры заводские"), this);
    Name(grbParKalibr, "grbParKalibr");
    {
        TRows rows(grbParKalibr, true);
        lblKrPer = link(TParamId::KrPer, grbParKalibr);
        rows.Add(Caption(TParamId::KrPer), lblKrPer);
        lblSmPer = link(TParamId::SmPer, grbParKalibr);
        rows.Add(Caption(TParamId::SmPer), lblSmPer);
        rows.AddWidget(HLine(grbParKalibr));
        auto* heading = new QLabel(QStringLiteral("Опорный канал"), grbParKalibr);
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
        rows.AddWidget(heading);
        lblKrPerOpCh = link(TParamId::KrPerOpCh, grbParKalibr);
        rows.Add(Caption(TParamId::KrPerOpCh), lblKrPerOpCh);
        lblSmPerOpCh = link(TParamId::SmPerOpCh, grbParKalibr);
        rows.Add(Caption(TParamId::SmPerOpCh), lblSmPerOpCh);
        rows.AddWidget(HLine(grbParKalibr));
        lblFreqCalibr = link(TParamId::FreqCalibr, grbParKalibr);
        rows.Add(Caption(TParamId::FreqCalibr), lblFreqCalibr);
        rows.AddWidget(HLine(grbParKalibr));
        lblKKK1 = link(TParamId::KKK1, grbParKalibr);
        rows.Add(Caption(TParamId::KKK1), lblKKK1);
        lblKKK2 = link(TParamId::KKK2, grbParKalibr);
        rows.Add(Caption(TParamId::KKK2), lblKKK2);
        lblKKK3 = link(TParamId::KKK3, grbParKalibr);
        rows.Add(Caption(TParamId::KKK3), lblKKK3);
        rows.AddWidget(HLine(grbParKalibr));
        lblTemperCompareTermostat = link(TParamId::TemperCompareTermostat, grbParKalibr);
        lblTemperCompareTermostatTitle =
            rows.Add(Caption(TParamId::TemperCompareTermostat), lblTemperCompareTermostat, nullptr,
                     &imgTemperCompareTermostat);
        Name(lblTemperCompareTermostatTitle, "lblTemperCompareTermostatTitle");
        Name(imgTemperCompareTermostat, "imgTemperCompareTermostat");
        lblLevelKalibr = link(TParamId::LevelKalibr, grbParKalibr);
        rows.Add(Caption(TParamId::LevelKalibr), lblLevelKalibr);
    }
    right->addWidget(grbParKalibr);

    grbModePlants = new QGroupBox(QStringLiteral("Режимы заводские"), this);
    Name(grbModePlants, "grbModePlants");
    {
        TRows rows(grbModePlants, true);
        cmbModeProcessing =
            List("cmbModeProcessing", {QStringLiteral("Стандартный обработчик")}, grbModePlants);
        rows.Add(Caption(TParamId::ModeProcessing), cmbModeProcessing);
        cmbModeInputFilter =
            List("cmbModeInputFilter", {QStringLiteral("Включен"), QStringLiteral("Выключен")},
                 grbModePlants);
        rows.Add(Caption(TParamId::ModeInputFilter), cmbModeInputFilter);
        cmbModeChannel = List(
            "cmbModeChannel",
            {QStringLiteral("Со следящим фильтром"), QStringLiteral("С усилителем ограничителем")},
            grbModePlants);
        rows.Add(Caption(TParamId::ModeChannel), cmbModeChannel);
        cmbModeCalibr =
            List("cmbModeCalibr",
                 {QStringLiteral("По линейному закону"), QStringLiteral("По квадратичному закону")},
                 grbModePlants);
        rows.Add(Caption(TParamId::ModeCalibr), cmbModeCalibr);
        cmbModeTermostat =
            List("cmbModeTermostat", {QStringLiteral("Выключен"), QStringLiteral("Включен")},
                 grbModePlants);
        rows.Add(Caption(TParamId::ModeTermostat), cmbModeTermostat);
    }
    right->addWidget(grbModePlants);
    right->addStretch(1);

    grbSVCH = new QGroupBox(QStringLiteral("СВЧ модуль"), this);
    Name(grbSVCH, "grbSVCH");
    {
        TRows rows(grbSVCH, false);
        lblPlantNumberSVCH = link(TParamId::PlantNumberSVCH, grbSVCH);
        rows.Add(Caption(TParamId::PlantNumberSVCH), lblPlantNumberSVCH);
        cmbTypeSVCH = List("cmbTypeSVCH", {}, grbSVCH);
        rows.Add(Caption(TParamId::TypeSVCH), cmbTypeSVCH);
    }
    root->addWidget(grbSVCH);

    for (QComboBox* list :
         {cmbModeProcessing, cmbModeInputFilter, cmbModeChannel, cmbModeCalibr, cmbModeTermostat,
          cmbModeImage, cmbModeCurrentOutput, cmbProgramType, cmbTypeSVCH}) {
        connect(list, &QComboBox::activated, this,
                [this, list](int index) { ListChosen(list, index); });
    }
}

void TFormUlmarPar::ListChosen(QComboBox* list, int index) {
    if (!Ulmar_ || index < 0 || index > 255)
        return;
    const auto code = static_cast<quint8>(index);
    // The field changes between two exchanges of a running poll cycle, never inside one.
    const auto choose = [&](TUlmar& u) {
        if (list == cmbModeProcessing)
            u.ModeProcessing = code;
        else if (list == cmbModeInputFilter)
            u.ModeInputFilter = code;
        else if (list == cmbModeChannel)
            u.ModeChannel = code;
        else if (list == cmbModeCalibr)
            u.ModeCalibr = code;
        else if (list == cmbModeTermostat)
            u.ModeTermostat = code;
        else if (list == cmbModeImage)
            u.ModeImage = static_cast<quint8>(index + 1);
        else if (list == cmbModeCurrentOutput)
            u.ModeCurrentOutput = code;
        else if (list == cmbProgramType)
            u.ProgramType = code;
        else if (list == cmbTypeSVCH)
            u.TypeSVCH = code;
    };
    if (Context_)
        Context_->EditDevice(*Ulmar_, choose);
    else
        choose(*Ulmar_);
    // Without a main window (nothing to refresh the windows) this window still shows the choice.
    if (!Context_ || !Context_->RequestRefresh())
        Refresh();
}

void TFormUlmarPar::Refresh() {
    if (!Ulmar_)
        return;
    const TUlmar& u = *Ulmar_;
    const bool factory = Context_ && Context_->FactoryMode;
    grbParKalibr->setVisible(factory);
    grbModePlants->setVisible(factory);
    grbSVCH->setVisible(factory);

    for (const auto& [label, id] : Values_)
        label->setText(ValueText(u, ParamRow(id)));
    lblProgramType->setText(u.ProgramTypeText());

    const bool thermostat = u.ProgramType == 1;
    lblTemperCompareTermostatTitle->setEnabled(thermostat);
    lblTemperCompareTermostat->setEnabled(thermostat);
    imgTemperCompareTermostat->setEnabled(thermostat);

    Select(cmbModeProcessing, u.ModeProcessing);
    Select(cmbModeInputFilter, u.ModeInputFilter);
    Select(cmbModeChannel, u.ModeChannel);
    Select(cmbModeCalibr, u.ModeCalibr);
    Select(cmbModeTermostat, u.ModeTermostat);
    Select(cmbModeImage, u.ModeImage - 1);
    Select(cmbModeCurrentOutput, u.ModeCurrentOutput);
    Select(cmbProgramType, u.ProgramType);
    Select(cmbTypeSVCH, u.TypeSVCH);

    cmbProgramType->setVisible(factory);
    lblProgramType->setVisible(!factory);

    const bool stopped = PollingStopped(Context_ ? Context_->Link() : nullptr);
    for (QComboBox* list : {cmbModeProcessing, cmbModeImage, cmbModeCurrentOutput, cmbModeChannel,
                            cmbProgramType, cmbModeInputFilter, cmbModeTermostat, cmbModeCalibr})
        list->setEnabled(stopped);
}

void TFormUlmarPar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
}

void TFormUlmarPar::closeEvent(QCloseEvent* event) {
    SaveWindowPosition(this);
    event->accept();
    emit Closed();
}

int ShowFormUlmarPar(TWindowSlot<TFormUlmarPar>& slot, TUlmar* ulmar, TWindowContext* context) {
    if (!slot) {
        if (!ulmar)
            return -1;
        auto* form = new TFormUlmarPar(ulmar, context);
        FollowRefresh(context, form);
        slot.Set(form);
    }
    slot->show();
    return 0;
}
