#include "uIniFile.h"
#include "uSmallFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cmath>
#include <limits>

namespace {

const char* const Cp1251 = "windows-1251";

bool ParseSectionLine(const QString& line, QString* name) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    *name = t.mid(1, close - 1).trimmed();
    return true;
}

bool ParseKeyLine(const QString& line, QString* key, QString* value) {
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')) ||
        t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return false;
    *key = t.left(eq).trimmed();
    if (key->isEmpty())
        return false;
    if (value)
        *value = t.mid(eq + 1).trimmed();
    return true;
}

bool SameName(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

// A line break inside a name or a value would split the line and corrupt the file.
QString OneLine(const QString& text) {
    QString s = text;
    s.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s.trimmed();
}

} // namespace

TIniFile::TIniFile(const QString& fileName, Encoding encoding)
    : FileName_(fileName), Encoding_(encoding) {
    Read(IniFileMaxBytes);
    if (!ReadError_.isEmpty())
        NoteRefusedSettingsFile(ReadError_);
}

TIniFile::TIniFile(const QString& fileName, Encoding encoding, qint64 maxBytes)
    : FileName_(fileName), Encoding_(encoding) {
    Read(maxBytes);
}

void TIniFile::Read(qint64 maxBytes) {
    QByteArray data;
    QString reason;
    const TSmallFileRead read = ReadSmallRegularFile(FileName_, maxBytes, data, reason);
    Existed_ = read != TSmallFileRead::Missing;
    if (read == TSmallFileRead::Refused) {
        ReadFailed_ = true;
        ReadError_ = FileRefusalText(FileName_, reason);
        return;
    }
    // The byte order mark says UTF-8 whatever the caller expected (a parameter file kept by an
    // editor that writes UTF-8); lines written later are UTF-8 too, to match it.
    if (data.startsWith("\xEF\xBB\xBF")) {
        Bom_ = data.left(3);
        data.remove(0, 3);
        Encoding_ = Encoding::Utf8;
    }
    const qsizetype firstLf = data.indexOf('\n');
    Eol_ = (firstLf > 0 && data.at(firstLf - 1) == '\r') || firstLf < 0 ? QByteArrayLiteral("\r\n")
                                                                        : QByteArrayLiteral("\n");

    QStringDecoder decoder(Encoding_ == Encoding::Windows1251 ? Cp1251 : "UTF-8");
    if (!decoder.isValid()) {
        ReadFailed_ = true;
        ReadError_ = FileRefusalText(FileName_, QStringLiteral("нет кодировки windows-1251"));
        return;
    }
    qsizetype pos = 0;
    while (pos < data.size()) {
        qsizetype lf = data.indexOf('\n', pos);
        const qsizetype end = lf < 0 ? data.size() : lf + 1;
        const QByteArray raw = data.mid(pos, end - pos);
        QByteArray text = raw;
        if (text.endsWith('\n'))
            text.chop(1);
        if (text.endsWith('\r'))
            text.chop(1);
        // Each line is decoded on its own, so that a broken sequence cannot spill over.
        decoder.resetState();
        Lines_.append(decoder.decode(text));
        Raw_.append(raw);
        pos = end;
    }
}

QByteArray TIniFile::Encode(const QString& line) const {
    if (Encoding_ == Encoding::Utf8)
        return line.toUtf8() + Eol_;
    QStringEncoder encoder(Cp1251);
    QByteArray bytes = encoder.encode(line);
    return bytes + Eol_;
}

void TIniFile::SetLine(int index, const QString& line) {
    Lines_[index] = line;
    Raw_[index] = Encode(line);
}

void TIniFile::InsertLine(int index, const QString& line) {
    Lines_.insert(index, line);
    Raw_.insert(index, Encode(line));
}

void TIniFile::RemoveLine(int index) {
    Lines_.removeAt(index);
    Raw_.removeAt(index);
}

int TIniFile::FindSection(const QString& section) const {
    QString name;
    for (int i = 0; i < Lines_.size(); ++i)
        if (ParseSectionLine(Lines_.at(i), &name) && SameName(name, section))
            return i;
    return -1;
}

int TIniFile::FindKey(int sectionLine, const QString& key) const {
    QString name, k;
    for (int i = sectionLine + 1; i < Lines_.size(); ++i) {
        if (ParseSectionLine(Lines_.at(i), &name))
            break;
        if (ParseKeyLine(Lines_.at(i), &k, nullptr) && SameName(k, key))
            return i;
    }
    return -1;
}

int TIniFile::SectionEnd(int sectionLine) const {
    QString name, k;
    int end = sectionLine + 1;
    for (int i = sectionLine + 1; i < Lines_.size(); ++i) {
        if (ParseSectionLine(Lines_.at(i), &name))
            break;
        if (ParseKeyLine(Lines_.at(i), &k, nullptr))
            end = i + 1;
    }
    return end;
}

bool TIniFile::SectionExists(const QString& section) const {
    return FindSection(section) >= 0;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    const int s = FindSection(section);
    return s >= 0 && FindKey(s, key) >= 0;
}

QStringList TIniFile::ReadSection(const QString& section) const {
    QStringList keys;
    const int s = FindSection(section);
    if (s < 0)
        return keys;
    QString name, k;
    for (int i = s + 1; i < Lines_.size(); ++i) {
        if (ParseSectionLine(Lines_.at(i), &name))
            break;
        if (ParseKeyLine(Lines_.at(i), &k, nullptr))
            keys << k;
    }
    return keys;
}

QList<TIniFile::TKeyLine> TIniFile::KeyLines(const QString& section) const {
    QList<TKeyLine> keys;
    bool inside = false;
    QString name, k;
    for (int i = 0; i < Lines_.size(); ++i) {
        if (ParseSectionLine(Lines_.at(i), &name))
            inside = SameName(name, section);
        else if (inside && ParseKeyLine(Lines_.at(i), &k, nullptr))
            keys.append({k, i + 1});
    }
    return keys;
}

QStringList TIniFile::Sections() const {
    QStringList names;
    QString name;
    for (const QString& line : Lines_)
        if (ParseSectionLine(line, &name))
            names << name;
    return names;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const int s = FindSection(section);
    if (s < 0)
        return def;
    const int k = FindKey(s, key);
    if (k < 0)
        return def;
    QString name, value;
    ParseKeyLine(Lines_.at(k), &name, &value);
    return value;
}

qint64 TIniFile::ReadInteger(const QString& section, const QString& key, qint64 def) const {
    QString text = ReadString(section, key, QString()).trimmed();
    if (text.isEmpty())
        return def;
    bool negative = false;
    if (text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+'))) {
        negative = text.startsWith(QLatin1Char('-'));
        text.remove(0, 1);
    }
    int base = 10;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        text.remove(0, 2);
    } else if (text.startsWith(QLatin1Char('$'))) {
        base = 16;
        text.remove(0, 1);
    }
    // A sign or prefix must be followed by digits only (toLongLong would accept blanks).
    if (text.isEmpty() || !text.at(0).isLetterOrNumber())
        return def;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, base);
    if (!ok)
        return def;
    return negative ? -value : value;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    const QString text = ReadString(section, key, QString());
    if (SameName(text, QStringLiteral("true")))
        return true;
    if (SameName(text, QStringLiteral("false")))
        return false;
    const qint64 none = std::numeric_limits<qint64>::min();
    const qint64 value = ReadInteger(section, key, none);
    if (value == none)
        return def;
    return value != 0;
}

double TIniFile::ReadFloat(const QString& section, const QString& key, double def) const {
    QString text = ReadString(section, key, QString());
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    // "nan" and "inf" are not numbers a setting may hold.
    if (!ok || !std::isfinite(value))
        return def;
    return value;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const QString sec = OneLine(section);
    const QString k = OneLine(key);
    const QString v = OneLine(value);
    const int s = FindSection(sec);
    if (s < 0) {
        InsertLine(Lines_.size(), QLatin1Char('[') + sec + QLatin1Char(']'));
        InsertLine(Lines_.size(), k + QLatin1Char('=') + v);
        return;
    }
    const int line = FindKey(s, k);
    if (line >= 0) {
        QString oldKey;
        ParseKeyLine(Lines_.at(line), &oldKey, nullptr);
        SetLine(line, oldKey + QLatin1Char('=') + v);
        return;
    }
    InsertLine(SectionEnd(s), k + QLatin1Char('=') + v);
}

void TIniFile::WriteInteger(const QString& section, const QString& key, qint64 value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::EraseSection(const QString& section) {
    const int s = FindSection(section);
    if (s < 0)
        return;
    QString name;
    int end = s + 1;
    while (end < Lines_.size() && !ParseSectionLine(Lines_.at(end), &name))
        ++end;
    while (end > s)
        RemoveLine(--end);
}

void TIniFile::DeleteKey(const QString& section, const QString& key) {
    const int s = FindSection(section);
    if (s < 0)
        return;
    const int k = FindKey(s, key);
    if (k >= 0)
        RemoveLine(k);
}

bool TIniFile::Save(bool createDirs) {
    // A file that was not read is not replaced: its content would be lost. Nor is a FIFO, a
    // device or a directory that took the file's place since it was read.
    if (ReadFailed_ || !MaySaveOver(FileName_))
        return false;
    if (Encoding_ == Encoding::Windows1251 && !QStringEncoder(Cp1251).isValid())
        return false;
    const QString dir = QFileInfo(FileName_).absolutePath();
    if (!QDir(dir).exists() && (!createDirs || !QDir().mkpath(dir)))
        return false;

    QByteArray data = Bom_;
    for (int i = 0; i < Raw_.size(); ++i) {
        data += Raw_.at(i);
        // The last line of the file as read may lack its line end; lines added after it need one.
        if (i + 1 < Raw_.size() && !Raw_.at(i).endsWith('\n'))
            data += Eol_;
    }
    QSaveFile file(FileName_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
