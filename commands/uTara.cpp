#include "uTara.h"

#include <QFileInfo>
#include <cmath>

namespace {

// The gauge's limits for a table it takes.
constexpr double GaugeLevelMax = 50000.0; // mm
constexpr double GaugeVolumeMax = 100.0;  // %

bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// "Строка N: " — every problem names its line, 1-based in the text.
QString AtLine(int index) {
    return QStringLiteral("Строка %1: ").arg(index + 1);
}

// A line that cannot be a row: a header or a comment.
bool HeaderOrComment(const QString& line) {
    return line.contains(QLatin1Char('=')) || line.startsWith(QLatin1Char('*'));
}

// The name part of a header line: the text before the first "=".
QString HeaderName(const QString& line) {
    return line.left(line.indexOf(QLatin1Char('=')));
}

int FindHeader(const QStringList& lines, const QString& name) {
    for (int i = 0; i < lines.size(); ++i)
        if (IsTareHeader(lines[i]) && HeaderName(lines[i]).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

// Reads one row: the level from position 1, the volume from where the level ended. `ends`, when
// given, receives the characters that ended the two numbers (a null character: the line's end);
// `rest`, the position where the volume ended.
bool ReadRow(const QString& line, TTaraPoint& point, QChar* ends = nullptr, int* rest = nullptr) {
    int position = 1;
    double level = 0.0;
    double volume = 0.0;
    if (!TTara::ParseNumber(line, position, level))
        return false;
    const QChar levelEnd = position <= line.size() ? line[position - 1] : QChar();
    if (!TTara::ParseNumber(line, position, volume))
        return false;
    const QChar volumeEnd = position <= line.size() ? line[position - 1] : QChar();
    point = {level, volume};
    if (rest)
        *rest = position;
    if (ends) {
        ends[0] = levelEnd;
        ends[1] = volumeEnd;
    }
    return true;
}

// The header's row count: the text after the first "=" as a decimal integer, 0 when it is not
// one.
int HeaderCount(const QString& line) {
    bool ok = false;
    const int count = line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed().toInt(&ok, 10);
    return ok ? count : 0;
}

struct TReadOutcome {
    bool Ok = false;
    int Header = -1; // index of the header line
};

// The table `name` of the lines into `table`; what is wrong goes to `problems`.
TReadOutcome ReadTable(const QStringList& lines, const QString& name, TTaraTable& table,
                       QStringList& problems) {
    table.clear();
    TReadOutcome out;
    if (name.isEmpty())
        return out;
    out.Header = FindHeader(lines, name);
    if (out.Header < 0)
        return out;
    const int header = out.Header;
    const int count = HeaderCount(lines[header]);
    if (count < 1) {
        out.Ok = true;
        return out;
    }
    // A count beyond the lines that follow fails before anything is allocated for it.
    const int following = int(lines.size()) - header - 1;
    if (count > following) {
        problems << AtLine(header) + QStringLiteral("в заголовке %1 строк, после него только %2")
                                         .arg(count)
                                         .arg(following);
        return out;
    }
    table.assign(std::size_t(count), TTaraPoint{});
    for (int k = 1; k <= count; ++k) {
        const int index = header + k;
        const QString& line = lines[index];
        if (HeaderOrComment(line)) {
            problems << AtLine(index) +
                            QStringLiteral("вместо строки таблицы заголовок или комментарий");
            return out;
        }
        if (!ReadRow(line, table[std::size_t(k - 1)])) {
            problems << AtLine(index) + QStringLiteral("не удалось прочитать уровень и объем");
            return out;
        }
        if (k == TTara::GaugeRowCount + 1)
            problems << AtLine(index) + QStringLiteral("прибор принимает не более %1 строк таблицы")
                                            .arg(TTara::GaugeRowCount);
    }
    // Rows that follow the declared ones (up to the next empty, comment or header line) are
    // not part of the table: said, not dropped silently.
    for (int index = header + count + 1; index < lines.size(); ++index) {
        const QString& line = lines[index];
        TTaraPoint point;
        if (line.trimmed().isEmpty() || HeaderOrComment(line) || !ReadRow(line, point))
            break;
        problems
            << AtLine(index) +
                   QStringLiteral("строка после конца таблицы (в заголовке %1 строк)").arg(count);
    }
    out.Ok = true;
    return out;
}

bool AllowedNumberEnd(QChar c) {
    // A carriage return or line feed left on a line is its end.
    return c.isNull() || c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char(';') ||
           c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

} // namespace

TTara::TTara(QObject* parent) : QObject(parent) {}

bool TTara::ParseNumber(const QString& line, int& position, double& value) {
    if (position < 1 || line.size() < position)
        return false;
    QString text;
    bool commaSeen = false;
    int index = position - 1; // 0-based
    for (; index < line.size(); ++index) {
        const QChar c = line[index];
        const bool allowed =
            IsDigit(c) || c == QLatin1Char('-') || (c == QLatin1Char(',') && !commaSeen);
        if (allowed) {
            if (c == QLatin1Char(','))
                commaSeen = true;
            text += c;
        } else if (!text.isEmpty()) {
            break;
        }
    }
    if (text.isEmpty() || text == QLatin1String(","))
        return false;
    // An optional leading "-", digits, at most one "," and at least one digit.
    const qsizetype start = text.startsWith(QLatin1Char('-')) ? 1 : 0;
    bool digit = false;
    for (qsizetype i = start; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('-'))
            return false;
        digit = digit || IsDigit(text[i]);
    }
    if (!digit)
        return false;
    bool ok = false;
    const double x = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!ok || !std::isfinite(x))
        return false;
    value = x;
    position = index + 1;
    return true;
}

bool TTara::LoadFromStrings(const QStringList& lines) {
    Table.clear();
    Problems.clear();
    if (TableName.isEmpty() || !QFileInfo::exists(FileName))
        return false;
    return ReadTable(lines, TableName, Table, Problems).Ok;
}

bool TTara::LevelToVolume(double level, double& volume) const {
    // Interpolation needs two rows; a table of one row gives no volume.
    if (TableName.isEmpty() || Table.size() < 2 || std::isnan(level))
        return false;
    const std::size_t last = Table.size() - 1;
    std::size_t below = 0;
    while (below < Table.size() && Table[below].TaraLevel < level)
        ++below;
    std::size_t i = 0;
    if (below == 0)
        i = 0;
    else if (below < last)
        i = below - 1;
    else
        i = last - 1;
    const TTaraPoint& p0 = Table[i];
    const TTaraPoint& p1 = Table[i + 1];
    if (p0.TaraLevel != p1.TaraLevel)
        volume = p0.TaraVolume + (level - p0.TaraLevel) * (p1.TaraVolume - p0.TaraVolume) /
                                     (p1.TaraLevel - p0.TaraLevel);
    else
        volume = p0.TaraVolume;
    return true;
}

bool ReadTareTable(const QStringList& lines, const QString& name, TTaraTable& table,
                   QStringList* problems) {
    QStringList found;
    const bool ok = ReadTable(lines, name, table, found).Ok;
    if (problems)
        *problems = found;
    return ok;
}

bool IsTareHeader(const QString& line) {
    return line.contains(QLatin1Char('=')) && !line.contains(QLatin1Char('*'));
}

QStringList TareTableNames(const QStringList& lines) {
    QStringList names;
    for (const QString& line : lines)
        if (IsTareHeader(line)) {
            const QString name = HeaderName(line);
            if (!name.isEmpty())
                names << name;
        }
    return names;
}

QString TareUnfitForGauge(const QStringList& lines, const QString& tableName) {
    if (tableName.isEmpty())
        return QStringLiteral("Таблица не выбрана");
    TTaraTable table;
    QStringList problems;
    const TReadOutcome read = ReadTable(lines, tableName, table, problems);
    if (read.Header < 0)
        return QStringLiteral("Таблица ") + tableName + QStringLiteral(" не найдена");
    const int header = read.Header;
    for (int i = header + 1; i < lines.size(); ++i)
        if (IsTareHeader(lines[i]) &&
            HeaderName(lines[i]).compare(tableName, Qt::CaseInsensitive) == 0)
            return AtLine(i) + QStringLiteral("таблица ") + tableName +
                   QStringLiteral(" уже есть в строке %1").arg(header + 1);
    if (!problems.isEmpty())
        return problems.first();
    if (!read.Ok)
        return AtLine(header) + QStringLiteral("таблица ") + tableName +
               QStringLiteral(" не прочитана");
    const int rows = int(table.size());
    if (rows < 2)
        return AtLine(header) + QStringLiteral("в таблице меньше 2 строк");
    for (int k = 0; k < rows; ++k) {
        const int index = header + 1 + k;
        TTaraPoint point;
        QChar ends[2];
        int rest = 1;
        const QString& line = lines[index];
        ReadRow(line, point, ends, &rest);
        for (const QChar end : ends)
            if (!AllowedNumberEnd(end))
                return AtLine(index) + QStringLiteral("число оканчивается символом «") + end +
                       QStringLiteral("»");
        // A row holds the level and the volume only: a third number is not dropped silently.
        double extra = 0.0;
        const int extraFrom = rest;
        if (TTara::ParseNumber(line, rest, extra)) {
            QString text = line.mid(extraFrom - 1, rest - extraFrom);
            while (!text.isEmpty() && !IsDigit(text.front()) && text.front() != QLatin1Char('-') &&
                   text.front() != QLatin1Char(','))
                text.remove(0, 1);
            return AtLine(index) +
                   QStringLiteral("лишнее число «%1»: в строке таблицы только уровень и объем")
                       .arg(text);
        }
        const TTaraPoint& p = table[std::size_t(k)];
        if (p.TaraLevel < 0.0 || p.TaraLevel > GaugeLevelMax)
            return AtLine(index) + QStringLiteral("уровень вне диапазона 0..50000 мм");
        if (p.TaraVolume < 0.0 || p.TaraVolume > GaugeVolumeMax)
            return AtLine(index) + QStringLiteral("объем вне диапазона 0..100 %");
        if (k > 0) {
            const TTaraPoint& before = table[std::size_t(k - 1)];
            if (p.TaraLevel <= before.TaraLevel)
                return AtLine(index) + QStringLiteral("уровень не больше предыдущего");
            if (p.TaraVolume < before.TaraVolume)
                return AtLine(index) + QStringLiteral("объем меньше предыдущего");
        }
    }
    return {};
}
