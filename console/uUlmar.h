#pragma once
// Parameter files: one gauge's parameter set kept as "PN" + plant number + "-" + yyyymmdd +
// ".ini" (Windows-1251) in the subdirectory "M10" or "M20" of the program's directory.
// Saving and loading touch only the device object; nothing is sent to the gauge.
// User-interface thread. The device object is changed under the link's exchange lock when a
// link is given.

#include <QDate>
#include <QString>

class QWidget;
class TDeviceLink;
class TUlmar;

// The questions, the error box and the open dialog run through ExecModal (values/uModal.h), so
// that a test's ModalHook answers them.

// ProgramDir()/"M10" for program type 0, ProgramDir()/"M20" for 1, empty for any other.
QString ParamFileDir(quint8 programType);
// D + "PN" + "%.5d" plant number + "-" + yyyymmdd + ".ini"; empty when D is empty.
QString ParamFileName(const TUlmar& ulmar, const QDate& date = QDate::currentDate());

// Writes section "Ulmar" and the five point sections into fileName, replacing each key in
// place and keeping every other line; creates missing directories. No questions.
// False when the file could not be written (the old file is then left as it was).
bool WriteParamFile(const TUlmar& ulmar, const QString& fileName);
// Reads fileName into the device object (missing or unreadable keys give the file defaults;
// reals are read with either decimal separator), then UpdateRanges.
void ReadParamFile(TUlmar& ulmar, const QString& fileName);
// As above, through the link's exchange lock when the link polls this device object, so that a
// running poll cycle never reads a field while the file is loaded.
void ReadParamFile(TUlmar& ulmar, const QString& fileName, TDeviceLink* link);

// SaveParameters: asks about plant number 0 and about replacing today's file, then writes
// it; an error box names the file that could not be written. True when the file was written.
bool SaveParamFile(TUlmar& ulmar, const QDate& date = QDate::currentDate());
// LoadParameters: the open dialog ("Параметры приборов (*.ini)") in the program type's
// directory, then ReadParamFile. True when a file was loaded; the caller refreshes.
bool LoadParamFile(TUlmar& ulmar, QWidget* parent, TDeviceLink* link = nullptr);

// Real number in the general format with up to 15 significant digits and the decimal
// separator of the current locale (QLocale()), as the parameter file stores it.
QString ParamFloatToString(double value);
