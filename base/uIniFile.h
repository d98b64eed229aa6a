#pragma once
// Sectioned key=value settings file with the behaviour of Windows profile files: sections and
// keys matched without regard to case, a written key replaced in place, a new key appended at
// the end of its section (a new section at the end of the file), every other line (comments,
// foreign keys, blank lines) kept as it was. The encoding is chosen by the caller: UTF-8 for
// settings, Windows-1251 for parameter and tare files; a file that starts with the UTF-8 byte
// order mark is UTF-8 whatever the caller chose (and stays so when saved). Only a regular file
// of a size fitting its kind is read (base/uSmallFile.h). One object per thread.

#include <QList>
#include <QString>
#include <QStringList>

// A settings file holds a few dozen lines; anything this large is not one.
constexpr qint64 IniFileMaxBytes = 1024 * 1024;

class TIniFile {
public:
    enum class Encoding { Utf8, Windows1251 };

    // A settings file: read if it exists; a missing file reads as empty. A file that cannot be
    // read, is no regular file or is larger than IniFileMaxBytes reads as empty too, is
    // reported through NoteRefusedSettingsFile and is never saved over.
    explicit TIniFile(const QString& fileName, Encoding encoding = Encoding::Utf8);
    // A file of the caller's own kind, refused above maxBytes; the caller reports a refusal
    // (ReadError), nothing is noted.
    TIniFile(const QString& fileName, Encoding encoding, qint64 maxBytes);

    const QString& FileName() const { return FileName_; }
    // True when something is at the path, even a refused file.
    bool FileExisted() const { return Existed_; }
    // Empty, or "<path>: <reason>" when the file is there but was not read.
    const QString& ReadError() const { return ReadError_; }

    // Every key line of every section of that name, in file order, with its line number
    // (from 1): a key given twice shows here, where ReadString takes the first.
    struct TKeyLine {
        QString Key;
        int Line = 0;
    };
    QList<TKeyLine> KeyLines(const QString& section) const;

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    // Keys of a section in file order.
    QStringList ReadSection(const QString& section) const;
    QStringList Sections() const;

    // The value as written (trimmed), or def when the key is missing.
    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // Decimal integers; "0x…" and "$…" are read as hexadecimal. Unreadable gives def.
    qint64 ReadInteger(const QString& section, const QString& key, qint64 def) const;
    // "0"/"1" (any integer: non-zero is true), "true"/"false"; unreadable gives def.
    bool ReadBool(const QString& section, const QString& key, bool def) const;
    // Decimal number with either '.' or ',' as the separator; unreadable gives def.
    double ReadFloat(const QString& section, const QString& key, double def) const;

    // Change the text in memory; Save writes it.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, qint64 value);
    void WriteBool(const QString& section, const QString& key, bool value); // 0 or 1
    void EraseSection(const QString& section);
    void DeleteKey(const QString& section, const QString& key);

    // Writes the whole text to the file through a temporary file and a rename, so that a
    // failure halfway leaves the old file intact. Creates missing directories only when
    // createDirs is true. Returns false on any failure.
    bool Save(bool createDirs = false);

private:
    void Read(qint64 maxBytes);
    int FindSection(const QString& section) const; // index of the header line or -1
    int FindKey(int sectionLine, const QString& key) const;
    int SectionEnd(int sectionLine) const; // line after the last key line of the section
    QByteArray Encode(const QString& line) const;
    void SetLine(int index, const QString& line);
    void InsertLine(int index, const QString& line);
    void RemoveLine(int index);

    QString FileName_;
    Encoding Encoding_;
    bool Existed_ = false;
    // The file existed but could not be read: Save refuses, so that its content is not lost.
    bool ReadFailed_ = false;
    QString ReadError_;
    QStringList Lines_;
    // The bytes of each line with its line end, as read; rewritten only for changed lines, so
    // untouched lines (even undecodable ones) are saved byte for byte.
    QList<QByteArray> Raw_;
    QByteArray Bom_;
    QByteArray Eol_ = QByteArrayLiteral("\r\n");
};
