#include "uRecordReport.h"

#include "uZeroArray.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace {

// --- the layout's measures, mm ---

constexpr double TitleHeight = 11.0;
constexpr double HeadingHeight = 9.0;
constexpr double TextHeight = 5.0;
constexpr double TableHeaderHeight = 8.0; // two lines of the table's font
constexpr double TableRowHeight = 4.8;
constexpr double ChartHeight = 72.0;
constexpr double GapAfter = 2.0; // below a table or a chart
// The characters of a text line before it is wrapped (the body font, the text area's width).
constexpr int TextLineChars = 105;

// The marks and texts of the document.
const QString Dash = QStringLiteral("—");
const QString ChangedMark = QStringLiteral("изм.");

// --- numbers and times ---

QLocale Russian() {
    QLocale locale(QLocale::Russian, QLocale::Russia);
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

// A number with `decimals` decimals and a decimal comma; "—" for no finite number.
QString Fixed(double value, int decimals) {
    if (!std::isfinite(value))
        return Dash;
    return Russian().toString(value, 'f', decimals);
}

// The shortest text of a number as the gauge keeps it (a single: 7 significant digits).
QString Short(double value) {
    if (!std::isfinite(value))
        return Dash;
    return Russian().toString(value, 'g', 7);
}

QString Integer(int value) {
    return value < 0 ? Dash : QString::number(value);
}

// A value written with '.' as the decimal separator (a parameter file's text, a decoded
// request) shown with the decimal comma when it is a number; other texts as they are.
QString ShownValue(const QString& text) {
    bool ok = false;
    QLocale::c().toDouble(text, &ok);
    if (!ok)
        return text;
    QString shown = text;
    return shown.replace(QLatin1Char('.'), QLatin1Char(','));
}

QDateTime ParseTime(const QString& text) {
    QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!at.isValid())
        at = QDateTime::fromString(text, Qt::ISODate);
    return at;
}

// A record's UTC time stamp as local date and time; the text itself when it is no time stamp.
QString LocalTime(const QString& text, const QString& format) {
    if (text.isEmpty())
        return QString();
    const QDateTime at = ParseTime(text);
    return at.isValid() ? at.toLocalTime().toString(format) : text;
}

QString DateTimeText(const QString& text) {
    return LocalTime(text, QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString OutcomeText(TServiceOutcome outcome) {
    switch (outcome) {
    case TServiceOutcome::Accepted:
        return QStringLiteral("принято");
    case TServiceOutcome::Refused:
        return QStringLiteral("отказ");
    case TServiceOutcome::NoAnswer:
        break;
    }
    return QStringLiteral("нет ответа");
}

// Words of a long text in lines of at most TextLineChars characters (a longer word alone).
QStringList Wrapped(const QString& text) {
    QStringList lines;
    QString line;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > TextLineChars) {
            lines << line;
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty() || lines.isEmpty())
        lines << line;
    return lines;
}

// --- placing the blocks on pages ---

TRecordBlock Block(TRecordBlockKind kind, const QString& text = QString(), bool bold = false) {
    TRecordBlock block;
    block.Kind = kind;
    block.Text = text;
    block.Bold = bold;
    return block;
}

class TLayout {
public:
    std::vector<TRecordPageModel> Pages{1};

    void Title(const QString& text) {
        Add(Block(TRecordBlockKind::Title, text, true), TitleHeight);
    }

    // A heading kept on one page with `keep` mm of what follows it.
    void Heading(const QString& text, double keep) {
        Room(HeadingHeight + keep);
        Add(Block(TRecordBlockKind::Heading, text, true), HeadingHeight);
    }

    void Text(const QString& text, bool bold = false) {
        for (const QString& line : Wrapped(text))
            Add(Block(TRecordBlockKind::Text, line, bold), TextHeight);
    }

    // Rows flow over as many pages as they need, the header on each.
    void Table(const TRecordTable& table) {
        std::size_t next = 0;
        do {
            Room(TableHeaderHeight + TableRowHeight);
            const double free = RecordPage::TextHeight - Used_ - TableHeaderHeight - GapAfter;
            const std::size_t fit = std::max<std::size_t>(
                1, static_cast<std::size_t>(std::floor(free / TableRowHeight + 1e-9)));
            const std::size_t end = std::min(table.Rows.size(), next + fit);
            TRecordBlock block = Block(TRecordBlockKind::Table);
            block.Table.Header = table.Header;
            block.Table.Widths = table.Widths;
            block.Table.Rows.assign(table.Rows.begin() + static_cast<std::ptrdiff_t>(next),
                                    table.Rows.begin() + static_cast<std::ptrdiff_t>(end));
            Add(std::move(block),
                TableHeaderHeight + static_cast<double>(end - next) * TableRowHeight + GapAfter);
            next = end;
        } while (next < table.Rows.size());
    }

    void Chart(TRecordChart chart) {
        TRecordBlock block = Block(TRecordBlockKind::Chart);
        block.Chart = std::move(chart);
        Room(ChartHeight + GapAfter);
        Add(std::move(block), ChartHeight + GapAfter);
    }

    // The height a table's header and its first rows take (for a heading kept with them).
    static double TableStart(std::size_t rows) {
        return TableHeaderHeight +
               static_cast<double>(std::min<std::size_t>(rows, 3)) * TableRowHeight;
    }

private:
    // A new page unless `height` mm fit below what the page holds.
    void Room(double height) {
        if (Used_ > 0 && Used_ + height > RecordPage::TextHeight + 1e-9) {
            Pages.emplace_back();
            Used_ = 0;
        }
    }

    void Add(TRecordBlock block, double height) {
        Room(height);
        block.Top = Used_;
        block.Height = height;
        Pages.back().Blocks.push_back(std::move(block));
        Used_ += height;
    }

    double Used_ = 0;
};

// --- the sections ---

void HeaderSection(TLayout& layout, const TServiceRecord& r) {
    layout.Title(QStringLiteral("Протокол пусконаладки уровнемера УЛМАР"));
    const auto field = [](const QString& text) { return text.isEmpty() ? Dash : text; };
    layout.Text(QStringLiteral("Объект: ") + field(r.Site));
    layout.Text(QStringLiteral("Позиция: ") + field(r.Tag));
    layout.Text(QStringLiteral("Исполнитель: ") + field(r.Technician));
    layout.Text(QStringLiteral("Начат: ") + field(DateTimeText(r.Started)));
    layout.Text(QStringLiteral("Завершён: ") +
                (r.State == TServiceState::Finished && !r.Finished.isEmpty()
                     ? DateTimeText(r.Finished)
                     : QStringLiteral("не завершён")));
}

void GaugeSection(TLayout& layout, const TServiceRecord& r) {
    const TServiceGauge& g = r.Gauge;
    TRecordTable table;
    table.Header = {QStringLiteral("Прибор"), QStringLiteral("Значение")};
    table.Widths = {70, 110};
    const auto row = [&table](const char* caption, const QString& value) {
        table.Rows.push_back({{QString::fromUtf8(caption), value}, false});
    };
    // A number the as-left signature read otherwise (an address changed during the work, a
    // new program) is shown as "found → left" and marked.
    const TServiceGauge* left = r.AsLeft.IsDone(ServiceStepSignature) ? &r.AsLeft.Gauge : nullptr;
    const auto number = [&table, left](const char* caption, int TServiceGauge::*field,
                                       const TServiceGauge& found) {
        const int a = found.*field;
        const int b = left ? left->*field : -1;
        const bool changed = b >= 0 && b != a;
        table.Rows.push_back(
            {{QString::fromUtf8(caption),
              changed ? Integer(a) + QStringLiteral(" → ") + Integer(b) : Integer(a)},
             changed});
    };
    number("Заводской номер", &TServiceGauge::PlantNumber, g);
    number("Адрес", &TServiceGauge::Address, g);
    number("Тип блока", &TServiceGauge::UnitType, g);
    number("Аппаратная версия", &TServiceGauge::HardVersion, g);
    number("Программная версия", &TServiceGauge::SoftVersion, g);
    row("Порт", g.Port.isEmpty() ? Dash : g.Port);
    row("Скорость, бод", g.BaudRate > 0 ? QString::number(g.BaudRate) : Dash);
    layout.Heading(QStringLiteral("1. Прибор"), TLayout::TableStart(table.Rows.size()));
    layout.Table(table);
}

QString SnapshotTime(const TServiceSnapshot& s) {
    return s.Taken.isEmpty() ? QStringLiteral("не считано") : DateTimeText(s.Taken);
}

// The value of a parameter in a snapshot's column: its text, "—" when the read failed or the
// snapshot has no such parameter.
QString ParamCell(const TServiceParam* p) {
    if (!p || !p->ReadOk)
        return Dash;
    return ShownValue(p->Text);
}

void ParametersSection(TLayout& layout, const TServiceRecord& r) {
    TRecordTable table;
    table.Header = {QStringLiteral("Параметр"), QStringLiteral("Как найдено"),
                    QStringLiteral("Как оставлено"), ChangedMark};
    table.Widths = {92, 37, 37, 14};
    // As found's order, then what only as left holds.
    std::vector<std::pair<QString, QString>> keys;
    for (const TServiceParam& p : r.AsFound.Parameters)
        keys.push_back({p.Key, p.Caption});
    for (const TServiceParam& p : r.AsLeft.Parameters)
        if (!r.AsFound.Param(p.Key))
            keys.push_back({p.Key, p.Caption});
    for (const auto& [key, caption] : keys) {
        const TServiceParam* found = r.AsFound.Param(key);
        const TServiceParam* left = r.AsLeft.Param(key);
        const bool changed =
            found && left && found->ReadOk && left->ReadOk && found->Text != left->Text;
        table.Rows.push_back({{caption.isEmpty() ? key : caption, ParamCell(found), ParamCell(left),
                               changed ? ChangedMark : QString()},
                              changed});
    }
    layout.Heading(QStringLiteral("2. Параметры"), TextHeight + TLayout::TableStart(keys.size()));
    layout.Text(QStringLiteral("Как найдено: ") + SnapshotTime(r.AsFound) +
                QStringLiteral("; как оставлено: ") + SnapshotTime(r.AsLeft));
    if (keys.empty())
        layout.Text(QStringLiteral("Параметры не считаны"));
    else
        layout.Table(table);
    // Why a value is missing: every step that failed, in either snapshot.
    std::vector<std::pair<QString, const TServiceFailure*>> failures;
    for (const TServiceFailure& f : r.AsFound.Failed)
        failures.push_back({QStringLiteral("как найдено"), &f});
    for (const TServiceFailure& f : r.AsLeft.Failed)
        failures.push_back({QStringLiteral("как оставлено"), &f});
    if (failures.empty())
        return;
    layout.Text(QStringLiteral("Не считано:"), true);
    for (const auto& [when, f] : failures)
        layout.Text(QStringLiteral("— ") + ServiceStepCaption(f->Step) + QStringLiteral(" (") +
                    when + QStringLiteral("): ") + f->Reason);
}

TRecordSeries TareSeries(const std::vector<TServiceTarePoint>& tare, const QString& name,
                         const QColor& color, bool dashed) {
    TRecordSeries s;
    s.Name = name;
    s.Color = color;
    s.Dashed = dashed;
    for (const TServiceTarePoint& p : tare)
        if (std::isfinite(p.Level) && std::isfinite(p.Volume))
            s.Points.push_back({p.Level, p.Volume});
    std::stable_sort(s.Points.begin(), s.Points.end(),
                     [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); });
    return s;
}

void TareSection(TLayout& layout, const TServiceRecord& r) {
    const auto& found = r.AsFound.Tare;
    const auto& left = r.AsLeft.Tare;
    TRecordTable table;
    table.Header = {QStringLiteral("№"),
                    QStringLiteral("Найдено: уровень, мм"),
                    QStringLiteral("Найдено: объём, %"),
                    QStringLiteral("Оставлено: уровень, мм"),
                    QStringLiteral("Оставлено: объём, %"),
                    ChangedMark};
    table.Widths = {10, 38, 38, 40, 40, 14};
    const std::size_t n = std::max(found.size(), left.size());
    const bool bothRead = r.AsFound.IsDone(ServiceStepTare) && r.AsLeft.IsDone(ServiceStepTare);
    for (std::size_t i = 0; i < n; ++i) {
        const TServiceTarePoint* a = i < found.size() ? &found[i] : nullptr;
        const TServiceTarePoint* b = i < left.size() ? &left[i] : nullptr;
        // A point present on one side only differs as well, once both tables were read.
        const bool differs = bothRead && (!a || !b || Short(a->Level) != Short(b->Level) ||
                                          Short(a->Volume) != Short(b->Volume));
        table.Rows.push_back({{QString::number(i + 1), a ? Short(a->Level) : Dash,
                               a ? Short(a->Volume) : Dash, b ? Short(b->Level) : Dash,
                               b ? Short(b->Volume) : Dash, differs ? ChangedMark : QString()},
                              differs});
    }
    layout.Heading(QStringLiteral("3. Тарировочная таблица"), TLayout::TableStart(n));
    if (n == 0) {
        layout.Text(QStringLiteral("Тарировочная таблица не считана или пуста"));
        return;
    }
    layout.Table(table);
    TRecordChart chart;
    chart.XTitle = QStringLiteral("Уровень, мм");
    chart.YTitle = QStringLiteral("Объём, %");
    chart.Series.push_back(TareSeries(found, QStringLiteral("как найдено"), Qt::blue, false));
    chart.Series.push_back(
        TareSeries(left, QStringLiteral("как оставлено"), QColor(200, 0, 0), true));
    layout.Chart(std::move(chart));
}

void RunTestSection(TLayout& layout, const TServiceRecord& r) {
    const TServiceVerdict verdict = ServiceVerdict(r.RunTest, r.Tolerance);
    TRecordTable table;
    table.Header = {
        QStringLiteral("№"),           QStringLiteral("Рулетка, мм"), QStringLiteral("Эталон, мм"),
        QStringLiteral("Уровень, мм"), QStringLiteral("Δ, мм"),       QStringLiteral("Эталон, мА"),
        QStringLiteral("Ток, мА"),     QStringLiteral("Δ, мА"),       QStringLiteral("Итог")};
    table.Widths = {8, 22, 22, 22, 17, 21, 20, 17, 31};
    for (std::size_t i = 0; i < r.RunTest.Rows.size(); ++i) {
        const TServiceRunRow& row = r.RunTest.Rows[i];
        const TRowVerdict v = i < verdict.Rows.size() ? verdict.Rows[i] : TRowVerdict::NotFilled;
        const QString result = v == TRowVerdict::Pass   ? QStringLiteral("годен")
                               : v == TRowVerdict::Fail ? QStringLiteral("не годен")
                                                        : QStringLiteral("не снят");
        if (!row.Filled) {
            table.Rows.push_back({{QString::number(i + 1), Fixed(row.Tape, 0), Dash, Dash, Dash,
                                   Dash, Dash, Dash, result},
                                  false});
            continue;
        }
        table.Rows.push_back(
            {{QString::number(i + 1), Fixed(row.Tape, 0), Fixed(row.ReferenceLevel, 3),
              Fixed(row.MeasuredLevel, 3), Fixed(row.LevelDifference, 3),
              Fixed(row.ReferenceCurrent, 3), Fixed(row.MeasuredCurrent, 3),
              Fixed(row.CurrentDifference, 3), result},
             v == TRowVerdict::Fail});
    }
    layout.Heading(QStringLiteral("4. Прогон"),
                   2 * TextHeight + TLayout::TableStart(table.Rows.size()));
    layout.Text(QStringLiteral("Допуск: ±") + Short(r.Tolerance.LevelMm) +
                QStringLiteral(" мм по уровню, ±") + Short(r.Tolerance.CurrentMa) +
                QStringLiteral(" мА по току"));
    if (r.RunTest.Recorded.isEmpty() || r.RunTest.Rows.empty()) {
        layout.Text(QStringLiteral("Таблица прогона не записана"));
    } else {
        layout.Text(QStringLiteral("Записан: ") + DateTimeText(r.RunTest.Recorded));
        layout.Table(table);
    }
    layout.Text(QStringLiteral("Заключение: ") + RecordVerdictText(r), true);
}

// The zero array of a snapshot as the gauge's 256 entries; none when not read whole.
std::optional<TZeroArray> ZeroOf(const TServiceSnapshot& s) {
    if (s.Zero.size() != TZeroArray{}.size())
        return std::nullopt;
    TZeroArray zero{};
    std::copy(s.Zero.begin(), s.Zero.end(), zero.begin());
    return zero;
}

void ZeroSection(TLayout& layout, const TServiceRecord& r) {
    const std::optional<TZeroArray> found = ZeroOf(r.AsFound);
    const std::optional<TZeroArray> left = ZeroOf(r.AsLeft);
    TRecordTable table;
    table.Header = {QStringLiteral("Массив нулей"), QStringLiteral("Как найдено"),
                    QStringLiteral("Как оставлено"), ChangedMark};
    table.Widths = {92, 37, 37, 14};
    const struct {
        const char* Caption;
        int Entry;
    } entries[] = {{"Кол-во", 0}, {"Min", 1}, {"Max", 2}};
    for (const auto& e : entries) {
        const bool differs = found && left && (*found)[e.Entry] != (*left)[e.Entry];
        table.Rows.push_back(
            {{QString::fromUtf8(e.Caption), found ? QString::number((*found)[e.Entry]) : Dash,
              left ? QString::number((*left)[e.Entry]) : Dash, differs ? ChangedMark : QString()},
             differs});
    }
    layout.Heading(QStringLiteral("5. Массив нулей"), TLayout::TableStart(3) + TextHeight);
    layout.Table(table);
    if (!found && !left) {
        layout.Text(QStringLiteral("Массив нулей не считан"));
        return;
    }
    if (found && left) {
        const std::vector<double> a = ZeroPositions(*found);
        const std::vector<double> b = ZeroPositions(*left);
        std::size_t differ = std::max(a.size(), b.size()) - std::min(a.size(), b.size());
        for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
            differ += a[i] != b[i] ? 1 : 0;
        layout.Text(differ == 0 ? QStringLiteral("Позиции как найдено и как оставлено совпадают")
                                : QStringLiteral("Позиций отличается: ") + QString::number(differ),
                    differ != 0);
    }
    TRecordChart chart;
    chart.XTitle = QStringLiteral("Позиция");
    const auto ticks = [](const std::optional<TZeroArray>& zero, const QString& name,
                          const QColor& color, double height) {
        TRecordSeries s;
        s.Name = name;
        s.Color = color;
        s.Style = TRecordSeriesStyle::Ticks;
        s.TickHeight = height;
        if (zero)
            for (const double x : ZeroPositions(*zero))
                s.Points.push_back({x, 0});
        return s;
    };
    chart.Series.push_back(ticks(found, QStringLiteral("как найдено"), Qt::blue, 1.0));
    chart.Series.push_back(ticks(left, QStringLiteral("как оставлено"), QColor(200, 0, 0), 0.6));
    layout.Chart(std::move(chart));
}

void WritesSection(TLayout& layout, const TServiceRecord& r) {
    TRecordTable table;
    table.Header = {QStringLiteral("Время"), QStringLiteral("Адрес"), QStringLiteral("Параметр"),
                    QStringLiteral("Значение"), QStringLiteral("Итог")};
    table.Widths = {36, 14, 76, 32, 22};
    for (const TServiceWrite& w : r.Writes)
        table.Rows.push_back(
            {{LocalTime(w.Time, QStringLiteral("dd.MM HH:mm:ss.zzz")), Integer(w.Address),
              w.Name.isEmpty() ? (w.Key.isEmpty() ? QString::number(w.Code) : w.Key) : w.Name,
              ShownValue(w.Value), OutcomeText(w.Outcome)},
             w.Outcome != TServiceOutcome::Accepted});
    layout.Heading(QStringLiteral("6. Записи в прибор"), TLayout::TableStart(table.Rows.size()));
    if (r.Writes.empty()) {
        layout.Text(r.State == TServiceState::Finished
                        ? QStringLiteral("За время работы в прибор ничего не записывалось")
                        : QStringLiteral("Записи в прибор будут перечислены при завершении"));
        return;
    }
    layout.Table(table);
}

void SignatureSection(TLayout& layout, const TServiceRecord& r) {
    layout.Text(QString());
    layout.Text(QStringLiteral("Исполнитель: ____________________ / ") +
                (r.Technician.isEmpty() ? QStringLiteral("____________________") : r.Technician) +
                QStringLiteral(" /"));
}

// --- painting ---

QFont BodyFont(double dpm, double heightMm, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(heightMm * dpm))));
    font.setBold(bold);
    return font;
}

// Text font sizes (the font's pixel height), mm.
constexpr double TitleFont = 4.6;
constexpr double HeadingFont = 3.7;
constexpr double BodyText = 3.1;
constexpr double TableText = 2.75;
constexpr double SmallText = 2.5;

QRectF MmRect(double dpm, double left, double top, double width, double height) {
    return QRectF(left * dpm, top * dpm, width * dpm, height * dpm);
}

// A line of text in the box, cut with "…" where it is too long; `wrap`: over as many lines as
// the box holds instead.
void DrawText(QPainter& p, double dpm, const QRectF& mm, const QString& text, const QFont& font,
              Qt::Alignment align, bool wrap = false) {
    p.setFont(font);
    const QRectF box = MmRect(dpm, mm.left(), mm.top(), mm.width(), mm.height());
    if (wrap) {
        p.drawText(box, static_cast<int>(align | Qt::AlignVCenter) | Qt::TextWordWrap, text);
        return;
    }
    const QString shown =
        QFontMetricsF(font, p.device()).elidedText(text, Qt::ElideRight, box.width());
    p.drawText(box, static_cast<int>(align | Qt::AlignVCenter), shown);
}

// A cell that holds a number (or the dash of a missing one) is aligned to the right.
bool IsNumberCell(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^(—|[-+]?[0-9][0-9 ,.:→—]*)$"));
    return number.match(text).hasMatch();
}

void PaintTable(QPainter& p, double dpm, double top, const TRecordTable& t) {
    const double left = RecordPage::Left;
    double width = 0;
    for (const double w : t.Widths)
        width += w;
    const QPen thin(Qt::black, std::max(1.0, 0.15 * dpm));
    p.setPen(thin);
    p.fillRect(MmRect(dpm, left, top, width, TableHeaderHeight), QColor(230, 230, 230));
    const auto cells = [&](const QStringList& texts, double y, double h, const QFont& font,
                           bool header) {
        double x = left;
        for (std::size_t c = 0; c < t.Widths.size(); ++c) {
            const double w = t.Widths[c];
            const QString text = static_cast<qsizetype>(c) < texts.size()
                                     ? texts[static_cast<qsizetype>(c)]
                                     : QString();
            // The first column (a caption, a row number) and texts to the left, numbers to the
            // right; the header centred over two lines where it needs them.
            const Qt::Alignment align =
                header ? Qt::AlignHCenter
                       : (c > 0 && IsNumberCell(text) ? Qt::AlignRight : Qt::AlignLeft);
            DrawText(p, dpm, QRectF(x + 1.0, y, w - 2.0, h), text, font, align, header);
            p.drawRect(MmRect(dpm, x, y, w, h));
            x += w;
        }
    };
    cells(t.Header, top, TableHeaderHeight, BodyFont(dpm, TableText, true), true);
    double y = top + TableHeaderHeight;
    for (const TRecordRow& row : t.Rows) {
        if (row.Marked)
            p.fillRect(MmRect(dpm, left, y, width, TableRowHeight), QColor(255, 240, 200));
        cells(row.Cells, y, TableRowHeight, BodyFont(dpm, TableText, row.Marked), false);
        y += TableRowHeight;
    }
}

// A step of 1, 2 or 5 times a power of ten giving about `ticks` steps over the span.
double NiceStep(double span, int ticks) {
    if (!(span > 0) || !std::isfinite(span))
        return 1;
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw)
            return m * power;
    return 10 * power;
}

struct TAxisRange {
    double Min = 0;
    double Max = 1;
    double Step = 1;
};

// At most this many labels along an axis, whatever the numbers.
constexpr int MaxTicks = 40;

// An axis over [lo, hi] in steps of 1, 2 or 5 times a power of ten. Ends that meet are widened
// by a part of their size (by 1 near zero), so that even a huge or garbled value gets an axis
// whose steps move it.
TAxisRange AxisOver(double lo, double hi, int ticks) {
    if (!(lo <= hi) || !std::isfinite(lo) || !std::isfinite(hi)) {
        lo = 0;
        hi = 1;
    }
    const double widen = std::max(1.0, std::max(std::fabs(lo), std::fabs(hi)) * 1e-3);
    if (!(hi - lo > widen * 1e-3)) {
        lo -= widen;
        hi += widen;
    }
    const double step = NiceStep(hi - lo, ticks);
    return {std::floor(lo / step) * step, std::ceil(hi / step) * step, step};
}

// The labelled values of an axis: Min, Min + Step, ... up to Max, at most MaxTicks of them.
std::vector<double> TickValues(const TAxisRange& axis) {
    std::vector<double> values;
    const double count = std::floor((axis.Max - axis.Min) / axis.Step + 1e-6);
    if (!std::isfinite(count) || count < 0 || count > MaxTicks)
        return {axis.Min, axis.Max};
    for (int i = 0; i <= static_cast<int>(count); ++i)
        values.push_back(axis.Min + i * axis.Step);
    return values;
}

QString TickText(double value, double step) {
    const int decimals =
        step >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step))));
    return Fixed(std::abs(value) < step * 1e-6 ? 0.0 : value, decimals);
}

void PaintChart(QPainter& p, double dpm, double top, const TRecordChart& c) {
    // The plot's box within the block: room for the tick labels at the left and below, the
    // legend above.
    const double boxLeft = RecordPage::Left + 16;
    const double boxTop = top + 7;
    const double boxWidth = RecordPage::TextWidth - 20;
    const double boxHeight = ChartHeight - 7 - 13;
    double xlo = std::numeric_limits<double>::max(), xhi = std::numeric_limits<double>::lowest();
    double ylo = xlo, yhi = xhi;
    bool ticksOnly = true;
    for (const TRecordSeries& s : c.Series) {
        ticksOnly = ticksOnly && s.Style == TRecordSeriesStyle::Ticks;
        for (const QPointF& pt : s.Points) {
            xlo = std::min(xlo, pt.x());
            xhi = std::max(xhi, pt.x());
            ylo = std::min(ylo, pt.y());
            yhi = std::max(yhi, pt.y());
        }
    }
    const TAxisRange x = AxisOver(xlo, xhi, 8);
    const TAxisRange y = ticksOnly ? TAxisRange{0, 1, 1} : AxisOver(ylo, yhi, 6);
    const auto px = [&](double v) {
        return (boxLeft + (v - x.Min) / (x.Max - x.Min) * boxWidth) * dpm;
    };
    const auto py = [&](double v) {
        return (boxTop + boxHeight - (v - y.Min) / (y.Max - y.Min) * boxHeight) * dpm;
    };
    const QFont small = BodyFont(dpm, SmallText);
    // Grid and tick labels.
    p.setPen(QPen(QColor(210, 210, 210), std::max(1.0, 0.1 * dpm)));
    for (const double v : TickValues(x)) {
        p.drawLine(QPointF(px(v), py(y.Min)), QPointF(px(v), py(y.Max)));
        p.setPen(Qt::black);
        DrawText(p, dpm, QRectF((px(v) / dpm) - 10, boxTop + boxHeight + 0.5, 20, 4),
                 TickText(v, x.Step), small, Qt::AlignHCenter);
        p.setPen(QPen(QColor(210, 210, 210), std::max(1.0, 0.1 * dpm)));
    }
    if (!ticksOnly)
        for (const double v : TickValues(y)) {
            p.drawLine(QPointF(px(x.Min), py(v)), QPointF(px(x.Max), py(v)));
            p.setPen(Qt::black);
            DrawText(p, dpm, QRectF(boxLeft - 15, (py(v) / dpm) - 2, 14, 4), TickText(v, y.Step),
                     small, Qt::AlignRight);
            p.setPen(QPen(QColor(210, 210, 210), std::max(1.0, 0.1 * dpm)));
        }
    p.setPen(QPen(Qt::black, std::max(1.0, 0.2 * dpm)));
    p.setBrush(Qt::NoBrush);
    p.drawRect(MmRect(dpm, boxLeft, boxTop, boxWidth, boxHeight));
    DrawText(p, dpm, QRectF(boxLeft, boxTop + boxHeight + 5, boxWidth, 4), c.XTitle,
             BodyFont(dpm, TableText), Qt::AlignHCenter);
    if (!c.YTitle.isEmpty())
        DrawText(p, dpm, QRectF(RecordPage::Left, top, 40, 5), c.YTitle, BodyFont(dpm, TableText),
                 Qt::AlignLeft);
    // The series, clipped to the box.
    p.save();
    p.setClipRect(MmRect(dpm, boxLeft, boxTop, boxWidth, boxHeight));
    p.setRenderHint(QPainter::Antialiasing, true);
    for (const TRecordSeries& s : c.Series) {
        QPen pen(s.Color, std::max(1.0, (s.Style == TRecordSeriesStyle::Ticks ? 0.25 : 0.4) * dpm));
        if (s.Dashed)
            pen.setStyle(Qt::DashLine);
        p.setPen(pen);
        if (s.Style == TRecordSeriesStyle::Ticks) {
            for (const QPointF& pt : s.Points)
                p.drawLine(QPointF(px(pt.x()), py(0)), QPointF(px(pt.x()), py(s.TickHeight)));
            continue;
        }
        QPainterPath path;
        for (std::size_t i = 0; i < s.Points.size(); ++i) {
            const QPointF at(px(s.Points[i].x()), py(s.Points[i].y()));
            if (i == 0)
                path.moveTo(at);
            else
                path.lineTo(at);
        }
        p.drawPath(path);
        p.setPen(QPen(s.Color, std::max(1.0, 0.3 * dpm)));
        for (const QPointF& pt : s.Points)
            p.drawEllipse(QPointF(px(pt.x()), py(pt.y())), 0.6 * dpm, 0.6 * dpm);
    }
    p.restore();
    // The legend above the box, at the right.
    double lx = boxLeft + boxWidth;
    for (auto it = c.Series.rbegin(); it != c.Series.rend(); ++it) {
        const double w = 8 + 2.0 * it->Name.size();
        lx -= w;
        QPen pen(it->Color, std::max(1.0, 0.4 * dpm));
        if (it->Dashed)
            pen.setStyle(Qt::DashLine);
        p.setPen(pen);
        p.drawLine(QPointF(lx * dpm, (top + 3.5) * dpm),
                   QPointF((lx + 6) * dpm, (top + 3.5) * dpm));
        p.setPen(Qt::black);
        DrawText(p, dpm, QRectF(lx + 7, top + 1.5, w - 7, 4), it->Name, small, Qt::AlignLeft);
    }
}

void PaintBlock(QPainter& p, double dpm, const TRecordBlock& b) {
    const double top = RecordPage::Top + b.Top;
    p.setPen(Qt::black);
    switch (b.Kind) {
    case TRecordBlockKind::Title:
        DrawText(p, dpm, QRectF(RecordPage::Left, top, RecordPage::TextWidth, b.Height), b.Text,
                 BodyFont(dpm, TitleFont, true), Qt::AlignHCenter);
        break;
    case TRecordBlockKind::Heading:
        DrawText(p, dpm, QRectF(RecordPage::Left, top + 2, RecordPage::TextWidth, b.Height - 2),
                 b.Text, BodyFont(dpm, HeadingFont, true), Qt::AlignLeft);
        break;
    case TRecordBlockKind::Text:
        DrawText(p, dpm, QRectF(RecordPage::Left, top, RecordPage::TextWidth, b.Height), b.Text,
                 BodyFont(dpm, BodyText, b.Bold), Qt::AlignLeft);
        break;
    case TRecordBlockKind::Table:
        PaintTable(p, dpm, top, b.Table);
        break;
    case TRecordBlockKind::Chart:
        PaintChart(p, dpm, top, b.Chart);
        break;
    }
}

} // namespace

QString TRecordDocument::FootLeft() const {
    return QStringLiteral("Протокол УЛМАР, зав. № ") + PlantNumber;
}

QString TRecordDocument::FootRight(int page) const {
    return QStringLiteral("стр. %1 из %2").arg(page + 1).arg(PageCount());
}

QString RecordVerdictText(const TServiceRecord& record) {
    const TServiceVerdict v = ServiceVerdict(record.RunTest, record.Tolerance);
    if (!v.Done)
        return QStringLiteral("Прогон не выполнен");
    return v.Pass ? QStringLiteral("Годен") : QStringLiteral("Не годен");
}

TRecordDocument BuildRecordDocument(const TServiceRecord& record) {
    TLayout layout;
    HeaderSection(layout, record);
    GaugeSection(layout, record);
    ParametersSection(layout, record);
    TareSection(layout, record);
    RunTestSection(layout, record);
    ZeroSection(layout, record);
    WritesSection(layout, record);
    SignatureSection(layout, record);
    TRecordDocument document;
    document.PlantNumber = Integer(record.Gauge.PlantNumber);
    document.Verdict = RecordVerdictText(record);
    document.Pages = std::move(layout.Pages);
    return document;
}

void PaintRecordPage(QPainter& painter, double dpm, const TRecordDocument& document, int page) {
    if (page < 0 || page >= document.PageCount())
        return;
    painter.save();
    for (const TRecordBlock& block : document.Pages[static_cast<std::size_t>(page)].Blocks)
        PaintBlock(painter, dpm, block);
    // The foot: a rule, the record's gauge at the left, the page at the right.
    painter.setPen(QPen(Qt::black, std::max(1.0, 0.15 * dpm)));
    painter.drawLine(
        QPointF(RecordPage::Left * dpm, RecordPage::FootTop * dpm),
        QPointF((RecordPage::Left + RecordPage::TextWidth) * dpm, RecordPage::FootTop * dpm));
    const QFont small = BodyFont(dpm, SmallText);
    DrawText(painter, dpm,
             QRectF(RecordPage::Left, RecordPage::FootTop + 1, RecordPage::TextWidth / 2, 5),
             document.FootLeft(), small, Qt::AlignLeft);
    DrawText(painter, dpm,
             QRectF(RecordPage::Left + RecordPage::TextWidth / 2, RecordPage::FootTop + 1,
                    RecordPage::TextWidth / 2, 5),
             document.FootRight(page), small, Qt::AlignRight);
    painter.restore();
}

bool PaintRecordDocument(QPagedPaintDevice& device, const TRecordDocument& document,
                         QString* error) {
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
    QPainter painter;
    if (!painter.begin(&device)) {
        if (error)
            *error = QStringLiteral("не удалось начать печать страниц");
        return false;
    }
    const double dpm = device.logicalDpiX() / 25.4;
    for (int page = 0; page < document.PageCount(); ++page) {
        if (page > 0 && !device.newPage()) {
            if (error)
                *error = QStringLiteral("не удалось начать страницу %1").arg(page + 1);
            painter.end();
            return false;
        }
        PaintRecordPage(painter, dpm, document, page);
    }
    if (!painter.end()) {
        if (error)
            *error = QStringLiteral("страницы не дописаны");
        return false;
    }
    return true;
}

bool WriteRecordPdf(const TServiceRecord& record, const QString& path, QString* error, int* pages) {
    const TRecordDocument document = BuildRecordDocument(record);
    const auto fail = [&](const QString& reason) {
        if (error)
            *error = QDir::toNativeSeparators(path) + QStringLiteral(": ") + reason;
        return false;
    };
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("это папка"));
    // The pages go to a temporary file beside the target, renamed over it once whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    {
        QPdfWriter writer(&file);
        writer.setResolution(600);
        writer.setCreator(QStringLiteral("ulmar"));
        writer.setTitle(QStringLiteral("Протокол пусконаладки уровнемера УЛМАР, зав. № ") +
                        document.PlantNumber);
        QString reason;
        if (!PaintRecordDocument(writer, document, &reason)) {
            file.cancelWriting();
            return fail(reason);
        }
    }
    if (!file.commit())
        return fail(file.errorString());
    if (pages)
        *pages = document.PageCount();
    return true;
}

QImage RecordPageImage(const TRecordDocument& document, int page, double dpm) {
    QImage image(static_cast<int>(std::lround(RecordPage::Width * dpm)),
                 static_cast<int>(std::lround(RecordPage::Height * dpm)), QImage::Format_RGB32);
    image.fill(Qt::white);
    // The image's own resolution, so that fonts sized in pixels keep their size.
    image.setDotsPerMeterX(static_cast<int>(std::lround(dpm * 1000)));
    image.setDotsPerMeterY(static_cast<int>(std::lround(dpm * 1000)));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    PaintRecordPage(painter, dpm, document, page);
    return image;
}
