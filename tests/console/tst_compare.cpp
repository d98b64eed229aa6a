// "Сравнить с файлом…" in the main window against the simulator: the differing rows marked and
// checked, "Записать отмеченные" writing only those with one commit and a read-back that marks a
// parameter the gauge did not take, the factory set in factory mode, a malformed file refused;
// and the tool windows' value labels naming actions the main window has.

#include "fCompare.h"
#include "fMain.h"
#include "tests/console/ConsoleRig.h"
#include "uActionLink.h"
#include "uConsole.h"
#include "uParamFile.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

namespace {

QStringList Keys(const std::vector<const TParamRow*>& rows) {
    QStringList keys;
    for (const TParamRow* row : rows)
        keys << row->Key;
    return keys;
}

} // namespace

class TestCompare : public QObject {
    Q_OBJECT

    std::unique_ptr<TConsoleRig> Rig;
    std::unique_ptr<TModalScript> Script;
    std::unique_ptr<TFormMain> Form;

    void Open(bool factory) {
        Rig = std::make_unique<TConsoleRig>();
        QVERIFY(Rig->SimStarted);
        Script = std::make_unique<TModalScript>();
        Form = std::make_unique<TFormMain>(Rig->Link.get(), TCommandLineModes{factory, false});
        Rig->Sim->ClearRecords();
    }
    // A parameter file holding the simulator's set with the given changes, in the folder the
    // open dialog starts in; the next open dialog picks it.
    QString OfferFile(const std::function<void(TUlmar&)>& change) {
        TUlmar set;
        set.Name = "Ulmar"; // a fresh device object holds the simulator's defaults
        set.TemperCompareTermostat = 35;
        change(set);
        const QString path = ParamFileDir(0) + "/PN01001-20240305.ini";
        if (!WriteParamFile(set, path))
            return {};
        Script->Push([path](QDialog* d) {
            auto* files = qobject_cast<QFileDialog*>(d);
            if (!files)
                return int(QDialog::Rejected);
            files->selectFile(path);
            return int(QDialog::Accepted);
        });
        return path;
    }

private slots:
    void init() {}
    void cleanup() {
        Form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Script.reset();
        Rig.reset();
    }

    void writesTheCheckedRows() {
        Open(false);
        QVERIFY(!OfferFile([](TUlmar& u) {
                     u.SetDist1(1500);
                     u.Relay2Ust1 = 700;
                     u.KrPer = 5; // factory: not compared outside factory mode
                 }).isEmpty());
        // The gauge takes every write but keeps relay 2's first set-point.
        TSimFaultRule locked;
        locked.Value = 0xB30D;
        locked.Probability = 1;
        Rig->Sim->WithSim([&](TGaugeSim& s) { s.SetFault(TSimFault::LockedWrite, locked); });
        QStringList marked, checked, after, states;
        int rows = 0;
        QList<int> codesBeforeWrite;
        Script->Push([&](QDialog* d) {
            auto* dialog = qobject_cast<TFormCompare*>(d);
            if (!dialog)
                return int(QDialog::Rejected);
            rows = dialog->tblParams->rowCount();
            marked = Keys(dialog->Marked());
            checked = Keys(dialog->Checked());
            codesBeforeWrite = Rig->Codes();
            dialog->btnWrite->click();
            after = Keys(dialog->Marked());
            for (int r = 0; r < rows; ++r)
                if (!dialog->tblParams->item(r, 3)->text().isEmpty())
                    states << dialog->tblParams->item(r, 3)->text();
            return int(QDialog::Accepted);
        });
        Form->Action("actUlmarCompare")->trigger();
        QCOMPARE(rows, 11);
        QCOMPARE(marked, (QStringList{"Dist1", "Relay2Ust1"}));
        QCOMPARE(checked, marked);
        QCOMPARE(codesBeforeWrite, (QList<int>{66, 67, 69, 70, 71, 72, 68, 79, 62, 50, 52}));
        // Only the checked writes, one commit, then their read-back.
        QCOMPARE(Rig->Codes().mid(codesBeforeWrite.size()), (QList<int>{34, 40, 14, 66, 71}));
        QCOMPARE(after, (QStringList{"Relay2Ust1"}));
        QCOMPARE(states, (QStringList{"не принят"}));
        QCOMPARE(Rig->Ulmar->Dist1(), 1500.0);
        QVERIFY(!Form->Context().AllParamWriting);
        QVERIFY(Script->Boxes.isEmpty());
    }

    // The gauge refuses the first checked write: nothing more is written or committed, and both
    // rows show "не принят" with the gauge's value unknown, not the file's value.
    void refusedWriteShowsNoGaugeValue() {
        Open(false);
        QVERIFY(!OfferFile([](TUlmar& u) {
                     u.SetDist1(1500);
                     u.Relay2Ust1 = 700;
                 }).isEmpty());
        QStringList gauge, states;
        QList<int> codesBeforeWrite;
        Script->Push([&](QDialog* d) {
            auto* dialog = qobject_cast<TFormCompare*>(d);
            if (!dialog)
                return int(QDialog::Rejected);
            codesBeforeWrite = Rig->Codes();
            Rig->Fault(TSimFault::ErrorAnswer, 5);
            dialog->btnWrite->click();
            for (int r = 0; r < dialog->tblParams->rowCount(); ++r)
                if (!dialog->tblParams->item(r, 3)->text().isEmpty()) {
                    gauge << dialog->tblParams->item(r, 1)->text();
                    states << dialog->tblParams->item(r, 3)->text();
                }
            return int(QDialog::Accepted);
        });
        Form->Action("actUlmarCompare")->trigger();
        QCOMPARE(Rig->Codes().mid(codesBeforeWrite.size()), (QList<int>{34, 34, 34, 34, 34}));
        QCOMPARE(states, (QStringList{"не принят", "не принят"}));
        QCOMPARE(gauge, (QStringList{"—", "—"}));
    }

    void factorySetInFactoryMode() {
        Open(true);
        QVERIFY(!OfferFile([](TUlmar& u) {
                     u.KrPer = 5;
                     u.TypeSVCH = 2;
                 }).isEmpty());
        int rows = 0;
        QStringList marked;
        Script->Push([&](QDialog* d) {
            auto* dialog = qobject_cast<TFormCompare*>(d);
            rows = dialog ? dialog->tblParams->rowCount() : -1;
            if (dialog)
                marked = Keys(dialog->Marked());
            return int(QDialog::Accepted); // closed without writing
        });
        Form->Action("actUlmarCompare")->trigger();
        QCOMPARE(rows, 28);
        QCOMPARE(marked, (QStringList{"KrPer", "TypeSVCH"}));
        QVERIFY(!Rig->Codes().contains(14));
    }

    // A file with a value the change dialog would not take: an error box, nothing sent.
    void malformedFileRefused() {
        Open(false);
        QVERIFY(!OfferFile([](TUlmar& u) { u.ModeImage = 9; }).isEmpty());
        Form->Action("actUlmarCompare")->trigger();
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Caption, QStringLiteral("Ошибка"));
        QVERIFY2(Script->Boxes[0].Text.contains("ModeImage=9"), qPrintable(Script->Boxes[0].Text));
        QVERIFY(Rig->Codes().isEmpty());
    }

    // The comparison needs polling stopped, as the file commands beside it.
    void disabledWhilePolling() {
        Open(false);
        QAction* compare = Form->Action("actUlmarCompare");
        QCOMPARE(compare->text(), QStringLiteral("Сравнить с файлом…"));
        Form->Action("actOprosStart")->trigger();
        QVERIFY(!TFormMain::ActionEnabled(compare));
        Form->Action("actOprosStop")->trigger();
        QVERIFY(TFormMain::ActionEnabled(compare));
    }

    // The tool windows' links hold the main window's actions: every link has one.
    void toolWindowLabelsNameActions() {
        Open(true);
        int labels = 0;
        for (QWidget* window : QApplication::topLevelWidgets())
            for (TActionLabel* label : window->findChildren<TActionLabel*>()) {
                ++labels;
                QAction* action = label->Action();
                QVERIFY2(action, qPrintable(label->objectName()));
                QCOMPARE(Form->Action(action->objectName()), action);
            }
        QVERIFY(labels >= 25);
    }
};

QTEST_MAIN(TestCompare)
#include "tst_compare.moc"
