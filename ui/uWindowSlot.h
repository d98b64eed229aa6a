#pragma once
// Where an owner keeps one of its tool windows: empty from the moment the window closes (not
// only once it is deleted), so that the next Show makes a fresh window instead of bringing
// back one that is about to be deleted. The window type has a Closed() signal, emitted when
// its close is accepted. User-interface thread only.

#include "uWindowContext.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

class TWindowSlotBase : public QObject {
public:
    void Clear() { Window_.clear(); }

protected:
    QPointer<QWidget> Window_;
};

template <class W> class TWindowSlot : public TWindowSlotBase {
public:
    W* Get() const { return static_cast<W*>(Window_.data()); }
    operator W*() const { return Get(); }
    W* operator->() const { return Get(); }
    void Set(W* window) {
        Window_ = window;
        if (window)
            QObject::connect(window, &W::Closed, this, [this, window] {
                if (Window_ == window)
                    Window_.clear();
            });
    }
};

// The window's Refresh follows the context's refresh from now until its close is accepted (a
// closed window waiting for deletion shows nothing more). A null context connects nothing.
template <class W> void FollowRefresh(TWindowContext* context, W* window) {
    if (!context || !window)
        return;
    const QMetaObject::Connection refresh =
        QObject::connect(context, &TWindowContext::Refreshed, window, &W::Refresh);
    QObject::connect(window, &W::Closed, window, [refresh] { QObject::disconnect(refresh); });
}
