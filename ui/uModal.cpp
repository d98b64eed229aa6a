#include "uModal.h"

#include <QDialog>
#include <QInputDialog>

TModalHook ModalHook;

int ExecModal(QDialog* dialog) {
    if (ModalHook)
        return ModalHook(dialog);
    return dialog->exec();
}

QMessageBox::StandardButton ShowMessageBox(QMessageBox::Icon icon, const QString& caption,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton,
                                           QWidget* parent, const QString& details) {
    QMessageBox box(icon, caption, text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    if (!details.isEmpty())
        box.setDetailedText(details);
    const int result = ExecModal(&box);
    return static_cast<QMessageBox::StandardButton>(result);
}

QString InputBox(const QString& caption, const QString& prompt, const QString& text) {
    QInputDialog dialog;
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(text);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("Отменить"));
    if (ExecModal(&dialog) == QDialog::Accepted)
        return dialog.textValue();
    return text;
}
