#include "console/uUlmar.h"
#include "devicelink/uRequestDevices.h"

#include "devicelink/Ulmar.h"
#include "devicelink/uIniFile.h"
#include "devicelink/uParamStr.h"
#include "devicelink/uPaths.h"
#include "values/uModal.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <cmath>

namespace {

const QString Caution = QStringLiteral("Внимание");

bool Ask(const QString& text, QMessageBox::Icon icon, QMessageBox::StandardButton defaultButton) {
    return ShowMessageBox(icon, Caution, text, QMessageBox::Yes | QMessageBox::No, defaultButton,
                          QApplication::activeWindow()) == QMessageBox::Yes;
}

QString OpenDialog(QWidget* parent, const QString& dir) {
    QFileDialog dialog(parent, QString(), dir, QStringLiteral("Параметры приборов (*.ini)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("ini"));
    if (ExecModal(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

// The device object's component name names the sections; "Ulmar" when it has none.
QString SectionName(const TUlmar& ulmar) {
    return ulmar.Name.isEmpty() ? QStringLiteral("Ulmar") : ulmar.Name;
}

QString PointSection(const TUlmar& ulmar, int row) {
    return SectionName(ulmar) + QStringLiteral("CurrentOutput") + QString::number(row + 1);
}

// Run-test row keys in file order, with the field each one stores.
struct TPointKey {
    const char* Key;
    double TProgonPoint::*Field;
};
const TPointKey PointKeys[] = {
    {"Sample", &TProgonPoint::Sample},
    {"Value", &TProgonPoint::Value},
    {"dValue", &TProgonPoint::dValue},
    {"CurrentSample", &TProgonPoint::CurrentSample},
    {"CurrentValue", &TProgonPoint::CurrentValue},
    {"dCurrentValue", &TProgonPoint::dCurrentValue},
};

} // namespace

QString ParamFloatToString(double value) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0.0)
        return QStringLiteral("0"); // also -0
    // The C general format switches to an exponent exactly where the desktop's general
    // format does (below 1E-4 and from 15 integer digits on); only its spelling differs.
    QString text = QString::number(value, 'g', 15);
    const qsizetype e = text.indexOf(QLatin1Char('e'));
    if (e >= 0)
        text = text.left(e) + QLatin1Char('E') + QString::number(text.mid(e + 1).toInt());
    return text.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

QString ParamFileDir(quint8 programType) {
    switch (programType) {
    case 0:
        return JoinPath(ProgramDir(), QStringLiteral("M10"));
    case 1:
        return JoinPath(ProgramDir(), QStringLiteral("M20"));
    default:
        return QString();
    }
}

QString ParamFileName(const TUlmar& ulmar, const QDate& date) {
    const QString dir = ParamFileDir(ulmar.ProgramType);
    if (dir.isEmpty())
        return QString();
    return JoinPath(dir, QStringLiteral("PN") + QString::asprintf("%.5d", int(ulmar.PlantNumber)) +
                             QLatin1Char('-') + date.toString(QStringLiteral("yyyyMMdd")) +
                             QStringLiteral(".ini"));
}

bool WriteParamFile(const TUlmar& ulmar, const QString& fileName) {
    TIniFile ini(fileName, TIniFile::Encoding::Windows1251);
    const QString s = SectionName(ulmar);
    const auto integer = [&](const char* key, qint64 value) {
        ini.WriteInteger(s, QLatin1String(key), value);
    };
    const auto real = [&](const char* key, double value) {
        ini.WriteString(s, QLatin1String(key), ParamFloatToString(value));
    };
    integer("PlantNumber", ulmar.PlantNumber);
    integer("HardVersion", ulmar.HardVersion);
    integer("SoftVersion", ulmar.SoftVersion);
    integer("SystemAddress", ulmar.SystemAddress);
    integer("UserPsw", ulmar.UserPsw);
    ini.WriteString(s, QStringLiteral("PPM"), ulmar.PPM);
    ini.WriteString(s, QStringLiteral("NNZ"), ulmar.NNZ);
    real("Dist1", ulmar.Dist1());
    real("Dist2", ulmar.Dist2());
    real("KKalman", ulmar.KKalman());
    real("Relay1Ust1", ulmar.Relay1Ust1);
    real("Relay1Ust2", ulmar.Relay1Ust2);
    real("Relay2Ust1", ulmar.Relay2Ust1);
    real("Relay2Ust2", ulmar.Relay2Ust2);
    integer("ModeImage", ulmar.ModeImage);
    integer("ModeCurrentOutput", ulmar.ModeCurrentOutput);
    integer("ProgramType", ulmar.ProgramType);
    integer("ModeProcessing", ulmar.ModeProcessing);
    integer("ModeInputFilter", ulmar.ModeInputFilter);
    integer("ModeChannel", ulmar.ModeChannel);
    integer("ModeCalibr", ulmar.ModeCalibr);
    integer("ModeTermostat", ulmar.ModeTermostat);
    real("KrPer", ulmar.KrPer);
    real("SmPer", ulmar.SmPer);
    real("KrPerOpCh", ulmar.KrPerOpCh);
    real("SmPerOpCh", ulmar.SmPerOpCh);
    real("FreqCalibr", ulmar.FreqCalibr);
    real("kkk1", ulmar.kkk1);
    real("kkk2", ulmar.kkk2);
    real("kkk3", ulmar.kkk3);
    real("Speed", ulmar.Speed());
    integer("TemperCompareTermostat", ulmar.TemperCompareTermostat);
    integer("PlantNumberSVCH", ulmar.PlantNumberSVCH);
    integer("TypeSVCH", ulmar.TypeSVCH);
    for (int row = 0; row < TUlmar::ProgonRowCount; ++row) {
        const QString p = PointSection(ulmar, row);
        for (const TPointKey& k : PointKeys)
            ini.WriteString(p, QLatin1String(k.Key),
                            ParamFloatToString(ulmar.ProgonPoints[row].*k.Field));
    }
    // The whole file is replaced at once: a failure leaves the old file as it was.
    return ini.Save(true);
}

void ReadParamFile(TUlmar& ulmar, const QString& fileName) {
    const TIniFile ini(fileName, TIniFile::Encoding::Windows1251);
    const QString s = SectionName(ulmar);
    const auto integer = [&](const char* key, qint64 def) {
        return ini.ReadInteger(s, QLatin1String(key), def);
    };
    // Either decimal separator is read, so a file from a desktop with the other one loads.
    const auto real = [&](const char* key, double def) {
        return ini.ReadFloat(s, QLatin1String(key), def);
    };
    ulmar.SystemAddress = quint8(integer("SystemAddress", 255));
    ulmar.PlantNumber = quint16(integer("PlantNumber", 65535));
    ulmar.PPM = ini.ReadString(s, QStringLiteral("PPM"), QString());
    ulmar.NNZ = ini.ReadString(s, QStringLiteral("NNZ"), QString());
    ulmar.UserPsw = quint16(integer("UserPsw", 65535));
    ulmar.SetDist1(real("Dist1", 0));
    ulmar.SetDist2(real("Dist2", 30000));
    ulmar.SetKKalman(real("KKalman", 1));
    ulmar.Relay1Ust1 = real("Relay1Ust1", 0);
    ulmar.Relay1Ust2 = real("Relay1Ust2", 0);
    ulmar.Relay2Ust1 = real("Relay2Ust1", 0);
    ulmar.Relay2Ust2 = real("Relay2Ust2", 0);
    ulmar.ModeImage = quint8(integer("ModeImage", 1));
    ulmar.ModeCurrentOutput = quint8(integer("ModeCurrentOutput", 0));
    ulmar.ProgramType = quint8(integer("ProgramType", 0));
    ulmar.ModeProcessing = quint8(integer("ModeProcessing", 0));
    ulmar.ModeInputFilter = quint8(integer("ModeInputFilter", 0));
    ulmar.ModeChannel = quint8(integer("ModeChannel", 0));
    ulmar.ModeCalibr = quint8(integer("ModeCalibr", 0));
    ulmar.ModeTermostat = quint8(integer("ModeTermostat", 0));
    ulmar.KrPer = real("KrPer", 0);
    ulmar.SmPer = real("SmPer", 0);
    ulmar.KrPerOpCh = real("KrPerOpCh", 0);
    ulmar.SmPerOpCh = real("SmPerOpCh", 0);
    ulmar.FreqCalibr = real("FreqCalibr", 0);
    ulmar.kkk1 = real("kkk1", 0);
    ulmar.kkk2 = real("kkk2", 0);
    ulmar.kkk3 = real("kkk3", 0);
    ulmar.SetSpeed(real("Speed", 0));
    ulmar.TemperCompareTermostat = qint8(quint8(integer("TemperCompareTermostat", 0)));
    ulmar.PlantNumberSVCH = quint16(integer("PlantNumberSVCH", 0));
    ulmar.TypeSVCH = quint8(integer("TypeSVCH", 0));
    ulmar.UpdateRanges();
    for (int row = 0; row < TUlmar::ProgonRowCount; ++row) {
        const QString p = PointSection(ulmar, row);
        for (const TPointKey& k : PointKeys)
            ulmar.ProgonPoints[row].*k.Field = ini.ReadFloat(p, QLatin1String(k.Key), 0);
    }
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
    const QString fileName = OpenDialog(parent, dir);
    if (fileName.isEmpty())
        return false;
    ReadParamFile(ulmar, fileName, link);
    return true;
}

void ReadParamFile(TUlmar& ulmar, const QString& fileName, TDeviceLink* link) {
    if (link && link->Ulmar() == &ulmar)
        link->EditDevice([&fileName](TUlmar& device) { ReadParamFile(device, fileName); });
    else
        ReadParamFile(ulmar, fileName);
}
