// Parameters window: groups by factory mode, value texts, list selections and the codes the
// lists write, enabling of the lists by the polling state, the links to the main window's
// Change actions, the thermostat row and the module type list file.
#include "Ulmar.h"
#include "fUlmarPar.h"
#include "tests/support/TestDirs.h"
#include "uActionLink.h"
#include "uWindowContext.h"
#include "uWindowSlot.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTest>

namespace {

const QString Nbsp = QStringLiteral("\u00A0");

void DeleteClosed() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A stand-in for the main window: a top-level window named "FormMain" holding named actions.
class TFakeMain : public QWidget {
public:
    TFakeMain() { setObjectName(QStringLiteral("FormMain")); }
    QAction* Add(const QString& name) {
        auto* a = new QAction(this);
        a->setObjectName(name);
        return a;
    }
};

void WriteTypeFile(const QString& dir, const QByteArray& bytes) {
    QFile f(dir + QStringLiteral("/INI/TypeSVCH.ini"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

} // namespace

class TestFormUlmarPar : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestDirs> Dirs;
    std::unique_ptr<TUlmar> Ulmar;
    std::unique_ptr<TWindowContext> Context;
    TWindowSlot<TFormUlmarPar> Slot;
    QPointer<TFormUlmarPar> Form;

    // The window as the main window opens it; its links take the actions of the stand-in main
    // window that exist at that moment.
    void Open() {
        QCOMPARE(ShowFormUlmarPar(Slot, Ulmar.get(), Context.get()), 0);
        Form = Slot.Get();
        QVERIFY(Form);
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void init() {
        Dirs = std::make_unique<TTestDirs>();
        Ulmar = std::make_unique<TUlmar>();
        Context = std::make_unique<TWindowContext>();
        Context->SetActionLookup([](const QString& name) { return FindMainAction(name); });
    }

    void cleanup() {
        delete Form.data();
        DeleteClosed();
        QVERIFY(!Slot);
        Context.reset();
        Ulmar.reset();
        Dirs.reset();
    }

    void groupsByFactoryMode() {
        Open();
        QCOMPARE(Form->objectName(), QStringLiteral("FormUlmarPar"));
        QCOMPARE(Form->windowTitle(), QStringLiteral("Параметры УЛМАР"));
        for (QGroupBox* g :
             {Form->grbSignature, Form->grbDist, Form->grbRelay, Form->grbPar, Form->grbMode})
            QVERIFY2(g->isVisible(), qPrintable(g->objectName()));
        for (QGroupBox* g : {Form->grbParKalibr, Form->grbModePlants, Form->grbSVCH})
            QVERIFY2(g->isHidden(), qPrintable(g->objectName()));
        QVERIFY(Form->lblProgramType->isVisible());
        QVERIFY(Form->cmbProgramType->isHidden());
        QCOMPARE(Form->lblProgramType->text(), QStringLiteral("УЛМАР-10"));
        Ulmar->ProgramType = 7;
        Form->Refresh();
        QCOMPARE(Form->lblProgramType->text(), QStringLiteral("Не известно"));
        const int narrow = Form->width();

        Context->FactoryMode = true;
        Form->Refresh();
        for (QGroupBox* g : {Form->grbParKalibr, Form->grbModePlants, Form->grbSVCH})
            QVERIFY2(g->isVisible(), qPrintable(g->objectName()));
        QVERIFY(Form->cmbProgramType->isVisible());
        QVERIFY(Form->lblProgramType->isHidden());
        QCoreApplication::processEvents();
        QVERIFY(Form->width() > narrow); // the window follows its visible groups
    }

    void valueTexts() {
        Ulmar->HardVersion = 3;
        Ulmar->SoftVersion = 17;
        Ulmar->PlantNumber = 12345;
        Ulmar->SystemAddress = 7;
        Ulmar->SetDist1(1000);
        Ulmar->SetDist2(15000.4);
        Ulmar->Relay1Ust1 = 2500.5;
        Ulmar->Relay2Ust2 = 100;
        Ulmar->SetKKalman(0.5);
        Ulmar->SetSpeed(1.5);
        Ulmar->UserPsw = 4321;
        Ulmar->KrPer = 1;
        Ulmar->SmPerOpCh = -0.125;
        Ulmar->FreqCalibr = 1234.5;
        Ulmar->TemperCompareTermostat = -10;
        Ulmar->SetLevelKalibr(2000);
        Ulmar->PlantNumberSVCH = 65535;
        Open();
        QCOMPARE(Form->lblHardVersion->text(), QStringLiteral("3"));
        QCOMPARE(Form->lblSoftVersion->text(), QStringLiteral("17"));
        QCOMPARE(Form->lblPlantNumber->text(), QStringLiteral("12345"));
        QCOMPARE(Form->lblSystemAddress->text(), QStringLiteral("7"));
        QCOMPARE(Form->lblDist1->text(), QStringLiteral("1") + Nbsp + QStringLiteral("000"));
        QCOMPARE(Form->lblDist2->text(), QStringLiteral("15") + Nbsp + QStringLiteral("000"));
        QCOMPARE(Form->lblRelay1Ust1->text(), QStringLiteral("2") + Nbsp + QStringLiteral("501"));
        QCOMPARE(Form->lblRelay2Ust2->text(), QStringLiteral("100"));
        QCOMPARE(Form->lblKKalman->text(), QStringLiteral("0,5000"));
        QCOMPARE(Form->lblSpeed->text(), QStringLiteral("1,500"));
        QCOMPARE(Form->lblUserPsw->text(), QStringLiteral("4321"));
        QCOMPARE(Form->lblKrPer->text(), QStringLiteral("1,00000000"));
        QCOMPARE(Form->lblSmPerOpCh->text(), QStringLiteral("-0,12500000"));
        QCOMPARE(Form->lblFreqCalibr->text(),
                 QStringLiteral("1") + Nbsp + QStringLiteral("234,500"));
        QCOMPARE(Form->lblTemperCompareTermostat->text(), QStringLiteral("-10"));
        QCOMPARE(Form->lblLevelKalibr->text(), QStringLiteral("2") + Nbsp + QStringLiteral("000"));
        QCOMPARE(Form->lblPlantNumberSVCH->text(), QStringLiteral("65535"));
    }

    void listSelections_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("selected"); // empty: no selection
        QTest::newRow("image 3") << "cmbModeImage"
                                 << "ModeImage" << 3 << QStringLiteral("Свободное пространство");
        QTest::newRow("image 1") << "cmbModeImage"
                                 << "ModeImage" << 1 << QStringLiteral("Текущее расстояние");
        QTest::newRow("image 0") << "cmbModeImage"
                                 << "ModeImage" << 0 << QString();
        QTest::newRow("current 1") << "cmbModeCurrentOutput"
                                   << "ModeCurrentOutput" << 1 << QStringLiteral("4...20 mА");
        QTest::newRow("filter 1") << "cmbModeInputFilter"
                                  << "ModeInputFilter" << 1 << QStringLiteral("Выключен");
        QTest::newRow("thermostat 1") << "cmbModeTermostat"
                                      << "ModeTermostat" << 1 << QStringLiteral("Включен");
        QTest::newRow("channel 1")
            << "cmbModeChannel"
            << "ModeChannel" << 1 << QStringLiteral("С усилителем ограничителем");
        QTest::newRow("calibration 0")
            << "cmbModeCalibr"
            << "ModeCalibr" << 0 << QStringLiteral("По линейному закону");
        QTest::newRow("processing 3") << "cmbModeProcessing"
                                      << "ModeProcessing" << 3 << QString();
        QTest::newRow("program 1") << "cmbProgramType"
                                   << "ProgramType" << 1 << QStringLiteral("УЛМАР-20");
        QTest::newRow("module type 4") << "cmbTypeSVCH"
                                       << "TypeSVCH" << 4 << QStringLiteral("ППМ-B3");
        QTest::newRow("module type 9") << "cmbTypeSVCH"
                                       << "TypeSVCH" << 9 << QString();
    }
    void listSelections() {
        QFETCH(QString, list);
        QFETCH(QString, field);
        QFETCH(int, code);
        QFETCH(QString, selected);
        std::map<QString, quint8*> fields = {{"ModeImage", &Ulmar->ModeImage},
                                             {"ModeCurrentOutput", &Ulmar->ModeCurrentOutput},
                                             {"ModeInputFilter", &Ulmar->ModeInputFilter},
                                             {"ModeTermostat", &Ulmar->ModeTermostat},
                                             {"ModeChannel", &Ulmar->ModeChannel},
                                             {"ModeCalibr", &Ulmar->ModeCalibr},
                                             {"ModeProcessing", &Ulmar->ModeProcessing},
                                             {"ProgramType", &Ulmar->ProgramType},
                                             {"TypeSVCH", &Ulmar->TypeSVCH}};
        *fields.at(field) = static_cast<quint8>(code);
        Context->FactoryMode = true;
        Open();
        auto* combo = Form->findChild<QComboBox*>(list);
        QVERIFY(combo);
        if (selected.isEmpty())
            QCOMPARE(combo->currentIndex(), -1);
        else
            QCOMPARE(combo->currentText(), selected);
    }

    void choosingWritesTheDeviceObject_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("code");
        QTest::newRow("image") << "cmbModeImage" << 1 << "ModeImage" << 2;
        QTest::newRow("current") << "cmbModeCurrentOutput" << 2 << "ModeCurrentOutput" << 2;
        QTest::newRow("program") << "cmbProgramType" << 1 << "ProgramType" << 1;
        QTest::newRow("filter") << "cmbModeInputFilter" << 1 << "ModeInputFilter" << 1;
        QTest::newRow("thermostat") << "cmbModeTermostat" << 1 << "ModeTermostat" << 1;
        QTest::newRow("channel") << "cmbModeChannel" << 1 << "ModeChannel" << 1;
        QTest::newRow("calibration") << "cmbModeCalibr" << 1 << "ModeCalibr" << 1;
        QTest::newRow("module type") << "cmbTypeSVCH" << 6 << "TypeSVCH" << 6;
    }
    void choosingWritesTheDeviceObject() {
        QFETCH(QString, list);
        QFETCH(int, position);
        QFETCH(QString, field);
        QFETCH(int, code);
        Context->FactoryMode = true;
        Open();
        int refreshes = 0;
        // The main window answers a refresh request with the refresh of every window.
        connect(Context.get(), &TWindowContext::RefreshRequested, Context.get(), [&] {
            ++refreshes;
            Context->Refresh();
        });
        std::map<QString, const quint8*> fields = {{"ModeImage", &Ulmar->ModeImage},
                                                   {"ModeCurrentOutput", &Ulmar->ModeCurrentOutput},
                                                   {"ProgramType", &Ulmar->ProgramType},
                                                   {"ModeInputFilter", &Ulmar->ModeInputFilter},
                                                   {"ModeTermostat", &Ulmar->ModeTermostat},
                                                   {"ModeChannel", &Ulmar->ModeChannel},
                                                   {"ModeCalibr", &Ulmar->ModeCalibr},
                                                   {"TypeSVCH", &Ulmar->TypeSVCH}};
        auto* combo = Form->findChild<QComboBox*>(list);
        QVERIFY(combo);
        combo->setCurrentIndex(position);
        emit combo->activated(position);
        QCOMPARE(int(*fields.at(field)), code);
        QCOMPARE(refreshes, 1);
        QCOMPARE(combo->currentIndex(), position);
    }

    void programmaticSelectionWritesNothing() {
        Context->FactoryMode = true;
        Open();
        Form->cmbModeImage->setCurrentIndex(3); // not an operator's choice
        QCOMPARE(int(Ulmar->ModeImage), 1);
    }

    void choosingWithoutMainWindowRefreshesItself() {
        Open();
        Ulmar->SetDist1(2000); // changed behind the window's back
        emit Form->cmbModeImage->activated(2);
        QCOMPARE(int(Ulmar->ModeImage), 3);
        QCOMPARE(Form->lblDist1->text(), QStringLiteral("2") + Nbsp + QStringLiteral("000"));
    }

    void listsFollowPollingState() {
        Context->FactoryMode = true;
        TFakeMain main;
        QAction* start = main.Add(QStringLiteral("actOprosStart"));
        Open();
        const QList<QComboBox*> modes = {Form->cmbModeProcessing,    Form->cmbModeImage,
                                         Form->cmbModeCurrentOutput, Form->cmbModeChannel,
                                         Form->cmbProgramType,       Form->cmbModeInputFilter,
                                         Form->cmbModeTermostat,     Form->cmbModeCalibr};
        for (QComboBox* c : modes)
            QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
        start->setEnabled(false); // polling runs
        Form->Refresh();
        for (QComboBox* c : modes)
            QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
        QVERIFY(Form->cmbTypeSVCH->isEnabled());
        start->setEnabled(true);
        Form->Refresh();
        for (QComboBox* c : modes)
            QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    }

    void links_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("action");
        const char* rows[][2] = {{"lblPlantNumber", "actPlantNumberChange"},
                                 {"lblSystemAddress", "actSystemAddressChange"},
                                 {"lblDist1", "actDist1Change"},
                                 {"lblDist2", "actDist2Change"},
                                 {"lblRelay1Ust1", "actRelay1Ust1"},
                                 {"lblRelay2Ust1", "actRelay2Ust1"},
                                 {"lblRelay1Ust2", "actRelay1Ust2"},
                                 {"lblRelay2Ust2", "actRelay2Ust2"},
                                 {"lblKKalman", "actKKalmanChange"},
                                 {"lblSpeed", "actSpeedChange"},
                                 {"lblUserPsw", "actUserPswChange"},
                                 {"lblKrPer", "actKrPerChange"},
                                 {"lblSmPer", "actSmPerChange"},
                                 {"lblKrPerOpCh", "actKrPerOpChChange"},
                                 {"lblSmPerOpCh", "actSmPerOpChChange"},
                                 {"lblFreqCalibr", "actFreqCalibrChange"},
                                 {"lblKKK1", "actKKK1Change"},
                                 {"lblKKK2", "actKKK2Change"},
                                 {"lblKKK3", "actKKK3Change"},
                                 {"lblTemperCompareTermostat", "actTemperCompareTermostatChange"},
                                 {"lblLevelKalibr", "actLevelKalibrChange"},
                                 {"lblPlantNumberSVCH", "actPlantNumberSVCHChange"}};
        for (const auto& r : rows)
            QTest::newRow(r[0]) << QString::fromLatin1(r[0]) << QString::fromLatin1(r[1]);
    }
    void links() {
        QFETCH(QString, label);
        QFETCH(QString, action);
        Context->FactoryMode = true;
        Ulmar->ProgramType = 1; // the thermostat row is enabled
        TFakeMain main;
        QAction* target = main.Add(action);
        QAction* other = main.Add(QStringLiteral("actOther"));
        QSignalSpy hits(target, &QAction::triggered);
        QSignalSpy misses(other, &QAction::triggered);
        Open();
        auto* link = Form->findChild<QLabel*>(label);
        QVERIFY(link);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(hits.count(), 1);
        target->setEnabled(false); // a disabled action does nothing (polling runs)
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(hits.count(), 1);
        QCOMPARE(misses.count(), 0);
    }

    // A link keeps the action it was built with: a renamed action still runs, a deleted one
    // leaves the link inert.
    void linkKeepsItsAction() {
        auto main = std::make_unique<TFakeMain>();
        QAction* target = main->Add(QStringLiteral("actDist1Change"));
        QSignalSpy hits(target, &QAction::triggered);
        Open();
        target->setObjectName(QStringLiteral("actRenamed"));
        QTest::mouseClick(Form->lblDist1, Qt::LeftButton);
        QCOMPARE(hits.count(), 1);
        QCOMPARE(Form->lblDist1->Action(), target);
        main.reset();
        QVERIFY(!Form->lblDist1->Action());
        QTest::mouseClick(Form->lblDist1, Qt::LeftButton); // nothing to run, nothing breaks
    }

    void linkStyle() {
        Open();
        QVERIFY(Form->lblDist1->font().underline());
        QCOMPARE(Form->lblDist1->palette().color(QPalette::Active, QPalette::WindowText),
                 QColor(Qt::blue));
        QVERIFY(!Form->lblPlantNumber->font().underline());
        QCOMPARE(Form->lblPlantNumber->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(Form->lblDist1->alignment() & Qt::AlignRight);
    }

    void thermostatRow() {
        Context->FactoryMode = true;
        Ulmar->ProgramType = 0;
        TFakeMain main;
        QAction* change = main.Add(QStringLiteral("actTemperCompareTermostatChange"));
        QSignalSpy spy(change, &QAction::triggered);
        Open();
        QVERIFY(Form->lblTemperCompareTermostat->isVisible());
        QVERIFY(!Form->lblTemperCompareTermostat->isEnabled());
        QVERIFY(!Form->lblTemperCompareTermostatTitle->isEnabled());
        QVERIFY(!Form->imgTemperCompareTermostat->isEnabled());
        QTest::mouseClick(Form->lblTemperCompareTermostat, Qt::LeftButton);
        QCOMPARE(spy.count(), 0);
        Ulmar->ProgramType = 1;
        Form->Refresh();
        QVERIFY(Form->lblTemperCompareTermostat->isEnabled());
        QVERIFY(Form->lblTemperCompareTermostatTitle->isEnabled());
    }

    void typeListDefaults() {
        Open();
        QCOMPARE(Items(Form->cmbTypeSVCH), TFormUlmarPar::DefaultTypeSVCHList());
        QCOMPARE(Form->cmbTypeSVCH->count(), 7);
        QCOMPARE(Form->cmbTypeSVCH->itemText(6), QStringLiteral("ППМ-C2"));
    }

    void typeListFile_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("utf-8") << QStringLiteral("ППМ-X1\r\nППМ-X2\r\n").toUtf8()
                               << QStringList{QStringLiteral("ППМ-X1"), QStringLiteral("ППМ-X2")};
        QStringEncoder cp1251("windows-1251");
        QTest::newRow("windows-1251")
            << QByteArray(cp1251.encode(QStringLiteral("ППМ-Z\nМодуль 2")))
            << QStringList{QStringLiteral("ППМ-Z"), QStringLiteral("Модуль 2")};
        QTest::newRow("empty file") << QByteArray() << TFormUlmarPar::DefaultTypeSVCHList();
        QTest::newRow("blank lines") << QByteArray("\n \n") << TFormUlmarPar::DefaultTypeSVCHList();
    }
    void typeListFile() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, items);
        WriteTypeFile(Dirs->Prog(), bytes);
        Open();
        QCOMPARE(Items(Form->cmbTypeSVCH), items);
    }

    void escCloses() {
        Open();
        QTest::keyClick(Form->cmbModeImage, Qt::Key_Escape);
        QVERIFY(!Slot);
        DeleteClosed();
        QVERIFY(Form.isNull());
        QVERIFY(QFile::exists(Dirs->Work() + QStringLiteral("/INI/WndPos.ini")));
    }
};

QTEST_MAIN(TestFormUlmarPar)
#include "tst_fulmarpar.moc"
