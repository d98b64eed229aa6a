#pragma once
// The program's windows as a test finds them without the main window's help: by object name
// among the top-level widgets (open ones and closed ones not yet deleted).

#include <QApplication>
#include <QString>
#include <QWidget>

template <class W = QWidget> W* TopLevelWindow(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name)
            return qobject_cast<W*>(w);
    return nullptr;
}
