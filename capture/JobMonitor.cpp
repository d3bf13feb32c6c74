#include "capture/JobMonitor.h"

#include "core/Errors.h"

#include <utility>

namespace marlix {

void JobMonitor::Timer1Timer() {
    const std::string name = host_.jobFileName();
    const auto size = files_.size(name); // 1
    if (!size) {
        setControls(false);
        return;
    }
    setControls(true);              // 2
    if (!host_.autoPrint()) return; // 3
    if (host_.printAtEndOfPage()) { // 4: the form feed decides, never the time-out
        const auto last = files_.tail(name, kEndOfPageWindow);
        if (!last) return;
        if (last->find('\f') != std::string::npos) return printJob(name);
        lastSize_ = *size;
        return;
    }
    if (*size == lastSize_ && *size > 0) return printJob(name); // 5
    lastSize_ = *size;
}

void JobMonitor::Timer2Timer() {
    const bool waiting = files_.size(host_.jobFileName()).has_value();
    setControls(waiting);
    if (waiting && !host_.autoPrint())
        showPending(true);
    else if (!waiting)
        showPending(false);
}

void JobMonitor::printNow() {
    printJob(host_.jobFileName());
    setControls(false);
}

void JobMonitor::discard() {
    files_.remove(host_.jobFileName());
    setControls(false);
    host_.jobDone(true);
}

void JobMonitor::pendingReleased() {
    if (!std::exchange(clickArmed_, false)) return;
    showPending(false);
    printJob(host_.jobFileName());
}

// A print that fails leaves the job in place and the monitor stopped, so
// the job waits until it is printed or thrown away by hand.
void JobMonitor::printJob(const std::string& name) {
    // A click on the pending-job icon while a job prints must not start the
    // same job a second time.
    if (printing_) throw Error(std::string(kPrintingInProgress));
    printing_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{printing_};
    host_.jobPrinting();
    std::uint64_t printed = 0;
    try {
        printed = host_.PrintOut(name);
    } catch (...) {
        host_.jobDone(false);
        throw;
    }
    files_.removePrinted(name, printed);
    restart();
    host_.jobDone(true);
}

void JobMonitor::showPending(bool shown) {
    if (shown == pendingShown_) return;
    pendingShown_ = shown;
    host_.setPendingIcon(shown);
}

} // namespace marlix
