// Device object: construction, setters with ranges, the zero array, the tare table and the
// run-test table.

#include "Ulmar.h"
#include "uFrame.h"
#include <algorithm>
#include <cmath>

namespace {

std::unique_ptr<TIODouble> MakeDouble(const QString& title, const QString& hint,
                                      const QString& dimension, double min, double max,
                                      std::uint8_t digits) {
    auto value = std::make_unique<TIODouble>();
    TDescriptionOfDouble* d = value->Description();
    d->Title = title;
    d->Hint = hint;
    d->Dimension = dimension;
    d->SetRange(min, max);
    d->Precision = 9;
    d->Digits = digits;
    return value;
}

std::unique_ptr<TIOThreeStates> MakeThreeStates(const QString& title, const QString& hint,
                                                const QString& unknown, const QString& off,
                                                const QString& on) {
    auto value = std::make_unique<TIOThreeStates>();
    TDescriptionOfThreeStates* d = value->Description();
    d->Title = title;
    d->Hint = hint;
    d->SetCaptions(unknown, off, on);
    return value;
}

bool InClosedRange(double x, double low, double high) {
    return x >= low && x <= high;
}

} // namespace

TUlmar::TUlmar() {
    EnabledState =
        MakeThreeStates(QStringLiteral("Используется"), QStringLiteral("Используется"),
                        QStringLiteral("Не известно"), QStringLiteral("Да"), QStringLiteral("Нет"));
    EnabledState->Description()->SetColors1(clBlack, clBlack, clBlack);
    EnabledState->Description()->SetColors2(clBtnFace, clBtnFace, clBtnFace);
    LinkState = MakeThreeStates(QStringLiteral("Ошибка"), QStringLiteral("Ошибка обмена"),
                                QStringLiteral("Не известно"), QStringLiteral("Ошибка"),
                                QStringLiteral("Норма"));
    Description = std::make_unique<TDescriptionOfValue>();
    Description->Title = QStringLiteral("УЛМАР-20");
    Description->Hint = QStringLiteral("УЛМАР-20");

    const QString mm = QStringLiteral("мм");
    Level =
        MakeDouble(QStringLiteral("Уровень"), QStringLiteral("Уровень продукта"), mm, 0, 45000, 0);
    LevelFree = MakeDouble(QStringLiteral("Свободное пространство"),
                           QStringLiteral("Свободное пространство емкости"), mm, 0, 45000, 0);
    Distance = MakeDouble(QStringLiteral("Расстояние"), QStringLiteral("Расстояние до продукта"),
                          mm, 0, 45000, 0);
    Volume = MakeDouble(QStringLiteral("Объем"), QStringLiteral("Объем продукта"),
                        QStringLiteral("%"), 0, 100, 2);
    const QString freq = QStringLiteral("Оценка частоты биений");
    Freq = MakeDouble(freq, freq, QString(), 0, 100000, 2);
    const QString freqOpCh = QStringLiteral("Частота  опорного канала");
    FreqOpCh = MakeDouble(freqOpCh, freqOpCh, QString(), 0, 100000, 2);
    const QString temp = QStringLiteral("Температура СВЧ модуля");
    TempSVCH = MakeDouble(temp, temp, QStringLiteral("°C"), -40, 80, 0);
    Relay1 = MakeThreeStates(QStringLiteral("Реле 1"), QStringLiteral("Состояние реле 1"),
                             QStringLiteral("Не известно"), QStringLiteral("Отключено"),
                             QStringLiteral("Включено"));
    Relay2 = MakeThreeStates(QStringLiteral("Реле 2"), QStringLiteral("Состояние реле 2"),
                             QStringLiteral("Не известно"), QStringLiteral("Отключено"),
                             QStringLiteral("Включено"));
    CurrentOutput =
        MakeDouble(QStringLiteral("Ток"), QStringLiteral("Ток"), QStringLiteral("мА"), 0, 20, 2);

    SetEnabled(true);
    ClearZeroArray();
    SetProgonMode(5);
}

TUlmar::~TUlmar() = default;

// --- Enabled ---

// A three-state value turns a Boolean into tsTrue or tsFalse; anything else is not enabled.
bool TUlmar::Enabled() const {
    return EnabledState->State() == tsTrue;
}

void TUlmar::SetEnabled(bool value) {
    EnabledState->SetValue(TVariant::FromBool(value));
}

quint8 TUlmar::LinkStateCode() const {
    return LinkState->State();
}

// --- setters ---

void TUlmar::SetErrorMax(quint16 value) {
    if (value == ErrorMax_)
        return;
    ErrorMax_ = value;
    FailureCount = 0;
}

// Negative and non-finite distances are ignored: they would break the value ranges.
void TUlmar::SetDist1(double value) {
    if (std::isfinite(value) && value >= 0)
        Dist1_ = value;
}

void TUlmar::SetDist2(double value) {
    if (std::isfinite(value) && value >= 0)
        Dist2_ = value;
}

// The run-test table has five rows; other row counts are ignored.
void TUlmar::SetProgonMode(qint32 value) {
    if (value == ProgonMode_ || value < 1 || value > ProgonRowCount)
        return;
    ProgonMode_ = value;
    if (value == 5) {
        FillProgonTemplate();
        ProgonWindow = 300.0;
    }
}

void TUlmar::SetPPCalc(quint16 value) {
    if (value <= 8 || (value >= 1000 && value <= 1008))
        PPCalc_ = value;
}

void TUlmar::SetKKalman(double value) {
    if (InClosedRange(value, 0.0001, 1.0))
        KKalman_ = value;
}

void TUlmar::SetSpeed(double value) {
    if (InClosedRange(value, 0.0, 99.999))
        Speed_ = value;
}

void TUlmar::SetLevelKalibr(double value) {
    if (InClosedRange(value, 0.0, Dist2_))
        LevelKalibr_ = value;
}

// --- outcome of an exchange ---

void TUlmar::SetLinkError(int code, const QString& text) {
    ErrorCode = code;
    ErrorText = text;
    // State 2 of the link state is "failure reported"; its caption carries the failure text.
    LinkState->Description()->SetCaption(static_cast<TThreeStates>(2), text);
    LinkState->SetValue(TVariant::FromByte(2));
}

void TUlmar::UpdateRanges() {
    for (TIODouble* v : {Level.get(), LevelFree.get()}) {
        v->Description()->SetMin(0);
        v->Description()->SetMax(Dist2_);
    }
    Distance->Description()->SetMin(0);
    Distance->Description()->SetMax(Dist1_ + Dist2_);
}

// --- zero array and tare table ---

void TUlmar::ClearZeroArray() {
    ZeroArray.fill(0);
    ZeroArray[0] = 253;
    ZeroArray[2] = 65535;
    ZeroArray[ZeroArraySize - 1] = 65535;
}

void TUlmar::ClearTareTable() {
    const double empty = BytesToFloat(0xFF, 0xFF, 0xFF, 0xFF);
    for (TTarePoint& p : TareTable)
        p = {empty, empty};
}

void TUlmar::LoadTareTable(const std::vector<std::array<double, 2>>& rows) {
    ClearTareTable();
    const std::size_t n = std::min<std::size_t>(rows.size(), TareTable.size());
    for (std::size_t i = 0; i < n; ++i)
        TareTable[i] = {rows[i][0], rows[i][1]};
}

// --- run-test table ---

void TUlmar::FillProgonTemplate() {
    static constexpr double ruletka[] = {1000, 4750, 8500, 12250, 16000};
    static constexpr double sample[] = {15000, 11250, 7500, 3750, 0};
    for (int i = 0; i < ProgonRowCount; ++i) {
        ProgonPoints[i].Ruletka = ruletka[i];
        ProgonPoints[i].Sample = sample[i];
        ProgonPoints[i].Value = sample[i];
        ProgonPoints[i].Taken = false;
    }
    RecalcProgonCurrents();
    for (TProgonPoint& p : ProgonPoints)
        p.CurrentValue = 0.0;
    RecalcProgon();
}

// With dist.2 at 0 there is no current scale: the reference currents keep their values. A
// quotient that is no finite number (dist.2 so small that it overflows, a level that is not a
// number) is not stored either, so the grid and the report never show an infinity.
void TUlmar::RecalcProgonCurrents() {
    if (Dist2_ == 0.0)
        return;
    for (TProgonPoint& p : ProgonPoints)
        if (const double current = p.Sample * 20.0 / Dist2_; std::isfinite(current))
            p.CurrentSample = current;
}

void TUlmar::RecalcProgon() {
    const int rows = std::min<int>(ProgonMode_, ProgonRowCount);
    for (int i = 0; i < rows; ++i) {
        TProgonPoint& p = ProgonPoints[i];
        p.dValue = p.Sample - p.Value;
        if (Dist2_ != 0.0)
            if (const double current = p.Value * 20.0 / Dist2_; std::isfinite(current))
                p.CurrentSample = current;
        p.dCurrentValue = p.CurrentSample - p.CurrentValue;
    }
}

namespace {

void CopyValue(const TIOData& from, TIOData& to) {
    to.SetValue(from.GetInValue(), from.ValueTime());
}

} // namespace

void CopyGaugeState(const TUlmar& from, TUlmar& to) {
    if (&from == &to)
        return;
    to.UnitType = from.UnitType;
    to.PlantNumber = from.PlantNumber;
    to.HardVersion = from.HardVersion;
    to.SoftVersion = from.SoftVersion;
    to.Usil = from.Usil;
    to.FailureCount = from.FailureCount;
    to.ErrorCode = from.ErrorCode;
    to.ErrorText = from.ErrorText;
    to.Dist1_ = from.Dist1_;
    to.Dist2_ = from.Dist2_;
    to.PPCalc_ = from.PPCalc_;
    to.KKalman_ = from.KKalman_;
    to.Speed_ = from.Speed_;
    to.LevelKalibr_ = from.LevelKalibr_;
    to.KrPer = from.KrPer;
    to.SmPer = from.SmPer;
    to.KrPerOpCh = from.KrPerOpCh;
    to.SmPerOpCh = from.SmPerOpCh;
    to.TareTable = from.TareTable;
    to.Relay1Ust1 = from.Relay1Ust1;
    to.Relay1Ust2 = from.Relay1Ust2;
    to.Relay2Ust1 = from.Relay2Ust1;
    to.Relay2Ust2 = from.Relay2Ust2;
    to.UserPsw = from.UserPsw;
    to.ModeProcessing = from.ModeProcessing;
    to.ModeImage = from.ModeImage;
    to.TemperCompareTermostat = from.TemperCompareTermostat;
    to.ModeCurrentOutput = from.ModeCurrentOutput;
    to.ModeChannel = from.ModeChannel;
    to.ProgramType = from.ProgramType;
    to.TemperTermostat = from.TemperTermostat;
    to.ModeInputFilter = from.ModeInputFilter;
    to.ModeTermostat = from.ModeTermostat;
    to.ModeCalibr = from.ModeCalibr;
    to.TypeSVCH = from.TypeSVCH;
    to.PlantNumberSVCH = from.PlantNumberSVCH;
    to.ZeroArray = from.ZeroArray;
    to.ZeroBlock = from.ZeroBlock;
    to.FreqCalibr = from.FreqCalibr;
    to.kkk1 = from.kkk1;
    to.kkk2 = from.kkk2;
    to.kkk3 = from.kkk3;
    to.PPM = from.PPM;
    to.NNZ = from.NNZ;
    for (auto [source, target] : {std::pair{from.Level.get(), to.Level.get()},
                                  {from.LevelFree.get(), to.LevelFree.get()},
                                  {from.Distance.get(), to.Distance.get()},
                                  {from.Volume.get(), to.Volume.get()},
                                  {from.Freq.get(), to.Freq.get()},
                                  {from.FreqOpCh.get(), to.FreqOpCh.get()},
                                  {from.TempSVCH.get(), to.TempSVCH.get()}})
        CopyValue(*source, *target);
    CopyValue(*from.Relay1, *to.Relay1);
    CopyValue(*from.Relay2, *to.Relay2);
    CopyValue(*from.LinkState, *to.LinkState);
    to.UpdateRanges();
}
