// The main window's five trend actions and the two-parameter trend, and the readings window's
// pictures: each opens its window on the right table with the device's value connected, its
// caption naming the parameter and the current gauge with its address.

#include "fGraph.h"
#include "fGraph2.h"
#include "fMain.h"
#include "fUlmar.h"
#include "tests/console/ConsoleRig.h"
#include "uActionLink.h"
#include "uBDE.h"

#include <QAction>
#include <QTest>

namespace {

using TValueMember = std::unique_ptr<TIODouble> TUlmar::*;

struct TSeenTrend {
    QString Name;
    QString Table;
    QString Caption;
    QString ValueTitle;
    double Days = 0;
    std::size_t LivePoints = 0;
};

} // namespace

Q_DECLARE_METATYPE(TValueMember)

class TestMainTrends : public QObject {
    Q_OBJECT

    std::unique_ptr<TConsoleRig> Rig;
    std::unique_ptr<TFormMain> Form;
    TSeenTrend Seen;
    TValueMember Member = nullptr;
    QStringList Boxes;

private slots:
    void init() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        Rig = std::make_unique<TConsoleRig>();
        QVERIFY(Rig->SimStarted);
        SetArchiveRoot(QString());
        Seen = {};
        Boxes.clear();
        ModalHook = [this](QDialog* dialog) {
            if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
                Boxes << box->text();
                return int(QMessageBox::Ok);
            }
            Seen.Name = dialog->objectName();
            Seen.Caption = dialog->windowTitle();
            if (auto* g = qobject_cast<TFormGraph*>(dialog)) {
                Seen.Table = g->TableName;
                Seen.ValueTitle = g->TrendValue->Description()->Title;
                Seen.Days = g->Range->GetStop() - g->Range->GetStart();
                if (Member)
                    (Rig->Ulmar.get()->*Member)->SetValue(TVariant::FromDouble(123));
                Seen.LivePoints = g->Series1->Data.Count();
            } else if (auto* g2 = qobject_cast<TFormGraph2*>(dialog)) {
                Seen.Table = g2->TableName + u'+' + g2->TableName2;
                Seen.ValueTitle = g2->TrendValue->Description()->Title + u'+' +
                                  g2->TrendValue2->Description()->Title;
                Seen.Days = g2->Range->GetStop() - g2->Range->GetStart();
                Rig->Ulmar->TempSVCH->SetValue(TVariant::FromDouble(30));
                Seen.LivePoints = g2->Series2->Data.Count();
            }
            return int(QDialog::Rejected);
        };
        Form = std::make_unique<TFormMain>(Rig->Link.get());
    }
    void cleanup() {
        Form.reset();
        ModalHook = nullptr;
        Member = nullptr;
        Rig.reset();
    }

    void trendActions_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("table");
        QTest::addColumn<TValueMember>("member");
        QTest::newRow("distance") << "actGraphDistance"
                                  << "Lt" << &TUlmar::Distance;
        QTest::newRow("free space") << "actGraphLevelFree"
                                    << "Lc" << &TUlmar::LevelFree;
        QTest::newRow("level") << "actGraphLevel"
                               << "Hu" << &TUlmar::Level;
        QTest::newRow("volume") << "actGraphVolume"
                                << "V" << &TUlmar::Volume;
        QTest::newRow("current") << "actGraphCurrentOutput"
                                 << "CurrentOutput" << &TUlmar::CurrentOutput;
    }
    void trendActions() {
        QFETCH(QString, action);
        QFETCH(QString, table);
        QFETCH(TValueMember, member);
        Member = member;
        Rig->Ulmar->PlantNumber = 4321;
        Form->Action(action)->trigger();
        QCOMPARE(Seen.Name, QStringLiteral("FormGraph"));
        QCOMPARE(Seen.Table, table);
        // The parameter as the menu names it, the current gauge and its address on the line.
        QCOMPARE(Seen.Caption, Form->Action(action)->text().trimmed() +
                                   QStringLiteral(" — прибор № 4321, адрес ") +
                                   QString::number(Rig->Ulmar->SystemAddress));
        QCOMPARE(Seen.ValueTitle, (Rig->Ulmar.get()->*member)->Description()->Title);
        QVERIFY(std::fabs(Seen.Days - 1.0) < 1e-9);
        QCOMPARE(Seen.LivePoints, std::size_t(1)); // the device's reading reached the chart
        QCOMPARE(Boxes, QStringList{QStringLiteral("Отсутствуют данные")});
    }

    void twoParameterTrend() {
        Form->Action(QStringLiteral("actLevelFromTemp"))->trigger();
        QCOMPARE(Seen.Name, QStringLiteral("FormGraph2"));
        QCOMPARE(Seen.Table, QStringLiteral("Lt+TempSVCH"));
        QVERIFY2(Seen.Caption.startsWith(QStringLiteral("Lт-Расстояние, Температура СВЧ модуля — "
                                                        "прибор № ")),
                 qPrintable(Seen.Caption));
        QCOMPARE(Seen.ValueTitle, QStringLiteral("Расстояние+Температура СВЧ модуля"));
        QCOMPARE(Seen.LivePoints, std::size_t(1));
        QCOMPARE(Boxes.size(), 2);
    }

    void readingsWindowPictures() {
        TFormUlmar* readings = Form->Windows().Ulmar;
        QVERIFY(readings);
        QTest::mouseClick(readings->imgLevel, Qt::LeftButton);
        QCOMPARE(Seen.Name, QStringLiteral("FormGraph"));
        QCOMPARE(Seen.Table, QStringLiteral("Hu"));
        Seen = {};
        QTest::mouseClick(readings->imgVolume, Qt::LeftButton);
        QCOMPARE(Seen.Table, QStringLiteral("V"));
    }
};

QTEST_MAIN(TestMainTrends)
#include "tst_main_trends.moc"
