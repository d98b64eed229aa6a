// The "Протокол" window in the main window against the simulator, driven as a technician would:
// the fields typed, "Начать", a parameter written and the run test taken, "Записать прогон",
// "Завершить", "PDF…" and "Печать" (a printer writing a PDF file); the fields kept for the next
// time; an open session left by a closed window taken up again with "Продолжить"; a silent
// gauge at "Начать" and at "Завершить".
// With ULMAR_SHOTS set to a folder, the window is saved there as record_window.png and the
// whole session's PDF pages as record/page-1.png ... (the pictures of docs/).

#include "fMain.h"
#include "fRecord.h"
#include "tests/console/ConsoleRig.h"
#include "tests/support/ToolWindows.h"
#include "uParamTable.h"
#include "uRecordReport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

namespace {

QStringList Items(const QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

// Typed key by key, as a keyboard with the Russian layout sends it (QTest::keyClicks takes
// Latin-1 alone).
void Type(QWidget* w, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(w, &press);
        QCoreApplication::sendEvent(w, &release);
    }
}

QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int PdfPages(const QByteArray& bytes) {
    int pages = 0;
    for (auto it = QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))
                       .globalMatch(QString::fromLatin1(bytes));
         it.hasNext(); it.next())
        ++pages;
    return pages;
}

// pdftotext's text of the file; a null string when pdftotext is not installed.
QString PdfText(const QString& path) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (tool.isEmpty())
        return QString();
    QProcess p;
    p.start(tool, {QStringLiteral("-enc"), QStringLiteral("UTF-8"), path, QStringLiteral("-")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QStringLiteral("(pdftotext failed)");
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestRecordWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TConsoleRig> Rig;
    std::unique_ptr<TModalScript> Script;
    std::unique_ptr<TFormMain> Form;

    void Open() {
        Rig = std::make_unique<TConsoleRig>();
        QVERIFY(Rig->SimStarted);
        // A gauge with a tare table and a zero array to record.
        Rig->Sim->WithSim([](TGaugeSim& s) {
            TSimGauge& g = s.Gauges[0];
            g.Floats[TSimGauge::Dist1] = 1000;
            g.Floats[TSimGauge::Dist2] = 15000;
            g.FillLinearTare(8);
            g.FillZeroArray(24);
        });
        Script = std::make_unique<TModalScript>();
        Form = std::make_unique<TFormMain>(Rig->Link.get());
    }
    TFormRecord* OpenRecord() {
        Form->Action(QStringLiteral("actFormRecordShow"))->trigger();
        return Form->Windows().Record;
    }
    // The next file dialog picks `path`.
    void PickFile(const QString& path) {
        Script->Push([path](QDialog* d) {
            auto* files = qobject_cast<QFileDialog*>(d);
            if (!files)
                return int(QDialog::Rejected);
            files->selectFile(path);
            return int(QDialog::Accepted);
        });
    }
    static void Click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }

private slots:
    void cleanup() {
        Form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!TopLevelWindow(QStringLiteral("FormRecord")));
        Script.reset();
        Rig.reset();
    }

    void technicianSession() {
        Open();
        TFormRecord* w = OpenRecord();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("Протокол"));
        QCOMPARE(OpenRecord(), w); // at most one
        QVERIFY(w->btnStart->isEnabled() && !w->btnFinish->isEnabled() && !w->btnPdf->isEnabled());
        QCOMPARE(w->lbFolder->text(), QStringLiteral("Сеанс не начат"));
        Type(w->edSite, QStringLiteral("Парк 2, РВС-700 №4"));
        Type(w->edTag, QStringLiteral("LT-7"));
        Type(w->edTechnician, QStringLiteral("Иванов П. С."));

        Click(w->btnStart);
        QVERIFY(w->Session() && w->Session()->IsOpen());
        const QString folder = w->Session()->Folder();
        QVERIFY2(folder.startsWith(ProgramDir() + QStringLiteral("/Records/1001/")),
                 qPrintable(folder));
        QVERIFY(QFile::exists(folder + QStringLiteral("/session.json")));
        const QStringList started = Items(w->lbSteps);
        QVERIFY2(started.contains(QStringLiteral("Как найдено: параметры — считано")),
                 qPrintable(started.join('\n')));
        QVERIFY(started.contains(QStringLiteral("Сеанс открыт")));
        QVERIFY(!w->btnStart->isEnabled() && !w->btnResume->isEnabled());
        QVERIFY(w->btnFinish->isEnabled() && w->btnRunTest->isEnabled());
        QVERIFY(w->edSite->isReadOnly());
        QVERIFY(Script->Boxes.isEmpty());

        // The technician's work in the other windows: dist.1 written, the run test taken.
        Form->Ulmar()->SetDist1(1234.5);
        QCOMPARE(Form->Commands().WriteParam(ParamRow(TParamId::Dist1)), TOutcome::Accepted);
        TUlmar& u = *Form->Ulmar();
        u.SetProgonMode(5);
        for (int i = 0; i < 5; ++i) {
            TProgonPoint& p = u.ProgonPoints[static_cast<std::size_t>(i)];
            p.Value = p.Sample - (i == 2 ? -1.25 : 0.5);
            p.CurrentValue = p.CurrentSample + 0.01;
            p.Taken = true;
        }
        u.RecalcProgon();
        Click(w->btnRunTest);
        QVERIFY(Items(w->lbSteps).contains(QStringLiteral("Прогон: записан, заключение — Годен")));

        Click(w->btnFinish);
        QVERIFY(!w->Session()->IsOpen());
        const QStringList finished = Items(w->lbSteps);
        QVERIFY2(finished.contains(QStringLiteral("Сеанс завершён, записей в прибор: 1")),
                 qPrintable(finished.join('\n')));
        QVERIFY(finished.contains(QStringLiteral("Как оставлено: массив нулей — считано")));
        QVERIFY(w->btnStart->isEnabled() && !w->btnFinish->isEnabled() && w->btnPdf->isEnabled());
        QVERIFY(Script->Boxes.isEmpty());

        // "PDF…": record.pdf in the session folder is offered; the file holds the record.
        const TRecordDocument doc = BuildRecordDocument(w->Session()->Record());
        const QString pdf = folder + QStringLiteral("/record.pdf");
        QString offered;
        Script->Push([&offered, pdf](QDialog* d) {
            auto* files = qobject_cast<QFileDialog*>(d);
            if (!files)
                return int(QDialog::Rejected);
            offered = files->selectedFiles().value(0);
            files->selectFile(pdf);
            return int(QDialog::Accepted);
        });
        Click(w->btnPdf);
        QCOMPARE(offered, pdf);
        const QByteArray bytes = FileBytes(pdf);
        QVERIFY(bytes.startsWith("%PDF-"));
        QCOMPARE(PdfPages(bytes), doc.PageCount());
        const QString text = PdfText(pdf);
        if (!text.isNull()) {
            QVERIFY2(text.contains(QStringLiteral("1234,5")), qPrintable(text.left(2000)));
            QVERIFY(text.contains(QStringLiteral("Заключение: Годен")));
            QVERIFY(text.contains(QStringLiteral("Парк 2, РВС-700 №4")));
            QVERIFY(text.contains(QStringLiteral("зав. № 1001")));
        } else {
            qInfo("pdftotext (poppler-utils) not installed: the PDF's text is not read back");
        }

        // "Печать" on a printer that writes a PDF file: the same pages.
        const QString printed = ProgramDir() + QStringLiteral("/printed.pdf");
        Script->Push([printed](QDialog* d) {
            auto* dialog = qobject_cast<QPrintDialog*>(d);
            if (!dialog)
                return int(QDialog::Rejected);
            dialog->printer()->setOutputFormat(QPrinter::PdfFormat);
            dialog->printer()->setOutputFileName(printed);
            return int(QDialog::Accepted);
        });
        Click(w->btnPrint);
        QCOMPARE(Script->DialogTitles.size(), 2);
        const QByteArray print = FileBytes(printed);
        QVERIFY(print.startsWith("%PDF-"));
        QCOMPARE(PdfPages(print), doc.PageCount());
        QVERIFY(Script->Boxes.isEmpty());

        if (const QString shots = qEnvironmentVariable("ULMAR_SHOTS"); !shots.isEmpty()) {
            QDir().mkpath(shots + QStringLiteral("/record"));
            QVERIFY(w->grab().save(shots + QStringLiteral("/record_window.png")));
            for (int p = 0; p < doc.PageCount(); ++p)
                QVERIFY(RecordPageImage(doc, p, 6.0)
                            .save(shots + QStringLiteral("/record/page-%1.png").arg(p + 1)));
        }

        // The fields come back in the next window.
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        TFormRecord* again = OpenRecord();
        QVERIFY(again && again != w);
        QCOMPARE(again->edSite->text(), QStringLiteral("Парк 2, РВС-700 №4"));
        QCOMPARE(again->edTechnician->text(), QStringLiteral("Иванов П. С."));
        // A finished session is not resumed.
        Click(again->btnResume);
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Text,
                 QStringLiteral("У этого прибора нет незавершённого сеанса"));
        QVERIFY(!again->Session());
    }

    // A window closed with its session open leaves the session on the disk; the next window
    // names it and "Продолжить" takes it up in the same folder.
    void resumeAfterClose() {
        Open();
        TFormRecord* w = OpenRecord();
        Type(w->edTag, QStringLiteral("LT-9"));
        Click(w->btnStart);
        QVERIFY(w->Session() && w->Session()->IsOpen());
        const QString folder = w->Session()->Folder();
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        TFormRecord* next = OpenRecord();
        QVERIFY(next && !next->Session());
        QVERIFY2(next->lbFolder->text().contains(QDir::toNativeSeparators(folder)),
                 qPrintable(next->lbFolder->text()));
        next->edTag->clear();
        Click(next->btnResume);
        QVERIFY(next->Session() && next->Session()->IsOpen());
        QCOMPARE(next->Session()->Folder(), folder);
        QCOMPARE(next->edTag->text(), QStringLiteral("LT-9"));
        Click(next->btnFinish);
        QVERIFY(!next->Session()->IsOpen());
        QVERIFY(Script->Boxes.isEmpty());
    }

    // No gauge on the line: no session, no folder, the reason said. A gauge that falls silent
    // before "Завершить": the session stays open, the reason is said, and a second "Завершить"
    // once it answers again closes it.
    void silentGauge() {
        Open();
        const auto silence = [this](double probability) {
            Rig->Sim->WithSim([probability](TGaugeSim& s) {
                TSimFaultRule rule;
                rule.Probability = probability;
                s.SetFault(TSimFault::Silence, rule);
            });
        };
        silence(1);
        TFormRecord* w = OpenRecord();
        Click(w->btnStart);
        QVERIFY(!w->Session());
        const QDir records(ProgramDir() + QStringLiteral("/Records"));
        QVERIFY(!records.exists() ||
                records.entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
        QCOMPARE(Script->Boxes.size(), 1);
        QVERIFY2(Script->Boxes.last().Text.startsWith(QStringLiteral("Сеанс не начат: ")),
                 qPrintable(Script->Boxes.last().Text));
        QVERIFY(w->btnStart->isEnabled() && !w->btnPdf->isEnabled());

        silence(0);
        Click(w->btnStart);
        QVERIFY(w->Session() && w->Session()->IsOpen());
        silence(1);
        Click(w->btnFinish);
        QCOMPARE(Script->Boxes.size(), 2);
        QVERIFY2(Script->Boxes.last().Text.startsWith(QStringLiteral("Сеанс не завершён: ")),
                 qPrintable(Script->Boxes.last().Text));
        QVERIFY(w->Session()->IsOpen());
        QVERIFY(w->btnFinish->isEnabled());
        QVERIFY(Items(w->lbSteps).contains(QStringLiteral("Сеанс открыт")));
        silence(0);
        Click(w->btnFinish);
        QVERIFY(!w->Session()->IsOpen());
        QCOMPARE(Script->Boxes.size(), 2);
    }
};

QTEST_MAIN(TestRecordWindow)
#include "tst_record_window.moc"
