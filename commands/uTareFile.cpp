#include "uTareFile.h"
#include "uFrame.h"
#include "uSmallFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString CrLf = QStringLiteral("\r\n");

// Windows-1251, bytes 0x80..0xFF. The one byte the code page leaves undefined (0x98) maps to
// the control character of the same number, so that every byte of a file reads and writes
// back unchanged.
constexpr char16_t Cp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, // F8
};

QString DecodeCp1251(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text += b < 0x80 ? QChar(b) : QChar(Cp1251High[b - 0x80]);
    }
    return text;
}

// The byte of a character, or -1 when Windows-1251 has none.
int Cp1251Byte(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80)
        return u;
    for (int i = 0; i < 128; ++i)
        if (Cp1251High[i] == u)
            return 0x80 + i;
    return -1;
}

QString LoadFailure(const QString& path) {
    return QStringLiteral("Не удалось загрузить файл\r") + path;
}

QString SaveFailure(const QString& path) {
    return QStringLiteral("Не удалось сохранить файл\r") + path;
}

// The shortest fixed-notation text (at least `minDecimals` decimals, "," as the separator) that
// reads back to the same single once multiplied by `scale`, as the gauge stores it.
QString GaugeNumber(double x, int minDecimals, double scale) {
    const auto stored = FloatToBytes(x * scale);
    QString text;
    for (int decimals = minDecimals; decimals <= 80; ++decimals) {
        text = QString::number(x, 'f', decimals);
        if (FloatToBytes(text.toDouble() * scale) == stored)
            break;
    }
    return text.replace(QLatin1Char('.'), QLatin1Char(','));
}

} // namespace

bool TareTextEncodable(const QString& text, int* badPosition) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (Cp1251Byte(text[i]) < 0) {
            if (badPosition)
                *badPosition = int(i);
            return false;
        }
    return true;
}

bool ReadTareFile(const QString& path, QString& text, QString& error) {
    error.clear();
    QByteArray bytes;
    QString reason;
    if (ReadSmallRegularFile(path, TareFileMaxBytes, bytes, reason) != TSmallFileRead::Read ||
        bytes.contains('\0')) {
        // The reason of a refused file (no regular file, too large) on a line of its own.
        error = LoadFailure(path) + (reason.isEmpty() ? QString() : QLatin1Char('\r') + reason);
        return false;
    }
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8.decode(bytes.mid(3));
        if (utf8.hasError()) {
            error = LoadFailure(path);
            return false;
        }
        text = decoded;
        return true;
    }
    text = DecodeCp1251(bytes);
    return true;
}

bool WriteTareFile(const QString& path, const QString& text, QString& error) {
    error.clear();
    int bad = -1;
    if (!TareTextEncodable(text, &bad)) {
        const int line = int(text.left(bad).count(QLatin1Char('\n'))) + 1;
        error = SaveFailure(path) +
                QStringLiteral("\rСимвол «%1» в строке %2 нельзя записать в кодировке "
                               "Windows-1251")
                    .arg(text.mid(bad, text[bad].isHighSurrogate() ? 2 : 1))
                    .arg(line);
        return false;
    }
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text)
        bytes.append(static_cast<char>(Cp1251Byte(c)));
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        file.write(bytes) != bytes.size() || !file.commit()) {
        error = SaveFailure(path);
        return false;
    }
    return true;
}

QStringList TareLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines << text.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    lines << text.mid(start);
    return lines;
}

QString TareCommentBlock() {
    const QStringList lines = {
        QStringLiteral("*******************************"),
        QStringLiteral("* Формат таблицы"),
        QStringLiteral("* <Название>=<Количество точек>"),
        QStringLiteral("* Уровень, мм -> Объем, %"),
        QStringLiteral("*******************************"),
    };
    QString block;
    for (const QString& line : lines)
        block += line.leftJustified(31) + CrLf;
    return block;
}

QString TypicalTareText() {
    static const char* const rows[32] = {
        "    0   0,00", "  323   0,93", "  645   2,67", "  968   4,95", " 1290   7,55",
        " 1613  10,45", " 1935  13,64", " 2258  17,00", " 2581  20,48", " 2903  24,08",
        " 3226  27,88", " 3548  31,79", " 3871  35,71", " 4194  39,72", " 4516  43,81",
        " 4839  47,93", " 5161  52,07", " 5484  56,19", " 5806  60,28", " 6129  64,29",
        " 6452  68,21", " 6774  72,11", " 7097  75,94", " 7419  79,62", " 7742  83,06",
        " 8065  86,35", " 8387  89,54", " 8710  92,45", " 9032  95,05", " 9355  97,33",
        " 9677  99,07", "10000 100,00",
    };
    QString text = TareCommentBlock();
    text += QStringLiteral("ttDefault1=2") + CrLf;
    text += QStringLiteral("    0    0,00") + CrLf;
    text += QStringLiteral("10000\t 100,00") + CrLf;
    text += CrLf;
    text += TareCommentBlock();
    text += QStringLiteral("ttDefault2=32") + CrLf;
    for (const char* row : rows)
        text += QLatin1String(row) + CrLf;
    text += CrLf;
    return text;
}

bool TarePointEmpty(const TTarePoint& point) {
    return !std::isfinite(point.Level) || !std::isfinite(point.Volume);
}

QString GaugeTareText(const std::array<TTarePoint, 32>& points) {
    QStringList rows;
    for (const TTarePoint& p : points)
        if (!TarePointEmpty(p))
            rows << GaugeNumber(p.Level, 0, 1.0) + QLatin1Char(' ') +
                        GaugeNumber(p.Volume, 2, 100.0);
    QString text = TareCommentBlock();
    text += QStringLiteral("ttFromUlmar=") + QString::number(rows.size()) + CrLf;
    for (const QString& row : rows)
        text += row + CrLf;
    text += CrLf;
    return text;
}

QString GaugeTareFileName(quint16 plantNumber, const QDateTime& at) {
    return QString::number(plantNumber) + QLatin1Char('_') +
           at.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".txt");
}

QString GaugeTareFilePath(const QString& dir, quint16 plantNumber, const QDateTime& at) {
    const QString name = GaugeTareFileName(plantNumber, at);
    const QDir folder(dir);
    QString path = folder.filePath(name);
    const QString stem = name.chopped(4);
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path =
            folder.filePath(stem + QLatin1Char('-') + QString::number(n) + QStringLiteral(".txt"));
    return path;
}

TTareRows GaugeTareRows(const std::array<TTarePoint, 32>& points) {
    TTareRows rows;
    for (const TTarePoint& p : points)
        if (!TarePointEmpty(p))
            rows.push_back({p.Level, p.Volume});
    return rows;
}

std::vector<TTarePointDifference> CompareTarePoints(const TTareRows& a, const TTareRows& b) {
    constexpr double None = std::numeric_limits<double>::quiet_NaN();
    // A side as the gauge stores it: a missing or non-finite part as FF FF FF FF.
    auto stored = [](double x, double scale) {
        return std::isfinite(x) ? FloatToBytes(x * scale)
                                : std::array<quint8, 4>{0xFF, 0xFF, 0xFF, 0xFF};
    };
    std::vector<TTarePointDifference> differences;
    const std::size_t count = std::max(a.size(), b.size());
    for (std::size_t k = 0; k < count; ++k) {
        TTarePointDifference d{int(k) + 1, None, None, None, None};
        if (k < a.size()) {
            d.LevelA = a[k][0];
            d.VolumeA = a[k][1];
        }
        if (k < b.size()) {
            d.LevelB = b[k][0];
            d.VolumeB = b[k][1];
        }
        if (k >= a.size() || k >= b.size() || stored(d.LevelA, 1.0) != stored(d.LevelB, 1.0) ||
            stored(d.VolumeA, 100.0) != stored(d.VolumeB, 100.0))
            differences.push_back(d);
    }
    return differences;
}

namespace {

// A number of a table as its single holds it: 7 significant digits at most, no trailing zeros,
// no group separator (as a tare file writes it).
QString SingleText(double x, QLocale locale) {
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return std::isfinite(x) ? locale.toString(double(float(x)), 'g', 7) : QStringLiteral("нет");
}

QString RowSide(double level, double volume, const QLocale& locale) {
    if (std::isnan(level) && std::isnan(volume))
        return QStringLiteral("нет строки");
    return SingleText(level, locale) + QStringLiteral(" мм, ") + SingleText(volume, locale) +
           QStringLiteral(" %");
}

} // namespace

QString TareDifferenceText(const TTarePointDifference& d, const QLocale& locale) {
    return QStringLiteral("Строка %1: в таблице %2; в приборе %3")
        .arg(QString::number(d.Point), RowSide(d.LevelA, d.VolumeA, locale),
             RowSide(d.LevelB, d.VolumeB, locale));
}

QStringList TareDifferenceLines(const std::vector<TTarePointDifference>& differences,
                                const QLocale& locale) {
    QStringList lines;
    for (const TTarePointDifference& d : differences)
        lines << TareDifferenceText(d, locale);
    return lines;
}
