#pragma once
// Parameter files: one gauge's parameter set kept as "PN" + plant number + "-" + yyyymmdd +
// ".ini" (Windows-1251) in the subdirectory "M10" or "M20" of the program's directory; the
// keys of section "Ulmar" are those of the parameter table. Reading and writing touch only the
// device object; nothing is sent to the gauge. No dialogs here (ui/uUlmar.h has the
// window's save and load with their questions).
// User-interface thread; the device object is changed under the link's exchange lock when a
// link is given.

#include "uParamTable.h"

#include <QDate>
#include <QString>
#include <vector>

class TDeviceLink;
class TUlmar;

// A parameter file holds about 1.5 KB; anything beyond this is not one and is not read.
constexpr qint64 ParamFileMaxBytes = 64 * 1024;

// ProgramDir()/"M10" for program type 0, ProgramDir()/"M20" for 1, empty for any other.
QString ParamFileDir(quint8 programType);
// D + "PN" + "%.5d" plant number + "-" + yyyymmdd + ".ini"; empty when D is empty.
QString ParamFileName(const TUlmar& ulmar, const QDate& date = QDate::currentDate());

// Writes section "Ulmar" and the five point sections into fileName, replacing each key in
// place and keeping every other line; creates missing directories. No questions.
// False when the file could not be written (the old file is then left as it was), among them a
// file in its place that is not read (see ReadParamFile).
bool WriteParamFile(const TUlmar& ulmar, const QString& fileName);
// Reads fileName into the device object (missing or unreadable keys give the file defaults;
// reals are read with either decimal separator), then UpdateRanges. A missing file gives the
// defaults of every key. A file that is no regular file, is larger than ParamFileMaxBytes or
// cannot be read is refused: false, the device object untouched, `error` "<path>: <reason>".
bool ReadParamFile(TUlmar& ulmar, const QString& fileName, QString* error = nullptr);
// As above, through the link's exchange lock when the link polls this device object, so that a
// running poll cycle never reads a field while the file is loaded.
bool ReadParamFile(TUlmar& ulmar, const QString& fileName, TDeviceLink* link,
                   QString* error = nullptr);

// Reads the rows' keys of a file that is to be written to a gauge or compared with one, and
// refuses what ReadParamFile would quietly replace by a default: a file that is missing, not
// read (as ReadParamFile refuses it), has no section "Ulmar", lacks one of the keys, gives one
// of them twice (which of the values is meant is unknown), or holds a value that is not a
// number of the key's kind or lies outside the change dialog's bounds. False with the reason in
// `error` (naming the file and the key); `into` then holds the keys read before it.
bool LoadParamSet(const QString& fileName, const std::vector<const TParamRow*>& rows, TUlmar& into,
                  QString& error);

// Real number in the general format with up to 15 significant digits and the decimal
// separator of the current locale (QLocale()), as the parameter file stores it.
QString ParamFloatToString(double value);
