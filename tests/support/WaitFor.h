// Waits for something another process or the event loop brings about.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace marlix::test {

// Polls until the condition holds or the time is up, letting this process's
// own events (sockets, timers) run meanwhile.
template <typename F> bool waitFor(F&& condition, int ms = 15000) {
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        if (QCoreApplication::instance()) QCoreApplication::processEvents();
        QThread::msleep(50);
    }
    return true;
}

} // namespace marlix::test
