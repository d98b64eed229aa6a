#pragma once
// The main window's parameter-file commands: saving with its questions, loading through the open
// dialog. The file itself (name, keys, reading and writing) is commands/uParamFile.h.
// User-interface thread. The device object is changed under the link's exchange lock when a
// link is given.

#include "uParamFile.h"

#include <QDate>
#include <QString>

class QWidget;
class TDeviceLink;
class TUlmar;

// The questions, the error box and the open dialog run through ExecModal (ui/uModal.h), so
// that a test's ModalHook answers them.

// SaveParameters: asks about plant number 0 and about replacing today's file, then writes
// it; an error box names the file that could not be written. True when the file was written.
bool SaveParamFile(TUlmar& ulmar, const QDate& date = QDate::currentDate());
// LoadParameters: the open dialog ("Параметры приборов (*.ini)") in the program type's
// directory, then ReadParamFile. True when a file was loaded; the caller refreshes.
bool LoadParamFile(TUlmar& ulmar, QWidget* parent, TDeviceLink* link = nullptr);
// The open dialog of parameter files ("Параметры приборов (*.ini)") in dir; the chosen file, or
// empty when cancelled.
QString OpenParamFileDialog(QWidget* parent, const QString& dir);
