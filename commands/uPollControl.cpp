#include "uPollControl.h"

#include "uRequestDevices.h"

bool TTimerPollControl::PollingRunning() const {
    return Link_ && Link_->Poller()->Running();
}

void TTimerPollControl::StopPolling() {
    if (Link_)
        Link_->Poller()->Stop();
}

void TTimerPollControl::StartPolling() {
    if (Link_)
        Link_->Poller()->Start();
}
