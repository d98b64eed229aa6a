// Exchange decoder. The answer is decoded by the protocol's codec (DecodeFields,
// DecodeKalistFields), which reads a cut or garbled answer as far as its bytes go; this file
// names and renders what it read and says which field the answer lacks. The request is read
// through TFrame, which answers only for offsets inside the frame, so a cut request is shown up
// to the field it lacks and never past its end. The layout of requests and answers, the request
// codes and the minimum lengths come from the protocol's wire table; the names from the command
// and parameter tables (read-only data) and the static texts of the device object; it never
// touches a device object.

#include "uExchangeDecode.h"
#include "Ulmar.h"
#include "uCommandTable.h"
#include "uFrame.h"
#include "uParamStr.h"
#include "uParamTable.h"
#include "uWire.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>
#include <optional>

namespace {

// Indexed view of a frame that refuses offsets outside it.
class TFrame {
public:
    explicit TFrame(const QByteArray& bytes) : Bytes(bytes) {}
    int Size() const { return static_cast<int>(Bytes.size()); }
    bool Has(int offset, int count) const {
        return offset >= 0 && count >= 0 && offset <= Size() - count;
    }
    std::optional<quint8> Byte(int i) const {
        if (!Has(i, 1))
            return std::nullopt;
        return static_cast<quint8>(Bytes[i]);
    }
    std::optional<quint16> Word(int i) const {
        if (!Has(i, 2))
            return std::nullopt;
        return static_cast<quint16>(static_cast<quint8>(Bytes[i]) << 8 |
                                    static_cast<quint8>(Bytes[i + 1]));
    }
    std::optional<double> Float(int i) const {
        if (!Has(i, 4))
            return std::nullopt;
        return BytesToFloat(static_cast<quint8>(Bytes[i]), static_cast<quint8>(Bytes[i + 1]),
                            static_cast<quint8>(Bytes[i + 2]), static_cast<quint8>(Bytes[i + 3]));
    }
    QByteArray Mid(int i, int count) const {
        return Has(i, count) ? Bytes.mid(i, count) : QByteArray();
    }
    bool AllFF(int i) const {
        if (!Has(i, 4))
            return false;
        for (int k = 0; k < 4; ++k)
            if (static_cast<quint8>(Bytes[i + k]) != 0xFF)
                return false;
        return true;
    }

private:
    const QByteArray& Bytes;
};

QString Hex2(int value) {
    return QStringLiteral("0x%1").arg(value, 2, 16, QLatin1Char('0')).toUpper().replace("0X", "0x");
}

QString Field(const QString& name, const QString& value) {
    return name + QStringLiteral(" = ") + value;
}

// A float as the gauge's single reads back; an empty point (FF FF FF FF) as "пусто".
QString FloatText(const TFrame& f, int offset, double scale = 1.0) {
    if (f.AllFF(offset))
        return QStringLiteral("пусто");
    const auto value = f.Float(offset);
    if (!value)
        return QString();
    if (!std::isfinite(*value))
        return ShortestSingle(*value);
    return ShortestSingle(*value / scale);
}

QString WithUnit(const QString& value, const QString& unit) {
    return unit.isEmpty() ? value : value + QLatin1Char(' ') + unit;
}

// --- command codes, names and parameters ---

// Rows without a read or a write hold -1 there: no code below 0 is looked up.
const TParamRow* ParamByCode(int code) {
    if (code < 0)
        return nullptr;
    for (const TParamRow& row : ParamRows())
        if (row.ReadCode == code || row.WriteCode == code)
            return &row;
    return nullptr;
}

// The family of a parameter row: byte (signed or not), word or float; None for other rows.
TWireValue ParamFamily(const TWireRow& row) {
    if (row.Layout != TRequestLayout::ParamRead && row.Layout != TRequestLayout::ParamWrite)
        return TWireValue::None;
    return row.Value == TWireValue::SignedByte ? TWireValue::Byte : row.Value;
}

// The read code of a parameter index in the family of a command byte (any command that is no
// byte or word parameter's counts as a float's), else its write code; -1 when there is none.
int ParamCode(quint8 command, int index) {
    if (index < 0)
        return -1;
    const TWireRow* first = WireRow(WireCode(command, -1));
    TWireValue family = first ? ParamFamily(*first) : TWireValue::None;
    if (family == TWireValue::None)
        family = TWireValue::Float;
    int write = -1;
    for (const TWireRow& row : WireRows()) {
        if (row.Index != index || ParamFamily(row) != family)
            continue;
        if (row.Layout == TRequestLayout::ParamRead)
            return row.Code;
        if (write < 0)
            write = row.Code;
    }
    return write;
}

// The wire scale of the row with that command and index (a volume's 100); 1 when none.
double ScaleOf(quint8 command, int index) {
    const TWireRow* row = index >= 0 ? WireRow(WireCode(command, index)) : nullptr;
    return row ? row->Scale : 1.0;
}

// Units of the parameters that have one, by file key.
QString ParamUnit(const char* key) {
    const QByteArray k(key);
    if (k == "Dist1" || k == "Dist2" || k == "LevelKalibr" || k.startsWith("Relay"))
        return QStringLiteral("мм");
    if (k == "TemperCompareTermostat")
        return QStringLiteral("°C");
    return QString();
}

// The name of a byte, word or float parameter by kind and index.
QString ParamName(quint8 command, int index) {
    const int code = ParamCode(command, index);
    if (code == UlmarCmd::TemperSVChModuleRead)
        return QStringLiteral("Температура СВЧ модуля");
    if (code == UlmarCmd::TemperTermostatRead)
        return QStringLiteral("Температура внутри термостата");
    if (const TParamRow* row = ParamByCode(code))
        return ParamTitle(*row);
    return QStringLiteral("параметр %1").arg(index);
}

const TParamRow* ParamRowOf(quint8 command, int index) {
    return ParamByCode(ParamCode(command, index));
}

// A byte parameter's value, signed for the temperatures, with the radio item's caption.
QString ByteParamValue(quint8 command, int index, quint8 value) {
    const TWireRow* wire = WireRow(ParamCode(command, index));
    if (wire && wire->Value == TWireValue::SignedByte)
        return QString::number(static_cast<qint8>(value)) + QStringLiteral(" °C");
    QString text = QString::number(value);
    if (const TParamRow* row = ParamRowOf(command, index)) {
        const int item = value - row->RadioFirst;
        if (item >= 0 && item < static_cast<int>(row->Radio.size()))
            text += QStringLiteral(" (") + QString::fromUtf8(row->Radio[item].Caption) +
                    QLatin1Char(')');
    }
    return text;
}

// --- request ---

struct TReadMode {
    QString Title;
    QString Unit;
    double Scale = 1.0;
    bool WithFault = false;
};

// A read mode's title and unit by the field its wire row fills, its scale and fault byte from
// the wire row.
std::optional<TReadMode> ReadModeOf(int mode) {
    const TWireRow* row = mode >= 0 ? WireRow(WireCode(0x01, mode)) : nullptr;
    if (!row)
        return std::nullopt;
    TReadMode m{{}, {}, row->Scale, row->WithFault};
    switch (row->Field) {
    case TWireField::Freq:
        m.Title = QStringLiteral("Оценка частоты биений");
        break;
    case TWireField::Distance:
        m.Title = QStringLiteral("Расстояние");
        m.Unit = QStringLiteral("мм");
        break;
    case TWireField::Level:
        m.Title = QStringLiteral("Уровень");
        m.Unit = QStringLiteral("мм");
        break;
    case TWireField::LevelFree:
        m.Title = QStringLiteral("Свободное пространство");
        m.Unit = QStringLiteral("мм");
        break;
    case TWireField::Volume:
        m.Title = QStringLiteral("Объем");
        m.Unit = QStringLiteral("%");
        break;
    default:
        m.Title = QStringLiteral("Частота  опорного канала");
        break;
    }
    return m;
}

// What the decoding of an answer needs to know from its request.
struct TAsked {
    int Command = -1;
    int Index = -1; // read mode, parameter index or tare part
    int ZeroStart = -1;
};

// Collects fields and the first reason a frame stops.
struct TOut {
    QStringList& Fields;
    QString Cut; // the first field that the frame lacks
    void Add(const QString& name, const QString& value) { Fields << Field(name, value); }
    void Lack(const QString& name) {
        if (Cut.isEmpty())
            Cut = name;
    }
    template <class T> bool Need(const std::optional<T>& value, const QString& name) {
        if (!value)
            Lack(name);
        return value.has_value();
    }
};

void DecodeRequest(const TFrame& r, TOut& out, TAsked& asked) {
    const auto command = r.Byte(1);
    if (!out.Need(command, QStringLiteral("команда")))
        return;
    asked.Command = *command;
    out.Add(QStringLiteral("команда"), Hex2(*command));
    const auto length = r.Byte(2);
    if (!out.Need(length, QStringLiteral("длина")))
        return;
    const auto b3 = r.Byte(3);
    TRequestLayout layout = TRequestLayout::Plain;
    RequestLayoutOf(*command, layout);
    switch (layout) {
    case TRequestLayout::ReadMode:
        if (out.Need(b3, QStringLiteral("режим"))) {
            asked.Index = *b3;
            const auto mode = ReadModeOf(*b3);
            out.Add(QStringLiteral("режим"),
                    QString::number(*b3) + (mode ? QStringLiteral(" (") + mode->Title + ')' : ""));
        }
        break;
    case TRequestLayout::Echo:
        if (r.Has(3, 2))
            out.Add(QStringLiteral("эхо"), ToHexString(r.Mid(3, 2)));
        else
            out.Lack(QStringLiteral("эхо"));
        break;
    case TRequestLayout::IdentityAddress:
    case TRequestLayout::Identity: {
        if (!out.Need(b3, QStringLiteral("тип прибора")))
            break;
        out.Add(QStringLiteral("тип прибора"), QString::number(*b3));
        const auto plant = r.Word(4);
        if (!out.Need(plant, QStringLiteral("Заводской номер")))
            break;
        out.Add(QStringLiteral("Заводской номер"), QString::number(*plant));
        if (layout == TRequestLayout::IdentityAddress) {
            const auto address = r.Byte(6);
            if (out.Need(address, QStringLiteral("новый адрес")))
                out.Add(QStringLiteral("новый адрес"), QString::number(*address));
        }
        break;
    }
    case TRequestLayout::ZeroBlock: {
        const auto count = r.Byte(4);
        if (!out.Need(b3, QStringLiteral("начало")))
            break;
        asked.ZeroStart = *b3;
        out.Add(QStringLiteral("блок"),
                QStringLiteral("%1 (элементы с %2)").arg(*b3 / 8 + 1).arg(*b3 + 1));
        if (out.Need(count, QStringLiteral("количество")))
            out.Add(QStringLiteral("количество"), QString::number(*count));
        break;
    }
    case TRequestLayout::TareRead:
    case TRequestLayout::TareWrite: {
        if (!out.Need(b3, QStringLiteral("часть таблицы")))
            break;
        asked.Index = *b3;
        out.Add(QStringLiteral("часть таблицы"), *b3 == 0   ? QStringLiteral("уровни")
                                                 : *b3 == 1 ? QStringLiteral("объемы")
                                                            : QString::number(*b3));
        if (layout == TRequestLayout::TareWrite) {
            QStringList points;
            int k = 0;
            for (; k < TarePointCount && r.Has(4 + 4 * k, 4); ++k)
                points << FloatText(r, 4 + 4 * k, ScaleOf(*command, *b3));
            out.Add(*b3 == 1 ? QStringLiteral("объемы, %") : QStringLiteral("уровни, мм"),
                    points.join(QStringLiteral("; ")));
            // The checksum follows the last point.
            if (r.Size() - 2 < 4 + 4 * TarePointCount)
                out.Lack(QStringLiteral("точка %1").arg(k + 1));
        }
        break;
    }
    case TRequestLayout::ParamRead:
    case TRequestLayout::ParamWrite: {
        if (!out.Need(b3, QStringLiteral("параметр")))
            break;
        asked.Index = *b3;
        out.Add(QStringLiteral("параметр"),
                QStringLiteral("%1 (индекс %2)").arg(ParamName(*command, *b3)).arg(*b3));
        const TParamRow* row = ParamRowOf(*command, *b3);
        const QString unit = row ? ParamUnit(row->Key) : QString();
        const TWireRow* wire = WireRow(WireCode(*command, -1));
        const TWireValue written =
            wire && layout == TRequestLayout::ParamWrite ? ParamFamily(*wire) : TWireValue::None;
        if (written == TWireValue::Byte) {
            const auto value = r.Byte(4);
            if (out.Need(value, QStringLiteral("значение")))
                out.Add(QStringLiteral("значение"), ByteParamValue(*command, *b3, *value));
        } else if (written == TWireValue::Word) {
            const auto value = r.Word(4);
            if (out.Need(value, QStringLiteral("значение")))
                out.Add(QStringLiteral("значение"), QString::number(*value));
        } else if (written == TWireValue::Float) {
            if (r.Has(4, 4))
                out.Add(QStringLiteral("значение"), WithUnit(FloatText(r, 4), unit));
            else
                out.Lack(QStringLiteral("значение"));
        }
        break;
    }
    case TRequestLayout::Plain:
        break;
    }
}

// --- answer ---

QString FaultField(quint8 fault) {
    if (fault == 0)
        return QStringLiteral("0 (Норма)");
    return QStringLiteral("%1 (%2)").arg(fault).arg(TUlmar::FaultText(fault));
}

QString RelayText(quint8 relays) {
    if (relays > 3)
        return QStringLiteral("%1 (Не известно)").arg(relays);
    auto state = [](bool on) {
        return on ? QStringLiteral("Включено") : QStringLiteral("Отключено");
    };
    return QStringLiteral("%1 (Реле 1 %2, Реле 2 %3)")
        .arg(relays)
        .arg(state(relays & 1))
        .arg(state(relays & 2));
}

struct TAnswerOutcome {
    bool Failed = false;
};

// A decoded single as the gauge's single reads back; an empty point (FF FF FF FF) as "пусто".
QString ValueText(const TAnswer& a, int k) {
    if (a.EmptyPoints & (quint32(1) << k))
        return QStringLiteral("пусто");
    return ShortestSingle(a.Values[k]);
}

// Renders the fields of an answer as far as its bytes went; the first field it lacks is the
// reason it stops.
void RenderAnswer(const TAnswer& a, const TAsked& asked, TOut& out, TAnswerOutcome& outcome) {
    if (a.HeaderPresent < 1) {
        out.Lack(QStringLiteral("адрес"));
        return;
    }
    out.Add(QStringLiteral("адрес"), QString::number(a.Address));
    if (a.HeaderPresent < 2) {
        out.Lack(QStringLiteral("команда"));
        return;
    }
    if (a.Command != asked.Command)
        out.Add(QStringLiteral("команда"), Hex2(a.Command));
    if (a.HeaderPresent < 3) {
        out.Lack(QStringLiteral("длина"));
        return;
    }
    if (!IsAcceptedAnswerCommand(a.Command))
        return;
    // The mode and the index come from the request only when it asked the same command.
    const quint8 command = a.Command;
    const int index = command == asked.Command ? asked.Index : -1;
    const int present = a.FieldsPresent;

    switch (a.Layout) {
    case TAnswerLayout::Reading: {
        const auto mode = ReadModeOf(index);
        if (present < 1) {
            out.Lack(mode ? mode->Title : QStringLiteral("значение"));
            break;
        }
        if (!mode) {
            out.Add(QStringLiteral("значение"), ValueText(a, 0));
            break;
        }
        out.Add(mode->Title, WithUnit(ValueText(a, 0), mode->Unit));
        if (a.HasFault) {
            if (present < 2) {
                out.Lack(QStringLiteral("неисправность"));
                break;
            }
            out.Add(QStringLiteral("неисправность"), FaultField(a.Fault));
            outcome.Failed = outcome.Failed || a.Fault != 0;
        }
        break;
    }
    case TAnswerLayout::AllReadings: {
        const QString titles[] = {QStringLiteral("Расстояние"), QStringLiteral("Уровень"),
                                  QStringLiteral("Свободное пространство"),
                                  QStringLiteral("Объем")};
        for (int k = 0; k < 4; ++k) {
            if (present <= k) {
                out.Lack(titles[k]);
                return;
            }
            out.Add(titles[k],
                    WithUnit(ValueText(a, k), k == 3 ? QStringLiteral("%") : QStringLiteral("мм")));
        }
        if (present < 5) {
            out.Lack(QStringLiteral("реле"));
            break;
        }
        out.Add(QStringLiteral("реле"), RelayText(a.Relays));
        if (present < 6) {
            out.Lack(QStringLiteral("неисправность"));
            break;
        }
        out.Add(QStringLiteral("неисправность"), FaultField(a.Fault));
        outcome.Failed = outcome.Failed || a.Fault != 0;
        break;
    }
    case TAnswerLayout::Echo:
        if (present < 1) {
            out.Lack(QStringLiteral("эхо"));
            break;
        }
        out.Add(QStringLiteral("эхо"),
                QStringLiteral("%1 %2 (%3)")
                    .arg(a.EchoBytes[0], 2, 16, QLatin1Char('0'))
                    .arg(a.EchoBytes[1], 2, 16, QLatin1Char('0'))
                    .toUpper()
                    .arg(a.EchoGood ? QStringLiteral("верно") : QStringLiteral("неверно")));
        outcome.Failed = outcome.Failed || !a.EchoGood;
        break;
    case TAnswerLayout::Signature: {
        const QString names[] = {QStringLiteral("тип прибора"), QStringLiteral("Заводской номер"),
                                 QStringLiteral("Аппаратная версия"),
                                 QStringLiteral("Программная версия")};
        const int values[] = {a.UnitType, a.PlantNumber, a.HardVersion, a.SoftVersion};
        for (int k = 0; k < 4; ++k) {
            if (present <= k) {
                out.Lack(names[k]);
                break;
            }
            out.Add(names[k], QString::number(values[k]));
        }
        break;
    }
    case TAnswerLayout::ZeroBlock: {
        QStringList words;
        for (int k = 0; k < ZeroBlockSize && k < present; ++k)
            words << QString::number(a.Words[k]);
        if (present < ZeroBlockSize)
            out.Lack(QStringLiteral("элемент %1").arg(present + 1));
        const QString name =
            a.ZeroStart >= 0
                ? QStringLiteral("массив нулей %1..%2").arg(a.ZeroStart + 1).arg(a.ZeroStart + 8)
                : QStringLiteral("массив нулей");
        out.Add(name, words.join(QLatin1Char(' ')));
        break;
    }
    case TAnswerLayout::TarePart: {
        QStringList points;
        for (int k = 0; k < TarePointCount && k < present; ++k)
            points << ValueText(a, k);
        if (present < TarePointCount)
            out.Lack(QStringLiteral("точка %1").arg(present + 1));
        const QString name = index == 0   ? QStringLiteral("уровни, мм")
                             : index == 1 ? QStringLiteral("объемы, %")
                                          : QStringLiteral("таблица тарировки");
        out.Add(name, points.join(QStringLiteral("; ")));
        break;
    }
    case TAnswerLayout::ByteValue:
    case TAnswerLayout::WordValue:
    case TAnswerLayout::FloatValue: {
        if (present < 1) {
            out.Lack(QStringLiteral("значение"));
            break;
        }
        const QString name = index >= 0 ? ParamName(command, index) : QStringLiteral("значение");
        if (a.Layout == TAnswerLayout::ByteValue) {
            const auto value = static_cast<quint8>(a.Integer);
            out.Add(name,
                    index >= 0 ? ByteParamValue(command, index, value) : QString::number(value));
        } else if (a.Layout == TAnswerLayout::WordValue) {
            out.Add(name, QString::number(a.Integer));
        } else {
            const TParamRow* param = index >= 0 ? ParamRowOf(command, index) : nullptr;
            out.Add(name, WithUnit(ValueText(a, 0), param ? ParamUnit(param->Key) : QString()));
        }
        break;
    }
    case TAnswerLayout::ErrorAnswer: {
        if (present < 1) {
            out.Lack(QStringLiteral("ошибка"));
            break;
        }
        const QString text = TUlmar::ErrorAnswerText(a.ErrorCode);
        out.Add(QStringLiteral("ошибка"),
                text.isEmpty() ? QString::number(a.ErrorCode)
                               : QStringLiteral("%1 (%2)").arg(a.ErrorCode).arg(text));
        outcome.Failed = outcome.Failed || a.ErrorCode != 0;
        break;
    }
    case TAnswerLayout::Confirm:
    case TAnswerLayout::Silent:
        out.Add(QStringLiteral("ответ"), QStringLiteral("подтверждение"));
        break;
    }
}

void RenderKalist(const TExchangeRecord& raw, TDecodedExchange& d) {
    d.CommandName = QStringLiteral("КАЛИСТ-1: ток");
    if (!raw.Request.isEmpty() && !CheckCrc8(raw.Request))
        d.Problem = QStringLiteral("CRC запроса неверна");
    const TAnswer a = DecodeKalistFields(raw.Answer);
    if (a.Status == TAnswerStatus::NoAnswer) {
        d.ChecksumVerdict = QString::fromUtf8(DecodeVerdict::NoAnswer);
        d.Failed = true;
        return;
    }
    const int n = static_cast<int>(raw.Answer.size());
    const bool crc = CheckCrc8(raw.Answer);
    d.ChecksumVerdict = QString::fromUtf8(crc     ? DecodeVerdict::Good
                                          : n < 8 ? DecodeVerdict::Cut
                                                  : DecodeVerdict::Bad);
    if (a.FieldsPresent >= 1)
        d.AnswerFields << Field(QStringLiteral("Ток"),
                                QString::number(a.Values[0], 'f', 2) + QStringLiteral(" мА"));
    if (a.Status != TAnswerStatus::Ok) {
        d.Failed = true;
        if (d.Problem.isEmpty())
            d.Problem = n < 8 ? QStringLiteral("ответ короче 8 байт")
                              : QStringLiteral("CRC-8 ответа неверна");
    }
}

// The command's name: the caption of the main window's action, or of the parameter's read or
// write action, or a name of its own for the steps of the longer commands.
QString NameOfCode(int code) {
    if (code < 0)
        return QString();
    for (const TCommandRow& row : CommandRows())
        if (row.Code == code)
            return TextCaption(row.Text).trimmed();
    if (const TParamRow* row = ParamByCode(code)) {
        const TParamText& text = row->ReadCode == code ? row->Read : row->Write;
        QString caption = TextCaption(text).trimmed();
        if (caption.isEmpty())
            caption = row->ReadCode == code ? ReadHint(*row) : WriteHint(*row);
        if (!caption.isEmpty())
            return caption;
        return (row->ReadCode == code ? QStringLiteral("Считать ") : QStringLiteral("Записать ")) +
               ParamTitle(*row);
    }
    switch (code) {
    case UlmarCmd::ZeroBlockRead:
        return QStringLiteral("Считать блок массива нулей");
    case UlmarCmd::TaraLevelRead:
        return QStringLiteral("Считать уровни таблицы тарировки");
    case UlmarCmd::TaraVolumeRead:
        return QStringLiteral("Считать объемы таблицы тарировки");
    case UlmarCmd::TaraLevelWrite:
        return QStringLiteral("Записать уровни таблицы тарировки");
    case UlmarCmd::TaraVolumeWrite:
        return QStringLiteral("Записать объемы таблицы тарировки");
    case UlmarCmd::KalistCurrent:
        return QStringLiteral("КАЛИСТ-1: ток");
    default:
        return QString();
    }
}

// The longest gauge answer: a tare part, 32 floats (133 bytes).
constexpr int MaxAnswerLength = 3 + 4 * TarePointCount + 2;

bool IsKalistRequest(const QByteArray& request) {
    QByteArray frame = KalistRequest();
    frame.append(static_cast<char>(Crc8(frame)));
    return request == frame;
}

} // namespace

QString ExchangeCommandName(int code) {
    return NameOfCode(code);
}

int ExchangeCodeOfRequest(const QByteArray& request) {
    return RequestCodeOf(request);
}

TDecodedExchange DecodeExchange(const TExchangeRecord& raw) {
    TDecodedExchange d;
    d.TimeMs = raw.TimeMs;
    d.BytesSent = static_cast<int>(raw.Request.size());
    d.BytesReceived = static_cast<int>(raw.Answer.size());
    d.DelayMs = raw.DelayMs;
    d.DurationMs = raw.DurationMs;
    d.ResultText = raw.ResultText;
    if (!raw.ResultText.isEmpty() && raw.Result != 0)
        d.Failed = true;

    if (raw.Device == 1 || raw.Code == UlmarCmd::KalistCurrent ||
        (raw.Code < 0 && IsKalistRequest(raw.Request))) {
        d.Code = UlmarCmd::KalistCurrent;
        RenderKalist(raw, d);
        return d;
    }

    const TFrame r(raw.Request);
    const int inferred = RequestCodeOf(raw.Request);
    d.Code = raw.Code >= 0 ? raw.Code : inferred;
    d.CommandName = NameOfCode(d.Code);
    QStringList problems;
    if (r.Size() == 0) {
        problems << QStringLiteral("нет запроса");
    } else {
        d.Address = static_cast<quint8>(raw.Request[0]);
        TOut out{d.RequestFields, {}};
        TAsked asked;
        DecodeRequest(r, out, asked);
        if (!out.Cut.isEmpty())
            problems << QStringLiteral("запрос обрезан: нет поля «%1»").arg(out.Cut);
        else if (!CheckCrc16(raw.Request))
            problems << QStringLiteral("CRC запроса неверна");
        if (d.CommandName.isEmpty() && asked.Command >= 0)
            d.CommandName = QStringLiteral("Команда %1").arg(Hex2(asked.Command));
        if (inferred < 0 && asked.Command >= 0 && out.Cut.isEmpty())
            problems << QStringLiteral("запрос не соответствует ни одной команде");

        // The answer, as far as the codec could read it.
        const TAnswer a = DecodeFields(raw.Request, raw.Answer);
        const int n = static_cast<int>(raw.Answer.size());
        if (n == 0) {
            d.ChecksumVerdict = QString::fromUtf8(DecodeVerdict::NoAnswer);
            d.Failed = true;
        } else {
            TOut answerOut{d.AnswerFields, {}};
            TAnswerOutcome outcome;
            RenderAnswer(a, asked, answerOut, outcome);
            const bool crc = CheckCrc16(raw.Answer);
            const int announced = a.HeaderPresent >= 3 ? a.LengthByte + 4 : -1;
            if (crc && n >= 5) {
                d.ChecksumVerdict = QString::fromUtf8(DecodeVerdict::Good);
            } else if (announced > MaxAnswerLength) {
                // No gauge answer is that long: the length byte itself is garbled.
                d.ChecksumVerdict = QString::fromUtf8(DecodeVerdict::Bad);
                problems << QStringLiteral("байт длины %1 не может быть верным").arg(a.LengthByte);
            } else if (n < 5 || (announced > 0 && n < announced)) {
                d.ChecksumVerdict = QString::fromUtf8(DecodeVerdict::Cut);
                problems << QStringLiteral("ответ обрезан: %1 байт из %2")
                                .arg(n)
                                .arg(announced > 0 ? QString::number(announced)
                                                   : QStringLiteral("не менее 5"));
            } else {
                d.ChecksumVerdict = QString::fromUtf8(DecodeVerdict::Bad);
                if (announced >= 5 && n > announced && CheckCrc16(raw.Answer.left(announced)))
                    problems << QStringLiteral("за верным ответом из %1 байт ещё %2 байт")
                                    .arg(announced)
                                    .arg(n - announced);
            }
            const std::optional<quint8> command =
                a.HeaderPresent >= 2 ? std::optional<quint8>(a.Command) : std::nullopt;
            if (command && !IsAcceptedAnswerCommand(*command))
                problems << QStringLiteral("неизвестная команда ответа %1").arg(Hex2(*command));
            else if (command && n < MinimumAnswerLength(*command, asked.Index))
                problems << QStringLiteral("ответ короче %1 байт")
                                .arg(MinimumAnswerLength(*command, asked.Index));
            else if (command && asked.Command >= 0 && *command != asked.Command &&
                     *command != ErrorAnswerCommand)
                problems << QStringLiteral("ответ на другую команду");
            if (!answerOut.Cut.isEmpty() &&
                d.ChecksumVerdict != QString::fromUtf8(DecodeVerdict::Cut))
                problems << QStringLiteral("в ответе нет поля «%1»").arg(answerOut.Cut);
            if (outcome.Failed || !crc || n < 5 ||
                (command && (!IsAcceptedAnswerCommand(*command) ||
                             n < MinimumAnswerLength(*command, asked.Index))))
                d.Failed = true;
        }
    }
    d.Problem = problems.join(QStringLiteral("; "));
    return d;
}

QStringList DecodedCsvHeader() {
    return {QStringLiteral("Время"),
            QStringLiteral("Адрес"),
            QStringLiteral("Код"),
            QStringLiteral("Команда"),
            QStringLiteral("Запрос"),
            QStringLiteral("Ответ"),
            QStringLiteral("CRC"),
            QStringLiteral("Отправлено, байт"),
            QStringLiteral("Принято, байт"),
            QStringLiteral("Задержка, мс"),
            QStringLiteral("Длительность, мс"),
            QStringLiteral("Результат"),
            QStringLiteral("Сбой"),
            QStringLiteral("Причина")};
}

QString DecodedTimeText(qint64 timeMs) {
    if (timeMs <= 0)
        return QString();
    return QDateTime::fromMSecsSinceEpoch(timeMs).toString(
        QStringLiteral("dd.MM.yyyy hh:mm:ss,zzz"));
}

namespace {
QString MsText(double ms) {
    return ms < 0 ? QString() : QString::number(ms, 'f', 1);
}
} // namespace

QStringList DecodedCsvFields(const TDecodedExchange& d) {
    return {DecodedTimeText(d.TimeMs),
            d.Address >= 0 ? QString::number(d.Address) : QString(),
            d.Code >= 0 ? QString::number(d.Code) : QString(),
            d.CommandName,
            d.RequestFields.join(QStringLiteral("; ")),
            d.AnswerFields.join(QStringLiteral("; ")),
            d.ChecksumVerdict,
            QString::number(d.BytesSent),
            QString::number(d.BytesReceived),
            MsText(d.DelayMs),
            MsText(d.DurationMs),
            d.ResultText,
            d.Failed ? QStringLiteral("да") : QStringLiteral("нет"),
            d.Problem};
}

QString CsvLine(const QStringList& fields) {
    QStringList quoted;
    for (const QString& field : fields) {
        if (field.contains(QLatin1Char(';')) || field.contains(QLatin1Char('"')) ||
            field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'))) {
            QString q = field;
            q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            quoted << QLatin1Char('"') + q + QLatin1Char('"');
        } else {
            quoted << field;
        }
    }
    return quoted.join(QLatin1Char(';'));
}

// --- request log lines ---

namespace {

// Bytes of one bracketed part; false with the reason when a token is not a byte in the radix.
bool ParseBytes(const QString& text, int radix, QByteArray& bytes, QString& reason) {
    const QStringList tokens = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& token : tokens) {
        bool ok = false;
        const int value = token.toInt(&ok, radix);
        if (!ok || value < 0 || value > 255 || token.size() != (radix == 16 ? 2 : 3)) {
            reason = QStringLiteral("не байт: «%1»").arg(token);
            return false;
        }
        bytes.append(static_cast<char>(value));
    }
    return true;
}

// 16 when every token has two characters, 10 when every token has three; 0 when neither.
int RadixOf(const QString& a, const QString& b) {
    int two = 0;
    int three = 0;
    for (const QString& part : {a, b})
        for (const QString& token : part.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (token.size() == 2)
                ++two;
            else if (token.size() == 3)
                ++three;
            else
                return 0;
        }
    if (two > 0 && three > 0)
        return 0;
    return three > 0 ? 10 : 16;
}

} // namespace

bool ParseRequestLogLine(const QString& lineIn, TExchangeRecord& raw, QString& reason) {
    raw = TExchangeRecord();
    reason.clear();
    QString line = lineIn;
    if (line.startsWith(QChar(0xFEFF))) // a byte-order mark left by an editor
        line.remove(0, 1);
    while (line.endsWith(QLatin1Char('\r')) || line.endsWith(QLatin1Char('\n')))
        line.chop(1);
    int at = 0;
    const QString stampFormat = QStringLiteral("dd.MM.yyyy hh:mm:ss,zzz");
    if (!line.startsWith(QLatin1Char('['))) {
        const QDateTime stamp = QDateTime::fromString(line.left(stampFormat.size()), stampFormat);
        if (!stamp.isValid()) {
            reason = QStringLiteral("нет отметки времени");
            return false;
        }
        raw.TimeMs = stamp.toMSecsSinceEpoch();
        at = static_cast<int>(stampFormat.size());
        while (at < line.size() && line[at] == QLatin1Char(' '))
            ++at;
    }
    const QString arrow = QStringLiteral("] -> [");
    if (at >= line.size() || line[at] != QLatin1Char('[')) {
        reason = QStringLiteral("нет запроса в скобках");
        return false;
    }
    const qsizetype mid = line.indexOf(arrow, at);
    if (mid < 0) {
        reason = QStringLiteral("нет «-> [»");
        return false;
    }
    const qsizetype close = line.indexOf(QLatin1Char(']'), mid + arrow.size());
    if (close < 0) {
        reason = QStringLiteral("нет закрывающей скобки ответа");
        return false;
    }
    const QString sent = line.mid(at + 1, mid - at - 1);
    const QString received = line.mid(mid + arrow.size(), close - mid - arrow.size());
    const int radix = RadixOf(sent, received);
    if (radix == 0) {
        reason = QStringLiteral("байты ни десятичные, ни шестнадцатеричные");
        return false;
    }
    if (!ParseBytes(sent, radix, raw.Request, reason) ||
        !ParseBytes(received, radix, raw.Answer, reason))
        return false;
    if (raw.Request.isEmpty()) {
        reason = QStringLiteral("пустой запрос");
        return false;
    }
    raw.ResultText = line.mid(close + 1).trimmed();
    raw.Result = raw.ResultText.isEmpty() ? LinkResult::Ok : LinkResult::NoAnswer;
    raw.Device = IsKalistRequest(raw.Request) ? 1 : 0;
    raw.Code = raw.Device == 1 ? UlmarCmd::KalistCurrent : ExchangeCodeOfRequest(raw.Request);
    return true;
}
