#pragma once
// A test program's main on one offscreen screen of a given size, instead of the offscreen
// platform's small default one. Test main thread only.

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Runs the test object's functions with QApplication on a width x height screen at 96 dpi.
template <class TTest> int RunOnOffscreenScreen(int argc, char* argv[], int width, int height) {
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(QStringLiteral(R"({"screens": [{"name": "test", "x": 0, "y": 0, "width": %1,
                  "height": %2, "dpi": 96, "dpr": 1}]})")
                   .arg(width)
                   .arg(height)
                   .toUtf8());
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    QApplication app(argc, argv);
    TTest test;
    return QTest::qExec(&test, argc, argv);
}
