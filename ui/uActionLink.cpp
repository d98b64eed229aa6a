#include "uActionLink.h"
#include "uRequestDevices.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

QWidget* FindMainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("FormMain"))
            return w;
    }
    return nullptr;
}

QAction* FindMainAction(const QString& name) {
    if (name.isEmpty())
        return nullptr;
    if (QWidget* main = FindMainWindow())
        return main->findChild<QAction*>(name);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* action = w->findChild<QAction*>(name))
            return action;
    }
    return nullptr;
}

bool PollingStopped(const TDeviceLink* link) {
    // The link's poller says it; without a device link, the main window's start action, which
    // is enabled exactly while polling is stopped.
    if (link)
        return !link->Poller()->Running();
    if (QAction* start = FindMainAction(QStringLiteral("actOprosStart")))
        return start->isEnabled();
    return true;
}

namespace {

class TEscCloser : public QObject {
public:
    explicit TEscCloser(QWidget* window) : QObject(window), Window_(window) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == Window_ &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            Window_->close();
            return true;
        }
        return false;
    }

private:
    QWidget* Window_;
};

} // namespace

void InstallEscClose(QWidget* window) {
    // An application-wide filter, so that Esc reaches the window before any of its controls.
    qApp->installEventFilter(new TEscCloser(window));
}

TActionLabel::TActionLabel(QAction* action, TStyle style, QWidget* parent)
    : QLabel(parent), Action_(action) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (style != TStyle::Plain)
        setCursor(Qt::PointingHandCursor);
    QFont f = font();
    QPalette pal = palette();
    if (style == TStyle::Link) {
        f.setUnderline(true);
        // Only the enabled groups: a disabled link turns grey.
        pal.setColor(QPalette::Active, QPalette::WindowText, Qt::blue);
        pal.setColor(QPalette::Inactive, QPalette::WindowText, Qt::blue);
    } else if (style == TStyle::Black) {
        pal.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
        pal.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
    }
    setFont(f);
    setPalette(pal);
}

void TActionLabel::mousePressEvent(QMouseEvent* event) {
    Pressed_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void TActionLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = Pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    Pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (!click)
        return;
    // The action may close the window that owns this label.
    const QPointer<QAction> action = Action_;
    emit Clicked();
    if (action && action->isEnabled())
        action->trigger();
}
