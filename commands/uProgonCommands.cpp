#include "uProgonCommands.h"
#include "Ulmar.h"
#include "uRequestDevices.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const QString LineBreak = QStringLiteral("\n");

// Decimals of the value columns in the grid.
constexpr int ColumnDecimals[ProgonColumnCount] = {0, 0, 3, 3, 2, 2, 3};

int RowCount(const TUlmar& u) {
    return std::clamp<int>(u.ProgonMode(), 0, TUlmar::ProgonRowCount);
}

double PointValue(const TProgonPoint& p, int column) {
    switch (column) {
    case ProgonColRuletka:
        return p.Ruletka;
    case ProgonColValue:
        return p.Value;
    case ProgonColDValue:
        return p.dValue;
    case ProgonColCurrentSample:
        return p.CurrentSample;
    case ProgonColCurrentValue:
        return p.CurrentValue;
    case ProgonColDCurrentValue:
        return p.dCurrentValue;
    default:
        return 0.0;
    }
}

// The command layer's face for the steps of a sequence: everything goes through to the
// window's, except the warnings of the single steps, which the sequence gathers into one
// message of its own.
class TGatheringUi : public ICommandUi {
public:
    // Without `inform` the information boxes (the signature's) are not shown either.
    explicit TGatheringUi(ICommandUi& inner, bool inform = true) : Inner_(inner), Inform_(inform) {}
    void Progress(const QString& text, int position, int total) override {
        Inner_.Progress(text, position, total);
    }
    void ProgressDone() override { Inner_.ProgressDone(); }
    void Warn(const QString&) override {}
    bool Ask(const QString& text) override { return Inner_.Ask(text); }
    void Inform(const QString& caption, const QString& text) override {
        if (Inform_)
            Inner_.Inform(caption, text);
    }
    void Refresh() override { Inner_.Refresh(); }
    bool Closing() const override { return Inner_.Closing(); }
    bool CommitDeferred() const override { return Inner_.CommitDeferred(); }
    void SetCommitDeferred(bool deferred) override { Inner_.SetCommitDeferred(deferred); }

private:
    ICommandUi& Inner_;
    bool Inform_;
};

} // namespace

// --- the grid ---

QStringList ProgonHeaders() {
    return {QStringLiteral("№"),           QStringLiteral("Рулетка, мм"),
            QStringLiteral("Уровень, мм"), QStringLiteral("d Уровень, мм"),
            QStringLiteral("Ток, мА"),     QStringLiteral("Изм.Ток, мА"),
            QStringLiteral("d Ток, мА")};
}

int CurrentProgonRow(const TUlmar& u, double level) {
    if (!std::isfinite(level))
        return 0;
    for (int r = 1; r <= RowCount(u); ++r) {
        const double sample = u.ProgonPoints[static_cast<std::size_t>(r - 1)].Sample;
        if (sample - u.ProgonWindow <= level && level <= sample + u.ProgonWindow)
            return r;
    }
    return 0;
}

TProgonCellLook ProgonCellLook(const TUlmar& u, double level, int row, int column) {
    TProgonCellLook look;
    if (row < 1 || row > RowCount(u))
        return look;
    const TProgonPoint& p = u.ProgonPoints[static_cast<std::size_t>(row - 1)];
    if (row == CurrentProgonRow(u, level)) {
        look.Bold = true;
        const double d = std::fabs(level - p.Sample);
        if (d < 50)
            look.Background = TProgonShade::Green;
        else if (d < 100)
            look.Background = TProgonShade::Yellow;
    }
    // A current off by more than the tolerance either way is marked.
    if (column == ProgonColDCurrentValue && std::fabs(p.dCurrentValue) > ProgonCurrentTolerance)
        look.Background = TProgonShade::Red;
    return look;
}

QString ProgonCellText(const TUlmar& u, int row, int column) {
    if (row < 1 || row > RowCount(u) || column < 0 || column >= ProgonColumnCount)
        return {};
    if (column == ProgonColNumber)
        return QString::number(row);
    const double value = PointValue(u.ProgonPoints[static_cast<std::size_t>(row - 1)], column);
    if (!std::isfinite(value))
        return {};
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', ColumnDecimals[column]);
}

QString ProgonButtonCaption(double levelFree, double level, double current, const QLocale& locale) {
    return QStringLiteral("Установить") + LineBreak + LineBreak + QStringLiteral("Св.пр-во, мм ") +
           LineBreak + locale.toString(levelFree, 'f', 1) + LineBreak +
           QStringLiteral("Уровень, мм") + LineBreak + locale.toString(level, 'f', 1) + LineBreak +
           QStringLiteral("Ток, мА") + LineBreak + locale.toString(current, 'f', 2);
}

// --- commands ---

TProgonCommands::TProgonCommands(TGaugeCommands& commands, IPollControl& poll)
    : Commands_(commands), Poll_(poll) {}

int TProgonCommands::FreshnessLimitMs() const {
    const TDeviceLink* link = Commands_.Link();
    if (!link)
        return 0;
    const long long interval = link->Poller()->Interval();
    const long long exchange = link->LongestExchangeMs();
    const long long gaugeExchanges =
        std::max<long long>(1, static_cast<long long>(link->SelectedCommands.Codes().size()));
    // The devices are polled in turn, one a tick: a reading comes back once every device has
    // had its cycle.
    long long period = 0;
    for (const auto& device : link->Poller()->DeviceList)
        if (device && device->Enabled)
            period += interval + (device->Kind == 0 ? gaugeExchanges : 1) * exchange;
    if (period == 0)
        period = interval + exchange;
    return static_cast<int>(std::min<long long>(2 * period, INT_MAX));
}

QString TProgonCommands::Refusal(TSetPointEnd* end) const {
    const auto refuse = [end](TSetPointEnd why, const QString& text) {
        if (end)
            *end = why;
        return text;
    };
    const TUlmar* u = Commands_.Ulmar();
    if (!u || !Poll_.PollingRunning())
        return refuse(TSetPointEnd::PollingOff,
                      QStringLiteral("Точка не записана: опрос не запущен."));
    if (u->LinkStateCode() != 1) {
        // The line it is listened for on: a wrong port or rate is the usual cause.
        const TDeviceLink* link = Commands_.Link();
        const TTransmitter* t = link ? link->Transmitter() : nullptr;
        return refuse(TSetPointEnd::LinkDown,
                      QStringLiteral("Точка не записана: прибор не отвечает") +
                          (t ? QStringLiteral(" (") + t->Settings().LineText() + QStringLiteral(")")
                             : QString()) +
                          QStringLiteral("."));
    }
    const int limitMs = FreshnessLimitMs();
    const TDateTime now = NowDateTime();
    // A time stamp ahead of the clock (the clock was set back) is no fresher than one behind.
    const auto stale = [&](const TIOData& value) {
        return std::fabs(now - value.ValueTime()) * 86400000.0 > limitMs;
    };
    const QString limit = QString::number(limitMs);
    if (stale(*u->Level))
        return refuse(TSetPointEnd::Stale,
                      QStringLiteral("Точка не записана: уровень не обновлялся дольше ") + limit +
                          QStringLiteral(" мс."));
    if (stale(*u->CurrentOutput))
        return refuse(TSetPointEnd::Stale,
                      QStringLiteral("Точка не записана: ток не обновлялся дольше ") + limit +
                          QStringLiteral(" мс."));
    if (end)
        *end = TSetPointEnd::Recorded;
    return {};
}

TSetPointResult TProgonCommands::SetPoint() {
    TSetPointResult result;
    result.Message = Refusal(&result.End);
    if (!result.Message.isEmpty())
        return result;
    const TUlmar* u = Commands_.Ulmar();
    const double level = u->Level->AsDouble();
    const double current = u->CurrentOutput->AsDouble();
    const int row = CurrentProgonRow(*u, level);
    result.End = TSetPointEnd::NoRow;
    if (row < 1 || row > TUlmar::ProgonRowCount)
        return result;
    const bool recorded = Commands_.Edit([&](TUlmar& device) {
        TProgonPoint& p = device.ProgonPoints[static_cast<std::size_t>(row - 1)];
        p.Value = level;
        p.CurrentValue = current;
        p.Taken = true;
        device.RecalcProgon();
    });
    if (!recorded)
        return result;
    result.End = TSetPointEnd::Recorded;
    result.Row = row;
    Commands_.Ui().Refresh();
    if (row == TUlmar::ProgonRowCount) {
        result.StopAsked = true;
        if (Commands_.Ui().Ask(QStringLiteral("Остановить прогон?"))) {
            Stop();
            result.StopRan = true;
        }
    }
    return result;
}

bool TProgonCommands::CreateTemplate() {
    if (!Commands_.Ui().Ask(QStringLiteral("Создать шаблон прогона?")))
        return false;
    const bool filled = Commands_.Edit([](TUlmar& u) { u.FillProgonTemplate(); });
    Commands_.Ui().Refresh();
    return filled;
}

bool TProgonCommands::ChangeRuletka(int row, std::optional<double> ruletka) {
    if (!ruletka || !std::isfinite(*ruletka) || *ruletka < 0 || *ruletka > 20000)
        return false;
    const TUlmar* u = Commands_.Ulmar();
    if (!u || row < 1 || row > RowCount(*u))
        return false;
    const bool changed = Commands_.Edit([row, value = *ruletka](TUlmar& device) {
        TProgonPoint& p = device.ProgonPoints[static_cast<std::size_t>(row - 1)];
        p.Ruletka = value;
        p.Sample = device.Dist2() + device.Dist1() - value;
        p.Value = p.Sample;
        p.Taken = false;
        device.RecalcProgonCurrents();
        // The differences stay those of the last "Установить" until the next one.
    });
    Commands_.Ui().Refresh();
    return changed;
}

QString TProgonCommands::SignatureFailureText() {
    return QStringLiteral("Сигнатура прибора не считана: в отчете прогона заводской номер и "
                          "версии прежние.");
}

QString TProgonCommands::FailureText(const QStringList& failed) {
    return QStringLiteral("Прогон: не выполнены команды:") + LineBreak + failed.join(LineBreak) +
           LineBreak + QStringLiteral("Параметры в ПЗУ не сохранены.");
}

TProgonRunReport TProgonCommands::Start() {
    return Run(ProgonRunConfig, true);
}

TProgonRunReport TProgonCommands::Stop() {
    return Run(ProgonWorkConfig, false);
}

TProgonRunReport TProgonCommands::Run(const TProgonConfig& config, bool offerTemplate) {
    TProgonRunReport report;
    ICommandUi& ui = Commands_.Ui();
    TPollingPause pause(Poll_);
    report.PollingWasRunning = pause.WasRunning();

    // A run starts with the gauge's signature, so that its report names the gauge: plant number
    // and versions. Its failure is told with the others; the run goes on.
    if (offerTemplate) {
        TGatheringUi quiet(ui, false);
        TGaugeCommands signature(Commands_.Link(), quiet);
        report.SignatureRead = signature.ReadSignature() == TOutcome::Accepted;
        if (ui.Closing()) {
            report.Stopped = true;
            ui.Refresh();
            return report;
        }
    }

    // dist.1 and dist.2 of the configuration before the template, so that its reference
    // currents are those of this run.
    Commands_.Edit([&config](TUlmar& u) {
        u.SetDist1(config.Dist1);
        u.SetDist2(config.Dist2);
    });
    if (offerTemplate && ui.Ask(QStringLiteral("Создать шаблон прогона?")))
        report.TemplateFilled = Commands_.Edit([](TUlmar& u) { u.FillProgonTemplate(); });
    Commands_.Edit([&config](TUlmar& u) {
        u.ModeCurrentOutput = config.ModeCurrentOutput;
        u.ModeImage = config.ModeImage;
        u.UpdateRanges();
    });
    ui.Refresh();

    // The writes, each with its repeats; their own failure messages give way to one list.
    TGatheringUi gathering(ui);
    TGaugeCommands steps(Commands_.Link(), gathering);
    const bool deferred = ui.CommitDeferred();
    ui.SetCommitDeferred(true);
    for (const TParamId id :
         {TParamId::Dist1, TParamId::Dist2, TParamId::ModeCurrentOutput, TParamId::ModeImage}) {
        const TParamRow& row = ParamRow(id);
        if (steps.WriteParam(row) != TOutcome::Accepted)
            report.Failed << WriteHint(row);
        if (ui.Closing()) {
            report.Stopped = true;
            break;
        }
    }
    ui.SetCommitDeferred(deferred);
    // Half a configuration is never saved: the commit only after every write took.
    if (!report.Stopped && report.Failed.isEmpty() && !deferred) {
        report.Committed = steps.Commit() == TOutcome::Accepted;
        if (!report.Committed)
            report.Failed << CommandHint(TCommandId::WriteToPZU);
    }
    ui.Refresh();
    if (report.Stopped)
        return report;
    if (!report.Failed.isEmpty())
        ui.Warn(FailureText(report.Failed) +
                (report.SignatureRead ? QString() : LineBreak + SignatureFailureText()));
    else if (!report.SignatureRead)
        ui.Warn(SignatureFailureText());
    return report;
}
