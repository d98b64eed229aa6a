#pragma once
// Tare files: plain text in Windows-1251 with CR LF line ends, several named tables per file.
// Reading refuses files that cannot be a tare file; writing goes through a temporary file and
// a rename, so a failed save never truncates the only copy.

#include "Ulmar.h"

#include <QString>
#include <QStringList>
#include <array>

constexpr qint64 TareFileMaxBytes = 1 << 20;

// The file's text: Windows-1251 (a UTF-8 BOM marks UTF-8 and is stripped), refused when it is
// no regular file, larger than 1 MiB, holds NUL bytes or is unreadable; `error` is then the
// whole message: "Не удалось загрузить файл\r" + path, and for a file refused as it stands
// "\r" + the reason ("не обычный файл", "больше 1024 КБ", ...).
bool ReadTareFile(const QString& path, QString& text, QString& error);
// Windows-1251 through a temporary file and a rename; false, file untouched, when a character
// cannot be encoded or the write fails; `error` is then "Не удалось сохранить файл\r" + path,
// for a character followed by "\rСимвол «X» в строке N нельзя записать в кодировке
// Windows-1251".
bool WriteTareFile(const QString& path, const QString& text, QString& error);
// True when every character of the text has a Windows-1251 byte.
bool TareTextEncodable(const QString& text, int* badPosition = nullptr);
// The lines of a text, ended by CR LF, LF or CR (the line ends of files edited anywhere).
QStringList TareLines(const QString& text);
// The five-line comment block, each line ended by CR LF.
QString TareCommentBlock();
// The text of "Создать типовую таблицу" (ttDefault1 and ttDefault2), CR LF line ends.
QString TypicalTareText();
// The text of a table read from a gauge: comment block, "ttFromUlmar=N" with N the points that
// are not empty, their rows with "," as the decimal separator in fixed notation, an empty line.
QString GaugeTareText(const std::array<TTarePoint, 32>& points);
// A tare point the gauge holds as empty (FF FF FF FF).
bool TarePointEmpty(const TTarePoint& point);
