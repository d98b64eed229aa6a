#pragma once
// Surroundings of the trend window tests: temporary program and archive directories, the
// Russian locale, rows written into the archive, and scripted answers to every modal dialog
// (message boxes are recorded). Test main thread only.

#include "tests/support/TestDirs.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uModal.h"
#include "uParamStr.h"
#include "uTrendData.h"

#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimeEdit>
#include <functional>
#include <memory>

// What the operator types into a time picker "HH:mm:ss": each section selected, then typed over.
inline void TypeTime(QTimeEdit* edit, const QString& text) {
    const QStringList parts = text.split(u':');
    const QDateTimeEdit::Section sections[] = {
        QDateTimeEdit::HourSection, QDateTimeEdit::MinuteSection, QDateTimeEdit::SecondSection};
    edit->setFocus();
    for (int i = 0; i < 3 && i < parts.size(); ++i) {
        edit->setSelectedSection(sections[i]);
        QTest::keyClicks(edit, parts.at(i));
    }
}

struct TSeenBox {
    QString Caption;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

class TTrendRig {
public:
    TTrendRig() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        SetArchiveRoot(QString());
        ModalHook = [this](QDialog* dialog) {
            if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
                Boxes.append({box->windowTitle(), box->text(), box->icon()});
                return int(QMessageBox::Ok);
            }
            return Answer ? Answer(dialog) : int(QDialog::Rejected);
        };
    }
    ~TTrendRig() {
        ModalHook = nullptr;
        SetArchiveRoot(QString());
    }

    static TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
        return QtToDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms)));
    }
    // One row a `stepSeconds` from start to stop with value f(k).
    static void Fill(const QString& table, TDateTime start, TDateTime stop, double stepSeconds,
                     const std::function<double(int)>& f) {
        int k = 0;
        for (TDateTime t = start; t <= stop; t += stepSeconds / 86400.0, ++k)
            AddArchiveRecord(table, t, f(k));
    }
    QString IniFile() const { return JoinPath(Dirs.Prog(), QStringLiteral("INI/fGraph.ini")); }
    void WriteIni(const QByteArray& text) const {
        QFile f(IniFile());
        if (f.open(QIODevice::WriteOnly))
            f.write(text);
    }
    QString ReadIni() const {
        QFile f(IniFile());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    int Count(const QString& text) const {
        int n = 0;
        for (const TSeenBox& b : Boxes)
            n += b.Text == text;
        return n;
    }

    TTestDirs Dirs;
    QList<TSeenBox> Boxes;
    // Answers every other modal dialog (range dialog, input dialog, file dialog, preview).
    std::function<int(QDialog*)> Answer;
};
