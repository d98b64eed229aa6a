#include "uUlmar.h"

#include "Ulmar.h"
#include "uModal.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

const QString Caution = QStringLiteral("Внимание");

bool Ask(const QString& text, QMessageBox::Icon icon, QMessageBox::StandardButton defaultButton) {
    return ShowMessageBox(icon, Caution, text, QMessageBox::Yes | QMessageBox::No, defaultButton,
                          QApplication::activeWindow()) == QMessageBox::Yes;
}

} // namespace

QString OpenParamFileDialog(QWidget* parent, const QString& dir) {
    QFileDialog dialog(parent, QString(), dir, QStringLiteral("Параметры приборов (*.ini)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("ini"));
    if (ExecModal(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

bool SaveParamFile(TUlmar& ulmar, const QDate& date) {
    if (ulmar.PlantNumber == 0 &&
        !Ask(QStringLiteral("Не указан заводской номер! Записать все равно?"),
             QMessageBox::Question, QMessageBox::No))
        return false;
    const QString dir = ParamFileDir(ulmar.ProgramType);
    if (dir.isEmpty())
        return false;
    QDir().mkpath(dir); // a failure here shows when the file is written
    const QString fileName = ParamFileName(ulmar, date);
    if (QFileInfo::exists(fileName) &&
        !Ask(QStringLiteral("Заменить существующий файл \n") + QDir::toNativeSeparators(fileName) +
                 QStringLiteral(" ?"),
             QMessageBox::Warning, QMessageBox::Yes))
        return false;
    if (WriteParamFile(ulmar, fileName))
        return true;
    ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"),
                   QStringLiteral("Не удалось записать файл ") + QDir::toNativeSeparators(fileName),
                   QMessageBox::Ok, QMessageBox::Ok, QApplication::activeWindow());
    return false;
}

bool LoadParamFile(TUlmar& ulmar, QWidget* parent, TDeviceLink* link) {
    const QString dir = ParamFileDir(ulmar.ProgramType);
    if (dir.isEmpty())
        return false;
    const QString fileName = OpenParamFileDialog(parent, dir);
    if (fileName.isEmpty())
        return false;
    QString error;
    if (ReadParamFile(ulmar, fileName, link, &error))
        return true;
    ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"),
                   QStringLiteral("Не удалось загрузить файл ") + error, QMessageBox::Ok,
                   QMessageBox::Ok, QApplication::activeWindow());
    return false;
}
