#include "uWindowPosition.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QRect>
#include <QRegion>
#include <QScreen>
#include <QWidget>
#include <limits>
#include <optional>
#include <utility>

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

// Height of a title bar: the strip at the top of a window that has to show for the window to
// be dragged, and the frame taken for a window before the window system has framed it.
constexpr int TitleBarHeight = 30;
// Width of a window's side and bottom border, assumed before the window system has framed it.
constexpr int AssumedBorder = 4;
// Width of the title bar that has to show for the window to be dragged back.
constexpr int MinVisibleTitle = 100;
// Space between windows laid out on a first start.
constexpr int PlaceGap = 8;
// Set on a tool window that a first start left closed for want of room.
const char* const NotPlacedProperty = "ulmarNotPlaced";

QString PositionFile() {
    return JoinPath(StartIniDir(), FileName);
}

// A regular file of a settings file's size (as TIniFile reads it). Anything else under that
// name (a directory, a FIFO, a device) is left alone.
bool Readable(const QFileInfo& file) {
    return file.isFile() && file.size() <= IniFileMaxBytes;
}

// The position file may be rewritten: missing, or readable and not marked read-only for
// everyone (a replacing rename would otherwise ignore the mark for a privileged user).
bool Writable(const QFileInfo& file) {
    if (!file.exists() && !file.isSymLink())
        return true;
    // The mode bits only: the "user" bits say what this process may do, and root may do all.
    constexpr QFile::Permissions write = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    return Readable(file) && (file.permissions() & write);
}

int ReadInt(const TIniFile& ini, const QString& section, const QString& key, int current) {
    const qint64 value = ini.ReadInteger(section, key, current);
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return current;
    return static_cast<int>(value);
}

// Edges far beyond any desktop are brought to this distance, so that the window's rectangle
// is worked out without overflow; the window stays off every screen all the same.
constexpr int MaxEdge = 1 << 24;

int ReadEdge(const TIniFile& ini, const QString& section, const QString& key, int current) {
    return qBound(-MaxEdge, ReadInt(ini, section, key, current), MaxEdge);
}

int ReadExtent(const TIniFile& ini, const QString& section, const QString& key, int current) {
    return qMin(ReadInt(ini, section, key, current), QWIDGETSIZE_MAX);
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

// The available areas of all screens, and the primary screen's.
QList<QRect> ScreenAreas() {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    return areas;
}

QRect PrimaryArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

// The rectangle moved inside the area, its size bounded by the area's.
QRect ClampInto(QRect r, const QRect& area) {
    if (area.isEmpty())
        return r;
    r.setSize(r.size().boundedTo(area.size()));
    r.moveLeft(qBound(area.left(), r.left(), area.right() - r.width() + 1));
    r.moveTop(qBound(area.top(), r.top(), area.bottom() - r.height() + 1));
    return r;
}

// Moves and sizes the window to the frame unless it is there already.
void ApplyFrame(QWidget* window, const QRect& frame) {
    if (window->pos() != frame.topLeft())
        window->move(frame.topLeft());
    if (window->size() != frame.size())
        window->resize(frame.size());
}

// The window with its frame: before the window system has framed it, a title bar is assumed.
QRect OuterFrame(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    if (frame.size() != window->size())
        return frame;
    return QRect(window->pos(), window->size() + QSize(0, TitleBarHeight));
}

bool HasGeometryKey(const TIniFile& ini, const QString& section) {
    for (const QString& key : {KeyLeft, KeyTop, KeyWidth, KeyHeight})
        if (ini.ValueExists(section, key))
            return true;
    return false;
}

// Bounds for restoring a window that opens maximised: the saved restored bounds, else its
// current bounds when they are smaller than the screen, else three quarters of the screen.
QRect RestoredBounds(const TIniFile& ini, const QString& section, const QWidget* window) {
    if (ini.ValueExists(section, KeyRestoredWidth) && ini.ValueExists(section, KeyRestoredHeight)) {
        const QRect r(ReadEdge(ini, section, KeyRestoredLeft, window->x()),
                      ReadEdge(ini, section, KeyRestoredTop, window->y()),
                      ReadExtent(ini, section, KeyRestoredWidth, window->width()),
                      ReadExtent(ini, section, KeyRestoredHeight, window->height()));
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
    // A file that is not read (see TIniFile) leaves the window where it is.
    const TIniFile ini(PositionFile());
    if (!ini.ReadError().isEmpty())
        return;
    const QString section = window->objectName();
    // Each key is applied at once, with the window's current value as its default.
    window->move(ReadEdge(ini, section, KeyLeft, window->x()), window->y());
    window->move(window->x(), ReadEdge(ini, section, KeyTop, window->y()));
    const int width = ReadExtent(ini, section, KeyWidth, window->width());
    if (width > 0)
        window->resize(width, window->height());
    const int height = ReadExtent(ini, section, KeyHeight, window->height());
    if (height > 0)
        window->resize(window->width(), height);
    if (HasGeometryKey(ini, section)) {
        // A window of a fixed layout, or never sized, takes its preferred size when it is
        // shown, and none goes below its minimum: that is the size that has to fit.
        const bool fixed =
            window->layout() && window->layout()->sizeConstraint() == QLayout::SetFixedSize;
        QSize size =
            (window->testAttribute(Qt::WA_Resized) && !fixed) || !window->sizeHint().isValid()
                ? window->size()
                : window->sizeHint();
        size = size.expandedTo(window->minimumSize());
        if (window->minimumSizeHint().isValid())
            size = size.expandedTo(window->minimumSizeHint());
        // With the window system's frame: before the window is framed, a title bar and a
        // thin border are assumed.
        QSize margins = window->frameGeometry().size() - window->size();
        if (margins.isNull())
            margins = QSize(2 * AssumedBorder, TitleBarHeight + AssumedBorder);
        const QRect saved(window->pos(), size + margins);
        const QRect kept = KeepOnScreen(saved, ScreenAreas(), PrimaryArea());
        if (kept != saved)
            ApplyFrame(window, QRect(kept.topLeft(), kept.size() - margins));
    }
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
            const QRect restored =
                KeepOnScreen(RestoredBounds(ini, section, window), ScreenAreas(), PrimaryArea());
            window->move(restored.topLeft());
            window->resize(restored.size());
        }
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) |
                               Qt::WindowMaximized);
        break;
    default:
        break; // an unknown state keeps the current one
    }
}

void SaveWindowPosition(QWidget* window) {
    if (!window || !window->isWindow())
        return;
    // A window left closed on a first start has no position of the user's to keep.
    if (window->property(NotPlacedProperty).toBool() && !window->isVisible())
        return;
    const QString path = PositionFile();
    // Without the "INI" directory nothing is stored; a file that cannot be rewritten is
    // kept as it is. Either way the window closes.
    const QFileInfo file(path);
    if (!file.dir().exists() || !Writable(file))
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
}

bool HasSavedPosition(const QWidget* window) {
    if (!window)
        return false;
    const TIniFile ini(PositionFile());
    if (!ini.ReadError().isEmpty())
        return false;
    const QString section = window->objectName();
    // Unreadable values are read with two different defaults: a number reads the same.
    for (const QString& key : {KeyLeft, KeyTop})
        if (ini.ReadInteger(section, key, 0) == ini.ReadInteger(section, key, 1))
            return true;
    return false;
}

QRect KeepOnScreen(const QRect& frame, const QList<QRect>& areas, const QRect& primary) {
    const QRect title(frame.left(), frame.top(), frame.width(),
                      qMin(frame.height(), TitleBarHeight));
    // The screen showing most of the title bar, when one shows enough of it to drag it.
    QRect home;
    qint64 homeSeen = 0;
    QRegion desktop;
    for (const QRect& area : areas) {
        desktop += area;
        const QRect seen = title & area;
        if (seen.width() >= qMin(MinVisibleTitle, title.width()) &&
            seen.height() * 2 >= title.height() &&
            qint64(seen.width()) * seen.height() > homeSeen) {
            home = area;
            homeSeen = qint64(seen.width()) * seen.height();
        }
    }
    // Whole on the screens (across two of them too): left where it is.
    if (!home.isEmpty() && (QRegion(frame) - desktop).isEmpty())
        return frame;
    // Partly off the screens (a larger screen or another scale factor when it was saved):
    // brought onto the screen that shows its title bar, else onto the primary screen.
    if (!home.isEmpty())
        return ClampInto(frame, home);
    return primary.isEmpty() ? frame : ClampInto(frame, primary);
}

QList<QRect> PlaceBeside(const QRect& main, const QList<QRect>& occupied,
                         const QList<TPlaceRequest>& windows, const QRect& area) {
    QList<QRect> taken = occupied;
    taken.prepend(main);
    QList<QRect> placed;
    for (const TPlaceRequest& request : windows) {
        const QSize size = request.Size.expandedTo(QSize(0, 0));
        const QPoint anchor = request.Side == TPlaceSide::Right
                                  ? QPoint(main.right() + 1 + PlaceGap, main.top())
                                  : QPoint(main.left(), main.bottom() + 1 + PlaceGap);
        // Spots on the four sides of every rectangle taken so far, a gap away from it.
        QList<QPoint> spots{anchor};
        for (const QRect& r : std::as_const(taken))
            spots << QPoint(r.right() + 1 + PlaceGap, r.top())
                  << QPoint(r.left(), r.bottom() + 1 + PlaceGap)
                  << QPoint(r.left() - PlaceGap - size.width(), r.top())
                  << QPoint(r.left(), r.top() - PlaceGap - size.height());
        QRect best;
        qint64 bestOverlap = -1;
        qint64 bestDistance = 0;
        for (const QPoint& spot : std::as_const(spots)) {
            const QRect r = ClampInto(QRect(spot, size), area);
            qint64 overlap = 0;
            for (const QRect& t : std::as_const(taken)) {
                const QRect common = r & t;
                overlap += qint64(common.width()) * common.height();
            }
            const qint64 distance =
                qAbs(qint64(r.left()) - anchor.x()) + qAbs(qint64(r.top()) - anchor.y());
            if (bestOverlap < 0 || overlap < bestOverlap ||
                (overlap == bestOverlap && distance < bestDistance)) {
                best = r;
                bestOverlap = overlap;
                bestDistance = distance;
            }
        }
        taken << best;
        placed << best;
    }
    return placed;
}

void PlaceToolWindows(QWidget* main, const QList<TToolWindow>& windows) {
    if (!main || !main->isWindow())
        return;
    if (!HasSavedPosition(main)) {
        const QRect primary = PrimaryArea();
        if (!primary.isEmpty()) {
            main->move(primary.topLeft());
            // No wider than the screen (a small screen or a large scale factor).
            const int spare = OuterFrame(main).width() - primary.width();
            if (spare > 0)
                main->resize(qMax(main->width() - spare, main->minimumWidth()), main->height());
        }
    }
    QRect mainFrame = OuterFrame(main);
    const QRect area = AvailableArea(mainFrame);
    QList<QRect> occupied;
    QList<TToolWindow> moving;
    for (const TToolWindow& tool : windows) {
        if (!tool.Window || !tool.Window->isWindow() || tool.Window == main)
            continue;
        if (HasSavedPosition(tool.Window))
            occupied << OuterFrame(tool.Window);
        else
            moving << tool;
    }
    // Where the window goes clear of the main window and of those placed before it, with
    // its client size; none when there is no such room.
    const auto place = [&](QWidget* w, const QRect& outer,
                           TPlaceSide side) -> std::optional<std::pair<QRect, QSize>> {
        const QRect frame =
            PlaceBeside(mainFrame, occupied, {TPlaceRequest{outer.size(), side}}, area).value(0);
        // The frame's title bar is above the client area: only the corner is moved, and the
        // size shrinks only where the area is smaller than the window.
        const QSize client = w->size() - (outer.size() - frame.size());
        bool clear = !frame.intersects(mainFrame) && client.width() >= w->minimumWidth() &&
                     client.height() >= w->minimumHeight();
        for (const QRect& other : std::as_const(occupied))
            clear = clear && !frame.intersects(other);
        if (!clear)
            return std::nullopt;
        return std::pair{frame, client};
    };
    const bool mainPlaced = !HasSavedPosition(main);
    // One window at a time, each clear of those placed before it.
    for (const TToolWindow& tool : std::as_const(moving)) {
        QWidget* w = tool.Window;
        const QRect outer = OuterFrame(w);
        auto spot = place(w, outer, tool.Side);
        // A window that goes beside the main window may make room for itself there by
        // narrowing a main window the program placed (its tool bar then folds).
        const int narrower = area.right() + 1 - PlaceGap - outer.width() - mainFrame.left();
        if (!spot && tool.Side == TPlaceSide::Right && mainPlaced && narrower < mainFrame.width() &&
            narrower >= main->minimumSizeHint().width()) {
            const QRect before = mainFrame;
            main->resize(main->width() - (mainFrame.width() - narrower), main->height());
            mainFrame = OuterFrame(main);
            spot = place(w, outer, tool.Side);
            if (!spot) {
                main->resize(main->width() + (before.width() - mainFrame.width()), main->height());
                mainFrame = OuterFrame(main);
            }
        }
        if (!spot) {
            // No room clear of the others (a small screen): the window is not opened now,
            // and "Окна" opens it on demand; its position is not stored until then.
            w->hide();
            w->setProperty(NotPlacedProperty, true);
            continue;
        }
        w->move(spot->first.topLeft());
        if (spot->first.size() != outer.size())
            w->resize(spot->second);
        occupied << spot->first;
    }
}
