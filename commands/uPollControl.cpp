#include "commands/uPollControl.h"

#include "devicelink/uCustomTimer.h"
#include "devicelink/uRequestDevices.h"

bool TTimerPollControl::PollingRunning() const {
    TCustomTimer* timer = Link_ ? Link_->Timer() : nullptr;
    return timer && timer->IsRunning();
}

void TTimerPollControl::StopPolling() {
    if (!Link_)
        return;
    if (TCustomTimer* timer = Link_->Timer())
        timer->Stop();
    Link_->WaitCycleEnd();
}

void TTimerPollControl::StartPolling() {
    if (TCustomTimer* timer = Link_ ? Link_->Timer() : nullptr)
        timer->Start();
}
