// "Линия" driven as a technician would: the gauges of the poll list with one of them silent,
// a row chosen to make its gauge the current one, a poll list typed (and a wrong one refused).
// With ULMAR_SHOTS set to a folder, a picture of the window is saved there as line.png.

#include "fLine.h"
#include "tests/support/LinkRig.h"
#include "uPoller.h"
#include "uWindowContext.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

class TestLineWindow : public QObject {
    Q_OBJECT
private slots:
    void gaugesOfTheLine();
};

void TestLineWindow::gaugesOfTheLine() {
    // Three gauges answer; the list also holds address 4, where nothing answers.
    TLinkRig rig({}, 1, {}, 3);
    QVERIFY(rig.SimStarted);
    rig.Sim->WithSim([](TGaugeSim& sim) {
        for (size_t i = 0; i < sim.Gauges.size(); ++i) {
            sim.Gauges[i].LevelMid = 2000.0 + 1500.0 * double(i);
            sim.Gauges[i].LevelSwing = 0.0;
        }
    });
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelAllRead);
    QVERIFY(rig.Link->SetPollAddresses({1, 2, 3, 4}));
    QVERIFY(rig.Link->RunCycle());
    QVERIFY(rig.Link->RunCycle());

    TWindowContext context(rig.Link.get());
    auto* form = new TFormLine(rig.Link.get(), &context);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    QTableWidget* grid = form->grdLine;
    QCOMPARE(grid->rowCount(), 4);
    const auto cell = [grid](int row, int column) { return grid->item(row, column)->text(); };
    QCOMPARE(cell(0, TFormLine::ColAddress), QStringLiteral("▶ 1"));
    QCOMPARE(cell(1, TFormLine::ColPlantNumber), QStringLiteral("1002"));
    QCOMPARE(cell(2, TFormLine::ColLevel), QStringLiteral("5000"));
    QCOMPARE(cell(2, TFormLine::ColFaultText), QStringLiteral("Норма"));
    QCOMPARE(cell(2, TFormLine::ColShare), QStringLiteral("100"));
    // The silent gauge is marked at once, with no readings and no age of a good answer.
    QCOMPARE(cell(3, TFormLine::ColFaultText).isEmpty(), false);
    QCOMPARE(cell(3, TFormLine::ColLevel), QString());
    QCOMPARE(cell(3, TFormLine::ColAge), QStringLiteral("—"));
    QCOMPARE(cell(3, TFormLine::ColShare), QStringLiteral("0"));
    QVERIFY(grid->item(3, 0)->background() != grid->item(2, 0)->background());

    if (const QString dir = qEnvironmentVariable("ULMAR_SHOTS"); !dir.isEmpty()) {
        QCoreApplication::sendPostedEvents();
        form->grab().save(QDir(dir).filePath("line.png"));
    }

    // A click on gauge 3's row makes it the current gauge of every window and command.
    const QRect row3 = grid->visualItemRect(grid->item(2, TFormLine::ColLevel));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, row3.center());
    QCOMPARE(rig.Ulmar->SystemAddress, quint8(3));
    QCOMPARE(rig.Ulmar->PlantNumber, quint16(1003));
    QCOMPARE(rig.Ulmar->Level->AsDouble(), 5000.0);
    QCOMPARE(cell(2, TFormLine::ColAddress), QStringLiteral("▶ 3"));
    QCOMPARE(cell(0, TFormLine::ColAddress), QStringLiteral("1"));

    // A wrong list is refused with a word; a good one is taken and kept.
    form->edAddresses->setText("1, 256");
    QTest::mouseClick(form->btnApply, Qt::LeftButton);
    QVERIFY(!form->lblNote->text().isEmpty());
    QCOMPARE(grid->rowCount(), 4);
    form->edAddresses->setText("3 2");
    QTest::mouseClick(form->btnApply, Qt::LeftButton);
    QCOMPARE(form->edAddresses->text(), QStringLiteral("3,2"));
    QCOMPARE(grid->rowCount(), 2);
    QCOMPARE(rig.Link->Poller()->LoadAddresses(), (std::vector<quint8>{3, 2}));
    form->close();
}

QTEST_MAIN(TestLineWindow)
#include "tst_line_window.moc"
