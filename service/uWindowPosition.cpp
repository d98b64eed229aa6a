#include "service/uWindowPosition.h"
#include "devicelink/uIniFile.h"
#include "devicelink/uParamStr.h"
#include "devicelink/uPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <limits>

namespace {

const QString FileName = QStringLiteral("WndPos.ini");
const QString KeyName = QStringLiteral("Name");
const QString KeyLeft = QStringLiteral("Left");
const QString KeyTop = QStringLiteral("Top");
const QString KeyWidth = QStringLiteral("Width");
const QString KeyHeight = QStringLiteral("Height");
const QString KeyState = QStringLiteral("WindowState");
// Bounds a maximised window returns to when it is restored; kept beside its maximised bounds.
const QString KeyRestoredLeft = QStringLiteral("RestoredLeft");
const QString KeyRestoredTop = QStringLiteral("RestoredTop");
const QString KeyRestoredWidth = QStringLiteral("RestoredWidth");
const QString KeyRestoredHeight = QStringLiteral("RestoredHeight");

constexpr int StateNormal = 0;
constexpr int StateMinimised = 1;
constexpr int StateMaximised = 2;

QString PositionFile() {
    return JoinPath(StartIniDir(), FileName);
}

int ReadInt(const TIniFile& ini, const QString& section, const QString& key, int current) {
    const qint64 value = ini.ReadInteger(section, key, current);
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return current;
    return static_cast<int>(value);
}

int StateCode(const QWidget* window) {
    const Qt::WindowStates state = window->windowState();
    if (state & Qt::WindowMinimized)
        return StateMinimised;
    if (state & Qt::WindowMaximized)
        return StateMaximised;
    return StateNormal;
}

// The available area of the screen the rectangle lies on (the primary screen otherwise).
QRect AvailableArea(const QRect& near) {
    QScreen* screen = QGuiApplication::screenAt(near.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

// Bounds for restoring a window that opens maximised: the saved restored bounds, else its
// current bounds when they are smaller than the screen, else three quarters of the screen.
QRect RestoredBounds(const TIniFile& ini, const QString& section, const QWidget* window) {
    if (ini.ValueExists(section, KeyRestoredWidth) && ini.ValueExists(section, KeyRestoredHeight)) {
        const QRect r(ReadInt(ini, section, KeyRestoredLeft, window->x()),
                      ReadInt(ini, section, KeyRestoredTop, window->y()),
                      ReadInt(ini, section, KeyRestoredWidth, window->width()),
                      ReadInt(ini, section, KeyRestoredHeight, window->height()));
        if (r.width() > 0 && r.height() > 0)
            return r;
    }
    const QRect current(window->pos(), window->size());
    const QRect area = AvailableArea(current);
    if (area.isEmpty() || (current.width() < area.width() && current.height() < area.height()))
        return current;
    QRect r(0, 0, area.width() * 3 / 4, area.height() * 3 / 4);
    r.moveCenter(area.center());
    return r;
}

} // namespace

void LoadWindowPosition(QWidget* window) {
    if (!window || !window->isWindow())
        return;
    try {
        const QString path = PositionFile();
        if (!QFileInfo::exists(path))
            return;
        const TIniFile ini(path);
        const QString section = window->objectName();
        // Each key is applied at once, with the window's current value as its default.
        window->move(ReadInt(ini, section, KeyLeft, window->x()), window->y());
        window->move(window->x(), ReadInt(ini, section, KeyTop, window->y()));
        const int width = ReadInt(ini, section, KeyWidth, window->width());
        if (width > 0)
            window->resize(width, window->height());
        const int height = ReadInt(ini, section, KeyHeight, window->height());
        if (height > 0)
            window->resize(window->width(), height);
        const int state = ReadInt(ini, section, KeyState, StateCode(window));
        switch (state) {
        case StateNormal:
            window->setWindowState(window->windowState() &
                                   ~(Qt::WindowMinimized | Qt::WindowMaximized));
            break;
        case StateMinimised:
            window->setWindowState((window->windowState() & ~Qt::WindowMaximized) |
                                   Qt::WindowMinimized);
            break;
        case StateMaximised:
            if (!(window->windowState() & Qt::WindowMaximized)) {
                const QRect restored = RestoredBounds(ini, section, window);
                window->move(restored.topLeft());
                window->resize(restored.size());
            }
            window->setWindowState((window->windowState() & ~Qt::WindowMinimized) |
                                   Qt::WindowMaximized);
            break;
        default:
            break; // an unknown state keeps the current one
        }
    } catch (...) {
    }
}

void SaveWindowPosition(QWidget* window) {
    if (!window || !window->isWindow())
        return;
    try {
        const QString path = PositionFile();
        // Without the "INI" directory nothing is stored.
        if (!QFileInfo(path).dir().exists())
            return;
        TIniFile ini(path);
        const QString section = window->objectName();
        const int state = StateCode(window);
        ini.WriteString(section, KeyName, section);
        ini.WriteInteger(section, KeyLeft, window->x());
        ini.WriteInteger(section, KeyTop, window->y());
        ini.WriteInteger(section, KeyWidth, window->width());
        ini.WriteInteger(section, KeyHeight, window->height());
        ini.WriteInteger(section, KeyState, state);
        if (state == StateMaximised) {
            const QRect normal = window->normalGeometry();
            if (normal.isValid()) {
                // normalGeometry() is the client area; Left/Top keep the frame's corner.
                const QPoint frameOffset = window->geometry().topLeft() - window->pos();
                ini.WriteInteger(section, KeyRestoredLeft, normal.x() - frameOffset.x());
                ini.WriteInteger(section, KeyRestoredTop, normal.y() - frameOffset.y());
                ini.WriteInteger(section, KeyRestoredWidth, normal.width());
                ini.WriteInteger(section, KeyRestoredHeight, normal.height());
            }
        }
        ini.Save(false);
    } catch (...) {
    }
}
