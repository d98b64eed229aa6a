// Readings window: relay texts and squares, the colour of the readings group, factory-mode
// rows, the bar range from dist.2, the value texts, trend links, Esc and a fresh window after
// closing.
#include "IOVisual.h"
#include "Ulmar.h"
#include "VHistogram.h"
#include "fUlmar.h"
#include "tests/support/TestDirs.h"
#include "uActionLink.h"
#include "uWindowContext.h"
#include "uWindowSlot.h"

#include <QAction>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString Nbsp = QStringLiteral("\u00A0");

QColor Fill(const QWidget* w) {
    return w->palette().color(QPalette::Window);
}

void DeleteClosed() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestFormUlmar : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestDirs> Dirs;
    std::unique_ptr<TUlmar> Ulmar;
    std::unique_ptr<TWindowContext> Context;
    TWindowSlot<TFormUlmar> Slot;
    QPointer<TFormUlmar> Form;

    // The window as the main window opens it; its trend pictures take the actions of a window
    // named "FormMain" that exist at that moment.
    void Open() {
        QCOMPARE(ShowFormUlmar(Slot, Ulmar.get(), Context.get()), 0);
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
        Open();
    }

    void cleanup() {
        delete Form.data();
        DeleteClosed();
        QVERIFY(!Slot);
        Context.reset();
        Ulmar.reset();
        Dirs.reset();
    }

    void windowIdentity() {
        QCOMPARE(Form->objectName(), QStringLiteral("FormUlmar"));
        QCOMPARE(Form->windowTitle(), QStringLiteral("Показания УЛМАР"));
        QCOMPARE(ShowFormUlmar(Slot, Ulmar.get(), Context.get()), 0);
        QCOMPARE(Slot.Get(), Form.data()); // one instance
        QCOMPARE(Form->vhLevel->ShowScaleMarks(), true);
        QCOMPARE(Form->vhLevel->ColorProduct(), TColor(0xFF0000));
        QCOMPARE(Form->imgDistance->toolTip(), QStringLiteral("График \"Текущее расстояние\""));
        QCOMPARE(Form->imgVolume->toolTip(), QStringLiteral("График \"Текущий объем\""));
    }

    void relays_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("unknown") << 0 << QStringLiteral("Не известно") << QColor(128, 128, 128);
        QTest::newRow("off") << 1 << QStringLiteral("Отключено") << QColor(0, 255, 0);
        QTest::newRow("on") << 2 << QStringLiteral("Включено") << QColor(255, 0, 0);
        QTest::newRow("other code") << 7 << QStringLiteral("Не известно") << QColor(128, 128, 128);
    }
    void relays() {
        QFETCH(int, code);
        QFETCH(QString, text);
        QFETCH(QColor, colour);
        Ulmar->Relay1->SetValue(TVariant::FromByte(static_cast<quint8>(code)));
        Ulmar->Relay2->SetValue(TVariant::FromByte(static_cast<quint8>(code == 2 ? 1 : 2)));
        Form->Refresh();
        QCOMPARE(Form->lblRelay1->text(), text);
        QCOMPARE(Fill(Form->shpRelay1), colour);
        QCOMPARE(Form->lblRelay2->text(),
                 code == 2 ? QStringLiteral("Отключено") : QStringLiteral("Включено"));
    }

    void errorColour_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("colour"); // 0 button face, 1 yellow, 2 red
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("-3") << -3 << 2;
        QTest::newRow("7") << 7 << 2;
        QTest::newRow("8") << 8 << 1;
        QTest::newRow("10") << 10 << 1;
        QTest::newRow("11") << 11 << 1;
        QTest::newRow("12") << 12 << 2;
        QTest::newRow("255") << 255 << 2;
    }
    void errorColour() {
        QFETCH(int, code);
        QFETCH(int, colour);
        Ulmar->ErrorCode = code;
        Ulmar->ErrorText = QStringLiteral("Ошибка чтения");
        Form->Refresh();
        const QColor expected = colour == 0   ? ColorToQColor(clBtnFace)
                                : colour == 1 ? QColor(255, 255, 0)
                                              : QColor(255, 0, 0);
        QCOMPARE(Fill(Form->gbValues), expected);
        QVERIFY(Form->gbValues->autoFillBackground());
        QCOMPARE(Form->lblErrorByte->text(), QString::number(code));
        QCOMPARE(Form->lblErrorMessage->text(), QStringLiteral("Ошибка чтения"));
        Ulmar->ErrorCode = 0;
        Form->Refresh();
        QCOMPARE(Fill(Form->gbValues), ColorToQColor(clBtnFace));
    }

    void factoryModeRows() {
        Form->Refresh();
        for (QWidget* w : {static_cast<QWidget*>(Form->gbFreq),
                           static_cast<QWidget*>(Form->lblCurrentOutputTitle),
                           static_cast<QWidget*>(Form->lblCurrentOutput),
                           static_cast<QWidget*>(Form->imgCurrentOutput)})
            QVERIFY(w->isHidden());
        Context->FactoryMode = true;
        Form->Refresh();
        for (QWidget* w : {static_cast<QWidget*>(Form->gbFreq),
                           static_cast<QWidget*>(Form->lblCurrentOutputTitle),
                           static_cast<QWidget*>(Form->lblCurrentOutput),
                           static_cast<QWidget*>(Form->imgCurrentOutput)})
            QVERIFY(w->isVisible());
        QVERIFY(Form->gbTemp->isVisible());
    }

    void barRangeFromDist2() {
        Ulmar->SetDist2(10000);
        Form->Refresh();
        QCOMPARE(Form->vhLevel->Min(), 0.0);
        QCOMPARE(Form->vhLevel->Max(), 10000.0);
        QCOMPARE(Form->vhLevel->DecimalSign(), 0);
        QCOMPARE(Form->vhLevel->DValueBig(), 1000.0);
        QCOMPARE(Form->vhLevel->DValueSmall(), 500.0);

        Ulmar->Level->SetValue(TVariant::FromDouble(5000));
        QCOMPARE(Form->vhLevel->Value(), 5000.0);
        Ulmar->Level->SetValue(TVariant::FromDouble(12000)); // above dist.2
        QCOMPARE(Form->vhLevel->Value(), 5000.0);
        const QString shown = QStringLiteral("12") + Nbsp + QStringLiteral("000");
        QCOMPARE(Form->lblLevel->text(), shown);
        QCOMPARE(Form->stxLevel->text(), shown);
        QVERIFY(Form->vhLevel->toolTip().endsWith(shown + QStringLiteral(" мм")));
    }

    void valueTexts() {
        Ulmar->Distance->SetValue(TVariant::FromDouble(2500.4));
        Ulmar->LevelFree->SetValue(TVariant::FromDouble(1499.6));
        Ulmar->Volume->SetValue(TVariant::FromDouble(42.125));
        Ulmar->TempSVCH->SetValue(TVariant::FromDouble(23.6));
        Ulmar->Freq->SetValue(TVariant::FromDouble(1234.567));
        Ulmar->FreqOpCh->SetValue(TVariant::FromDouble(99.5));
        Ulmar->CurrentOutput->SetValue(TVariant::FromDouble(12.345));
        Ulmar->TemperTermostat = -5;
        Form->Refresh();
        QCOMPARE(Form->lblDistance->text(), QStringLiteral("2") + Nbsp + QStringLiteral("500"));
        QCOMPARE(Form->lblLevelFree->text(), QStringLiteral("1") + Nbsp + QStringLiteral("500"));
        QCOMPARE(Form->lblVolume->text(), QStringLiteral("42,13"));
        QCOMPARE(Form->lblTempSVCH->text(), QStringLiteral("24"));
        QCOMPARE(Form->lblTempTermostat->text(), QStringLiteral("-5"));
        QCOMPARE(Form->lblFreq->text(), QStringLiteral("1") + Nbsp + QStringLiteral("234,57"));
        QCOMPARE(Form->lblFreqOpCh->text(), QStringLiteral("99,50"));
        QCOMPARE(Form->lblCurrentOutput->text(), QStringLiteral("12,35"));
        // The level tool tip of the level text; value labels carry one but do not show it.
        QVERIFY(
            Form->stxLevel->toolTip().startsWith(QStringLiteral("Уровень\nУровень продукта\n")));
    }

    void imagesRunTrendActions() {
        QWidget main;
        main.setObjectName(QStringLiteral("FormMain"));
        auto* graph = new QAction(&main);
        graph->setObjectName(QStringLiteral("actGraphLevelFree"));
        QSignalSpy spy(graph, &QAction::triggered);
        // The pictures take their actions when the window is built.
        delete Form.data();
        DeleteClosed();
        Open();
        QTest::mouseClick(Form->imgLevelFree, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QTest::mouseClick(Form->imgLevel, Qt::LeftButton); // another action: not this one
        QCOMPARE(spy.count(), 1);
        graph->setEnabled(false);
        QTest::mouseClick(Form->imgLevelFree, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
    }

    void escCloses() {
        QTest::keyClick(Form->lblLevel, Qt::Key_A);
        QVERIFY(Slot);
        QTest::keyClick(Form->lblLevel, Qt::Key_Escape);
        QVERIFY(!Slot);
        DeleteClosed();
        QVERIFY(Form.isNull());
    }

    void closeDisconnectsAndReopenIsFresh() {
        QCOMPARE(Ulmar->Level->Subscribers().size(), size_t(3));
        Form->close();
        QVERIFY(!Slot);
        QVERIFY(Ulmar->Level->Subscribers().empty());
        QVERIFY(Ulmar->Distance->Subscribers().empty());
        Ulmar->Level->SetValue(TVariant::FromDouble(77)); // no window listens any more
        DeleteClosed();
        QVERIFY(Form.isNull());
        QVERIFY(QFile::exists(Dirs->Work() + QStringLiteral("/INI/WndPos.ini")));

        Open();
        QCOMPARE(Ulmar->Level->Subscribers().size(), size_t(3));
        QCOMPARE(Form->lblLevel->text(), QStringLiteral("77")); // the refresh on show
        Ulmar->Level->SetValue(TVariant::FromDouble(78));
        QCOMPARE(Form->lblLevel->text(), QStringLiteral("78"));
    }
};

QTEST_MAIN(TestFormUlmar)
#include "tst_fulmar.moc"
