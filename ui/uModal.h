#pragma once
// Modal dialogs of the operator's commands: every message box, input dialog and settings dialog
// runs through ExecModal, so that a replaced ModalHook can answer it without a modal loop.
// User-interface thread.

#include <QMessageBox>
#include <QString>
#include <functional>

class QDialog;

// Called instead of dialog->exec() when assigned; returns what exec() would (a dialog code, or
// the standard button for a message box). The dialog is fully built, not yet shown.
using TModalHook = std::function<int(QDialog* dialog)>;
extern TModalHook ModalHook;

// Shows the dialog modally (or hands it to ModalHook) and returns its result.
int ExecModal(QDialog* dialog);

// A message box with the given icon, caption, text, buttons and default button, and details
// (the long part, shown on demand) when given; returns the button pressed (the escape button's
// code when the box is closed otherwise).
QMessageBox::StandardButton
ShowMessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
               QMessageBox::StandardButtons buttons = QMessageBox::Ok,
               QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
               QWidget* parent = nullptr, const QString& details = {});

// The standard one-line text box: the entered text, or `text` when cancelled.
QString InputBox(const QString& caption, const QString& prompt, const QString& text);
