#include "uParamFile.h"

#include "Ulmar.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uRequestDevices.h"

#include <QDir>
#include <QHash>
#include <QLocale>
#include <cmath>
#include <limits>

namespace {

// The device object's component name names the sections; "Ulmar" when it has none.
QString SectionName(const TUlmar& ulmar) {
    return ulmar.Name.isEmpty() ? QStringLiteral("Ulmar") : ulmar.Name;
}

QString PointSection(const TUlmar& ulmar, int row) {
    return SectionName(ulmar) + QStringLiteral("CurrentOutput") + QString::number(row + 1);
}

// Run-test row keys in file order, with the field each one stores.
struct TPointKey {
    const char* Key;
    double TProgonPoint::*Field;
};
const TPointKey PointKeys[] = {
    {"Sample", &TProgonPoint::Sample},
    {"Value", &TProgonPoint::Value},
    {"dValue", &TProgonPoint::dValue},
    {"CurrentSample", &TProgonPoint::CurrentSample},
    {"CurrentValue", &TProgonPoint::CurrentValue},
    {"dCurrentValue", &TProgonPoint::dCurrentValue},
};

QString Key(const TParamRow& row) {
    return QString::fromLatin1(row.Key);
}

} // namespace

QString ParamFloatToString(double value) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0.0)
        return QStringLiteral("0"); // also -0
    // The C general format switches to an exponent exactly where the desktop's general
    // format does (below 1E-4 and from 15 integer digits on); only its spelling differs.
    QString text = QString::number(value, 'g', 15);
    const qsizetype e = text.indexOf(QLatin1Char('e'));
    if (e >= 0)
        text = text.left(e) + QLatin1Char('E') + QString::number(text.mid(e + 1).toInt());
    return text.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

QString ParamFileDir(quint8 programType) {
    switch (programType) {
    case 0:
        return JoinPath(ProgramDir(), QStringLiteral("M10"));
    case 1:
        return JoinPath(ProgramDir(), QStringLiteral("M20"));
    default:
        return QString();
    }
}

QString ParamFileName(const TUlmar& ulmar, const QDate& date) {
    const QString dir = ParamFileDir(ulmar.ProgramType);
    if (dir.isEmpty())
        return QString();
    return JoinPath(dir, QStringLiteral("PN") + QString::asprintf("%.5d", int(ulmar.PlantNumber)) +
                             QLatin1Char('-') + date.toString(QStringLiteral("yyyyMMdd")) +
                             QStringLiteral(".ini"));
}

bool WriteParamFile(const TUlmar& ulmar, const QString& fileName) {
    TIniFile ini(fileName, TIniFile::Encoding::Windows1251, ParamFileMaxBytes);
    if (!ini.ReadError().isEmpty())
        return false;
    const QString s = SectionName(ulmar);
    for (const TParamRow& row : ParamRows()) {
        if (!row.InFile)
            continue;
        switch (ParamKind(row)) {
        case TParamKind::Text:
            ini.WriteString(s, Key(row), ParamString(ulmar, row));
            break;
        case TParamKind::Real:
            ini.WriteString(s, Key(row), ParamFloatToString(ParamNumber(ulmar, row)));
            break;
        default:
            ini.WriteInteger(s, Key(row), static_cast<qint64>(ParamNumber(ulmar, row)));
        }
    }
    for (int row = 0; row < TUlmar::ProgonRowCount; ++row) {
        const QString p = PointSection(ulmar, row);
        for (const TPointKey& k : PointKeys)
            ini.WriteString(p, QLatin1String(k.Key),
                            ParamFloatToString(ulmar.ProgonPoints[row].*k.Field));
    }
    // The whole file is replaced at once: a failure leaves the old file as it was.
    return ini.Save(true);
}

bool ReadParamFile(TUlmar& ulmar, const QString& fileName, QString* error) {
    const TIniFile ini(fileName, TIniFile::Encoding::Windows1251, ParamFileMaxBytes);
    if (!ini.ReadError().isEmpty()) {
        if (error)
            *error = ini.ReadError();
        return false;
    }
    const QString s = SectionName(ulmar);
    for (const TParamRow& row : ParamRows()) {
        if (!row.FileRead)
            continue;
        switch (ParamKind(row)) {
        case TParamKind::Text:
            SetParamString(ulmar, row, ini.ReadString(s, Key(row), QString()));
            break;
        case TParamKind::Real:
            // Either decimal separator is read, so a file from a desktop with the other one loads.
            SetParamNumber(ulmar, row, ini.ReadFloat(s, Key(row), row.FileDefault));
            break;
        default:
            SetParamInteger(ulmar, row,
                            ini.ReadInteger(s, Key(row), static_cast<qint64>(row.FileDefault)));
        }
    }
    ulmar.UpdateRanges();
    for (int row = 0; row < TUlmar::ProgonRowCount; ++row) {
        const QString p = PointSection(ulmar, row);
        for (const TPointKey& k : PointKeys)
            ulmar.ProgonPoints[row].*k.Field = ini.ReadFloat(p, QLatin1String(k.Key), 0);
        ulmar.ProgonPoints[row].Taken = false;
    }
    return true;
}

bool ReadParamFile(TUlmar& ulmar, const QString& fileName, TDeviceLink* link, QString* error) {
    if (!link || link->Ulmar() != &ulmar)
        return ReadParamFile(ulmar, fileName, error);
    bool read = false;
    link->EditDevice([&](TUlmar& device) { read = ReadParamFile(device, fileName, error); });
    return read;
}

bool LoadParamSet(const QString& fileName, const std::vector<const TParamRow*>& rows, TUlmar& into,
                  QString& error) {
    const QString shown = QDir::toNativeSeparators(fileName);
    const TIniFile ini(fileName, TIniFile::Encoding::Windows1251, ParamFileMaxBytes);
    if (!ini.FileExisted()) {
        error = QStringLiteral("Нет файла ") + shown;
        return false;
    }
    if (!ini.ReadError().isEmpty()) {
        error = ini.ReadError();
        return false;
    }
    const QString s = SectionName(into);
    if (!ini.SectionExists(s)) {
        error = QStringLiteral("Файл ") + shown + QStringLiteral(": нет раздела [") + s +
                QStringLiteral("]");
        return false;
    }
    // A key the set reads, given twice (also in a second section of the same name): which value
    // is meant cannot be told, so the file is not taken.
    QHash<QString, int> firstLine;
    for (const TParamRow* row : rows)
        firstLine.insert(Key(*row).toLower(), 0);
    for (const TIniFile::TKeyLine& line : ini.KeyLines(s)) {
        const auto seen = firstLine.find(line.Key.toLower());
        if (seen == firstLine.end())
            continue;
        if (*seen > 0) {
            error = QStringLiteral("Файл ") + shown + QStringLiteral(": ключ ") + line.Key +
                    QStringLiteral(" задан дважды, в строках %1 и %2").arg(*seen).arg(line.Line);
            return false;
        }
        *seen = line.Line;
    }
    const QLocale c = QLocale::c();
    for (const TParamRow* row : rows) {
        const QString key = Key(*row);
        const QString text = ini.ReadString(s, key, QString());
        const QString at = QStringLiteral("Файл ") + shown + QStringLiteral(": ");
        if (!ini.ValueExists(s, key)) {
            error = at + QStringLiteral("нет ключа ") + key;
            return false;
        }
        const TParamKind kind = ParamKind(*row);
        if (kind == TParamKind::Text) {
            SetParamString(into, *row, text);
            continue;
        }
        double value = 0;
        if (kind == TParamKind::Real) {
            value = ini.ReadFloat(s, key, std::numeric_limits<double>::quiet_NaN());
        } else {
            constexpr qint64 unread = std::numeric_limits<qint64>::min();
            const qint64 integer = ini.ReadInteger(s, key, unread);
            value = integer == unread ? std::numeric_limits<double>::quiet_NaN()
                                      : static_cast<double>(integer);
        }
        if (!std::isfinite(value)) {
            error = at + key + QLatin1Char('=') + text + QStringLiteral(" — не число");
            return false;
        }
        // The change dialog's bounds, or the width of an integer without a dialog.
        double low = kind == TParamKind::SignedByte ? -128 : 0;
        double high = kind == TParamKind::Byte ? 255 : kind == TParamKind::Word ? 65535 : 127;
        if (row->Dialog.Prompt) {
            low = row->Dialog.Min;
            high = DialogMax(into, *row);
        } else if (kind == TParamKind::Real) {
            low = -std::numeric_limits<double>::max();
            high = std::numeric_limits<double>::max();
        }
        if (value < low || value > high) {
            error = at + key + QLatin1Char('=') + text + QStringLiteral(" вне пределов [") +
                    c.toString(low, 'g', 10) + QStringLiteral(", ") + c.toString(high, 'g', 10) +
                    QLatin1Char(']');
            return false;
        }
        SetParamNumber(into, *row, value);
    }
    into.UpdateRanges();
    return true;
}
