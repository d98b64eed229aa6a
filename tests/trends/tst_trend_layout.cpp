// The trend windows at their opening size on a 1600 px screen: every tool button shown (no
// "»" extension), every status panel wide enough for its text, panel 1 taking the spare width;
// on a narrower screen the window stays within it and a panel too narrow for its text shows it
// shortened, with the whole text in its tooltip. ULMAR_TEST_SHOTS=DIR keeps a picture of each
// window (grab()) in DIR.

#include "fGraph.h"
#include "fGraph2.h"
#include "tests/support/OffscreenScreen.h"
#include "tests/trends/TrendRig.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

namespace {

using Rig = TTrendRig;

// The tool bar's "»" button (QToolBarExtension) is shown.
bool ExtensionShown(const QToolBar* bar) {
    for (const QToolButton* b : bar->findChildren<QToolButton*>()) {
        if (b->objectName() == QLatin1String("qt_toolbar_ext_button") && b->isVisible())
            return true;
    }
    return false;
}

// Panels whose text does not fit their label, as "index: text (needs N, has M)".
QStringList CutPanels(const TFormGraphBase& form) {
    QStringList cut;
    for (int i = 0; i < form.PanelCount(); ++i) {
        const QLabel* p = form.Panel(i);
        const int needs = p->fontMetrics().horizontalAdvance(p->text());
        const int has = p->contentsRect().width() - 2 * p->margin() - p->indent() * 0;
        if (has < needs)
            cut << QStringLiteral("%1: %2 (needs %3, has %4)")
                       .arg(i)
                       .arg(p->text())
                       .arg(needs)
                       .arg(has);
    }
    return cut;
}

void Shot(QWidget* w, const QString& name) {
    const QByteArray dir = qgetenv("ULMAR_TEST_SHOTS");
    QTemporaryDir temp;
    const QString path = (dir.isEmpty() ? temp.path() : QString::fromLocal8Bit(dir)) + u'/' + name +
                         QStringLiteral(".png");
    QVERIFY(w->grab().save(path));
    qInfo("picture: %s", qPrintable(path));
}

} // namespace

class TestTrendLayout : public QObject {
    Q_OBJECT

    std::unique_ptr<Rig> R;
    std::unique_ptr<TIODouble> Level;
    std::unique_ptr<TIODouble> Temperature;

    void Describe(TIODouble& v, const QString& title, const QString& dim, double lo, double hi) {
        v.Description()->Title = title;
        v.Description()->Dimension = dim;
        v.Description()->SetRange(lo, hi);
        v.Description()->Precision = 9;
        v.Description()->Digits = 1;
    }

    // Checks a shown window at its opening size, then in archive mode with a read-out.
    void CheckOpening(TFormGraphBase& form, const QString& name) {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QApplication::processEvents();
        Shot(&form, name + QStringLiteral("-live"));
        const QRect area = form.screen()->availableGeometry();
        QVERIFY2(form.frameGeometry().width() <= area.width(),
                 qPrintable(QString::number(form.frameGeometry().width())));
        QVERIFY(!ExtensionShown(form.ToolBar1));
        for (QAction* a : form.ToolBar1->actions()) {
            if (QWidget* button = form.ToolBar1->widgetForAction(a); button && !a->isSeparator())
                QVERIFY2(button->isVisible(), qPrintable(a->objectName()));
        }
        QVERIFY2(CutPanels(form).isEmpty(), qPrintable(CutPanels(form).join(u'\n')));
        // Archive mode ("… по …") and a read-out of the point under the mouse.
        R->Answer = [](QDialog* d) {
            d->metaObject()->invokeMethod(d, "accept");
            return int(QDialog::Accepted);
        };
        form.ChooseRange();
        QVERIFY(form.ArchiveMode);
        emit form.Chart1->MouseValues(TrendXFromDateTime(Rig::At(2026, 12, 9, 17, 14, 48)), 12345.6,
                                      45.5);
        QApplication::processEvents();
        Shot(&form, name + QStringLiteral("-archive"));
        QVERIFY(form.Panel(0)->text().contains(QStringLiteral(" по ")));
        QVERIFY2(CutPanels(form).isEmpty(), qPrintable(CutPanels(form).join(u'\n')));
    }

private slots:
    void init() {
        R = std::make_unique<Rig>();
        Level = std::make_unique<TIODouble>();
        Describe(*Level, QStringLiteral("Уровень"), QStringLiteral("мм"), 0, 20000);
        Temperature = std::make_unique<TIODouble>();
        Describe(*Temperature, QStringLiteral("Температура СВЧ модуля"), QStringLiteral("°C"), -40,
                 80);
        const TDateTime t0 = Rig::At(2026, 12, 8, 17, 14, 48);
        Rig::Fill(QStringLiteral("Hu"), t0, t0 + 1, 3600, [](int k) { return 10000.0 + k; });
        Rig::Fill(QStringLiteral("Lt"), t0, t0 + 1, 3600, [](int k) { return 10000.0 + k; });
        Rig::Fill(QStringLiteral("TempSVCH"), t0, t0 + 1, 3600, [](int k) { return 20.0 + k; });
    }
    void cleanup() {
        Level.reset();
        Temperature.reset();
        R.reset();
    }

    void trendWindowOpensWideEnough() {
        QCOMPARE(QGuiApplication::primaryScreen()->geometry().width(), 1600);
        TFormGraph form;
        form.Open(QStringLiteral("Hu"), Level.get(), QStringLiteral("График"),
                  Rig::At(2026, 12, 8, 17, 14, 48), Rig::At(2026, 12, 9, 17, 14, 48));
        CheckOpening(form, QStringLiteral("FormGraph"));
    }

    // Narrower than its texts, a panel shows them shortened, the whole text in its tooltip; wider
    // than needed, panel 1 takes the spare width.
    void narrowWindowShortensPanels() {
        TFormGraph form;
        form.Open(QStringLiteral("Hu"), Level.get(), QStringLiteral("График"),
                  Rig::At(2026, 12, 8, 17, 14, 48), Rig::At(2026, 12, 9, 17, 14, 48));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        emit form.Chart1->MouseValues(TrendXFromDateTime(Rig::At(2026, 12, 9, 17, 14, 48)), 12345.6,
                                      0);
        form.resize(800, form.height());
        QApplication::processEvents();
        form.repaint();
        Shot(&form, QStringLiteral("FormGraph-narrow"));
        int shortened = 0;
        for (int i = 0; i < form.PanelCount(); ++i) {
            TStatusPanel* p = form.Panel(i);
            QCOMPARE(p->width(), std::max(p->width(), p->DeclaredWidth()));
            if (!p->Elided()) {
                QVERIFY(p->toolTip().isEmpty());
                continue;
            }
            ++shortened;
            QVERIFY2(p->ShownText().contains(QChar(0x2026)), qPrintable(p->ShownText()));
            QCOMPARE(p->toolTip(), p->text());
        }
        QVERIFY(shortened >= 2);
        // The range keeps both ends, shortened in the middle.
        const TStatusPanel* range = form.Panel(TFormGraph::PanelRange);
        if (range->Elided()) {
            QVERIFY(range->ShownText().startsWith(QStringLiteral("Диапазон")));
            QVERIFY(range->ShownText().endsWith(range->text().right(3)));
        }
        form.resize(1550, form.height());
        QApplication::processEvents();
        for (int i = 0; i < form.PanelCount(); ++i) {
            TStatusPanel* p = form.Panel(i);
            QVERIFY(!p->Elided());
            if (i == TFormGraph::PanelSpan)
                QVERIFY(p->width() > p->sizeHint().width() + 100);
            else
                QVERIFY2(p->width() <= p->sizeHint().width(), qPrintable(p->objectName()));
        }
    }

    // A window that would need more than the screen gets the screen's width and no more.
    void openingWidthBoundedByScreen() {
        Level->Description()->Title = QString(200, QChar(u'Ш'));
        TFormGraph form;
        form.Open(QStringLiteral("Hu"), Level.get(), QStringLiteral("График"),
                  Rig::At(2026, 12, 8, 17, 14, 48), Rig::At(2026, 12, 9, 17, 14, 48));
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(form.NeededWidth() > area.width());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.frameGeometry().width() <= area.width());
        QVERIFY(form.width() >= area.width() - 40);
        QVERIFY(area.contains(form.frameGeometry().topLeft()));
        QVERIFY(!ExtensionShown(form.ToolBar1));
    }

    void twoParameterWindowOpensWideEnough() {
        TFormGraph2 form;
        form.Open(Level.get(), Temperature.get(), Rig::At(2026, 12, 8, 17, 14, 48),
                  Rig::At(2026, 12, 9, 17, 14, 48));
        CheckOpening(form, QStringLiteral("FormGraph2"));
    }
};

int main(int argc, char* argv[]) {
    return RunOnOffscreenScreen<TestTrendLayout>(argc, argv, 1600, 900);
}

#include "tst_trend_layout.moc"
