#include "uTareCommands.h"
#include "Ulmar.h"
#include "uCommandTable.h"
#include "uFrame.h"
#include "uTara.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

namespace {

const QString LineBreak = QStringLiteral("\n");
const QString TareReadHint = QStringLiteral("Считать тарировочную таблицу из прибора");
const QString TareWriteHint = QStringLiteral("Записать тарировочную таблицу в прибор");

constexpr int Attempts = 5;
constexpr int TareReadAnswer = 0xA5;
constexpr int TareWriteAnswer = 0xA6;
constexpr int RomSaveAnswer = 0xA2;

using TSingle = std::array<quint8, 4>;

// A point as the frame carries it: the single of the level, or of the volume × 100; an empty
// point (NaN) as FF FF FF FF.
TSingle Stored(double x, double scale) {
    if (std::isnan(x))
        return {0xFF, 0xFF, 0xFF, 0xFF};
    return FloatToBytes(x * scale);
}

// A stored single as the number it stands for (divided by 10^scaleDigits), with as many digits
// as tell that single from its neighbours and no more.
QString StoredText(const TSingle& s, int scaleDigits, const QLocale& locale) {
    if (s == TSingle{0xFF, 0xFF, 0xFF, 0xFF})
        return QStringLiteral("пусто");
    const float x = BytesToFloat(s[0], s[1], s[2], s[3]);
    if (!std::isfinite(x))
        return QStringLiteral("не число");
    // The shortest form that reads back to the same single, as d.ddde±x: its digits and
    // exponent give the decimals to show.
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, x, std::chars_format::scientific);
    const std::string_view shortest(text, std::size_t(end.ptr - text));
    const std::size_t e = shortest.find('e');
    int exponent = 0;
    std::from_chars(shortest.data() + e + 1 + (shortest[e + 1] == '+'),
                    shortest.data() + shortest.size(), exponent);
    const std::string_view mantissa = shortest.substr(0, e);
    const int digits = int(std::count_if(mantissa.begin(), mantissa.end(),
                                         [](char c) { return c >= '0' && c <= '9'; }));
    const int decimals = std::max(0, digits - 1 - (exponent - scaleDigits));
    return locale.toString(double(x) / std::pow(10.0, scaleDigits), 'f', decimals);
}

} // namespace

QString TareMismatchText(const TTareMismatch& m, const QLocale& locale) {
    const int scaleDigits = m.Volume ? 2 : 0;
    const QString unit = m.Volume ? QStringLiteral(" %") : QString();
    return QStringLiteral("Точка %1: %2 записан %3, считан %4")
        .arg(m.Point)
        .arg(m.Volume ? QStringLiteral("объем") : QStringLiteral("уровень"),
             StoredText(m.Sent, scaleDigits, locale) + unit,
             StoredText(m.Got, scaleDigits, locale) + unit);
}

QString TareMismatchSummary(const std::vector<TTareMismatch>& mismatches, const QLocale& locale,
                            int shown) {
    std::vector<int> points;
    for (const TTareMismatch& m : mismatches)
        if (points.empty() || points.back() != m.Point)
            points.push_back(m.Point);
    QStringList lines;
    lines << QStringLiteral("Не совпадают точек: %1 из %2")
                 .arg(points.size())
                 .arg(TUlmar::TarePointCount);
    const int count = int(mismatches.size());
    for (int i = 0; i < std::min(count, shown); ++i)
        lines << TareMismatchText(mismatches[std::size_t(i)], locale);
    if (count > shown)
        lines << QStringLiteral("и еще расхождений: %1 (весь список в подробностях)")
                     .arg(count - shown);
    return lines.join(LineBreak);
}

QString TareMismatchList(const std::vector<TTareMismatch>& mismatches, const QLocale& locale) {
    QStringList lines;
    for (const TTareMismatch& m : mismatches)
        lines << TareMismatchText(m, locale);
    return lines.join(LineBreak);
}

TTareCommands::TTareCommands(TGaugeCommands& commands, IPollControl* poll)
    : Commands_(commands), Poll_(poll) {}

TTareCommands::TStep TTareCommands::Exchange(int code, const QString& hint, int answerCommand) {
    TStep step;
    TDeviceLink* link = Commands_.Link();
    ICommandUi& ui = Commands_.Ui();
    bool answered = false;
    for (int attempt = 1; attempt <= Attempts && !step.Ok; ++attempt) {
        if (ui.Closing())
            break;
        ui.Progress(QStringLiteral("Повтор команды ") + hint, attempt, Attempts);
        TExchangeReport report;
        const int result = link ? link->RequestExecUlmar(code, &report) : -1;
        answered = answered || report.Answered;
        // Only an answer the parser took, of the command asked for, counts: a garbled answer
        // or the answer of another command is a failure.
        step.Ok = result == 0 && report.Accepted && report.AnswerCommand == answerCommand;
    }
    ui.ProgressDone();
    step.NoAnswer = !step.Ok && !answered;
    return step;
}

bool TTareCommands::ReadParts(QString* error, bool* noAnswer) {
    const int codes[2] = {UlmarCmd::TaraLevelRead, UlmarCmd::TaraVolumeRead};
    const QString parts[2] = {QStringLiteral("уровни"), QStringLiteral("объемы")};
    for (int i = 0; i < 2; ++i) {
        const TStep step = Exchange(codes[i], TareReadHint, TareReadAnswer);
        if (!step.Ok) {
            if (error)
                *error = TGaugeCommands::FailureText(TareReadHint) + LineBreak +
                         QStringLiteral("Не считаны ") + parts[i];
            if (noAnswer)
                *noAnswer = step.NoAnswer;
            return false;
        }
    }
    return true;
}

bool TTareCommands::ReadFromGauge(QString* error, bool* noAnswer,
                                  std::optional<quint16>* plantNumber) {
    if (error)
        error->clear();
    if (noAnswer)
        *noAnswer = false;
    if (plantNumber)
        plantNumber->reset();
    std::optional<TPollingPause> pause;
    if (Poll_)
        pause.emplace(*Poll_);
    Commands_.Edit([](TUlmar& u) { u.ClearTareTable(); });
    const bool ok = ReadParts(error, noAnswer);
    if (ok && plantNumber)
        *plantNumber = Commands_.KnownPlantNumber();
    Commands_.Ui().Refresh();
    return ok;
}

TTareCompareResult TTareCommands::CompareWithGauge(const QStringList& lines,
                                                   const QString& tableName) {
    TTareCompareResult result;
    result.Table = tableName;
    TTaraTable table;
    QStringList problems;
    if (tableName.isEmpty() || !ReadTareTable(lines, tableName, table, &problems)) {
        result.Refused = true;
        result.Message =
            tableName.isEmpty()
                ? QStringLiteral("Таблица не выбрана")
                : QStringLiteral("Таблица ") + tableName + QStringLiteral(" не прочитана") +
                      (problems.isEmpty() ? QString() : QStringLiteral(": ") + problems.first());
        return result;
    }
    QString error;
    if (!ReadFromGauge(&error, &result.NoAnswer)) {
        result.Message = error;
        return result;
    }
    TTareRows open;
    for (const TTaraPoint& p : table)
        open.push_back({p.TaraLevel, p.TaraVolume});
    TTareRows gauge;
    Commands_.Edit([&](TUlmar& u) { gauge = GaugeTareRows(u.TareTable); });
    result.Read = true;
    result.Rows = int(open.size());
    result.GaugeRows = int(gauge.size());
    result.Differences = CompareTarePoints(open, gauge);
    // One arg() for all: a table name holding "%2" is not taken for a place holder.
    result.Message =
        result.Differences.empty()
            ? QStringLiteral("Таблица %1 совпадает с таблицей прибора (строк: %2)")
                  .arg(tableName, QString::number(result.Rows))
            : QStringLiteral("Таблица %1 не совпадает с таблицей прибора: строк в таблице %2, в "
                             "приборе %3, различаются %4")
                  .arg(tableName, QString::number(result.Rows), QString::number(result.GaugeRows),
                       QString::number(result.Differences.size()));
    return result;
}

TTareWriteResult TTareCommands::WriteToGauge(const QStringList& lines, const QString& tableName) {
    TTareWriteResult result;
    const QString unfit = TareUnfitForGauge(lines, tableName);
    if (!unfit.isEmpty()) {
        result.Refused = true;
        result.Message = unfit;
        return result;
    }
    TTaraTable table;
    ReadTareTable(lines, tableName, table);
    std::vector<std::array<double, 2>> rows;
    for (const TTaraPoint& p : table)
        rows.push_back({p.TaraLevel, p.TaraVolume});

    // Between two steps: a closing program ends the write, before anything is committed.
    auto stopped = [&] {
        if (!Commands_.Ui().Closing())
            return false;
        result.Stopped = true;
        result.Message = QStringLiteral("Запись тарировочной таблицы прервана; в ПЗУ не сохранено");
        Commands_.Ui().Refresh();
        return true;
    };
    const bool yes =
        Commands_.Ui().Ask(QStringLiteral("Записать в прибор тарировочную таблицу ") + tableName +
                           QStringLiteral(" (строк: %1)?").arg(rows.size()));
    if (stopped())
        return result;
    if (!yes) {
        result.Refused = true;
        result.Message = QStringLiteral("Запись тарировочной таблицы отменена");
        return result;
    }

    std::optional<TPollingPause> pause;
    if (Poll_)
        pause.emplace(*Poll_);

    // The points as sent: the rows, then empty points (NaN, sent as FF FF FF FF).
    std::array<TTarePoint, TUlmar::TarePointCount> sent{};
    if (!Commands_.Edit([&](TUlmar& u) {
            u.LoadTareTable(rows);
            sent = u.TareTable;
        })) {
        result.Message = TGaugeCommands::FailureText(TareWriteHint);
        return result;
    }

    auto fail = [&](const TStep& step, const QString& what) {
        result.Message = TGaugeCommands::FailureText(TareWriteHint) + LineBreak + what;
        result.NoAnswer = step.NoAnswer;
        Commands_.Ui().Refresh();
        return result;
    };
    TStep step = Exchange(UlmarCmd::TaraLevelWrite, TareWriteHint, TareWriteAnswer);
    if (stopped())
        return result;
    if (!step.Ok)
        return fail(step, QStringLiteral("Не записаны уровни"));
    step = Exchange(UlmarCmd::TaraVolumeWrite, TareWriteHint, TareWriteAnswer);
    if (stopped())
        return result;
    if (!step.Ok)
        return fail(step, QStringLiteral("Не записаны объемы"));

    // Read both parts back into a cleared table and compare them as the gauge stores them.
    Commands_.Edit([](TUlmar& u) { u.ClearTareTable(); });
    QString readError;
    bool readSilent = false;
    const bool readBack = ReadParts(&readError, &readSilent);
    if (stopped())
        return result;
    if (!readBack) {
        step.NoAnswer = readSilent;
        return fail(step, QStringLiteral("Записанная таблица не считана для проверки"));
    }
    std::array<TTarePoint, TUlmar::TarePointCount> got{};
    Commands_.Edit([&](TUlmar& u) { got = u.TareTable; });
    for (int k = 0; k < TUlmar::TarePointCount; ++k) {
        const TSingle levelSent = Stored(sent[k].Level, 1.0);
        const TSingle levelGot = Stored(got[k].Level, 1.0);
        const TSingle volumeSent = Stored(sent[k].Volume, 100.0);
        const TSingle volumeGot = Stored(got[k].Volume, 100.0);
        if (levelSent != levelGot)
            result.Differences.push_back({k + 1, false, levelSent, levelGot});
        if (volumeSent != volumeGot)
            result.Differences.push_back({k + 1, true, volumeSent, volumeGot});
    }
    for (const TTareMismatch& m : result.Differences)
        result.Mismatches << TareMismatchText(m, QLocale::c());
    if (!result.Differences.empty())
        return fail(step, QStringLiteral("Прибор хранит не то, что записано; в ПЗУ не сохранено"));

    // One commit to ROM, never deferred: the table is whole and checked.
    if (stopped())
        return result;
    const QString romHint = CommandHint(TCommandId::WriteToPZU);
    step = Exchange(UlmarCmd::WriteToPZU, romHint, RomSaveAnswer);
    if (!step.Ok) {
        result.Message = TGaugeCommands::FailureText(romHint);
        result.NoAnswer = step.NoAnswer;
        Commands_.Ui().Refresh();
        return result;
    }
    Commands_.Ui().Refresh();
    result.Committed = true;
    result.Message = QStringLiteral("Тарировочная таблица ") + tableName +
                     QStringLiteral(" записана в прибор и сохранена в ПЗУ");
    return result;
}
