#include "uWindowContext.h"
#include "uRequestDevices.h"

#include <QMetaMethod>

TWindowContext::TWindowContext(TDeviceLink* link, QObject* parent) : QObject(parent), Link_(link) {}

void TWindowContext::EditDevice(TUlmar& ulmar, const std::function<void(TUlmar&)>& edit) const {
    if (Link_ && Link_->Ulmar() == &ulmar)
        Link_->EditDevice(edit);
    else
        edit(ulmar);
}

QAction* TWindowContext::Action(const QString& name) const {
    return Lookup_ && !name.isEmpty() ? Lookup_(name) : nullptr;
}

bool TWindowContext::RequestRefresh() {
    if (!isSignalConnected(QMetaMethod::fromSignal(&TWindowContext::RefreshRequested)))
        return false;
    emit RefreshRequested();
    return true;
}
