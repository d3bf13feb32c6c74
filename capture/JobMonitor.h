// The job file monitor: nothing tells us when a DOS program has finished a
// job, so the monitor watches the job file and prints it once it has stopped
// growing for the time-out (or, if the user wants, once a form feed stands
// near its end), then deletes it. It also keeps the job controls and the
// pending-job icon in step with the file.
//
// Plain logic: the window supplies the controls, the timers and the print
// through JobMonitor::Host, and the files through JobFiles, so the rules run
// under a test clock.
#pragma once

#include "capture/JobFiles.h"

#include <cstdint>
#include <string>

namespace marlix {

class JobMonitor {
public:
    // What the monitor needs from the window it lives in.
    class Host {
    public:
        virtual ~Host() = default;
        // Read afresh at every use, so a new name counts from the next tick.
        virtual std::string jobFileName() = 0;
        virtual bool autoPrint() = 0;
        virtual bool printAtEndOfPage() = 0;
        virtual int timeOut() = 0; // seconds
        // Prints the whole file and returns how many of its bytes it took;
        // stops the monitor timer at its start. Failures are raised.
        virtual std::uint64_t PrintOut(const std::string& fileName) = 0;
        virtual void setJobControls(bool enabled) = 0; // SpeedButton1, SpeedButton2, N2, N7
        virtual void setPendingIcon(bool shown) = 0;
        virtual void setMonitorInterval(int ms) = 0; // 0 stops the timer
        // The job file is about to be printed; then it has been printed and
        // deleted (ended) or the print failed and it stays (not ended). The
        // capture holds what arrives meanwhile.
        virtual void jobPrinting() {}
        virtual void jobDone(bool /*ended*/) {}
    };

    // Bytes at the file's end where a form feed counts as the end of the job.
    static constexpr std::size_t kEndOfPageWindow = 32;

    JobMonitor(Host& host, JobFiles& files) : host_(host), files_(files) {}

    void Timer1Timer(); // the monitor tick, every time-out
    void Timer2Timer(); // the presence tick, every 100 ms
    void TrackBar1Change() { restart(); }

    // Print now (SpeedButton1, N2): prints and deletes the job file and
    // disables the job controls until the presence tick sees a new one.
    void printNow();
    // Clear (SpeedButton2, N7): the job is thrown away unprinted.
    void discard();

    // The pending-job icon: a press and then a release on it print the job.
    void pendingPressed() { clickArmed_ = true; }
    void pendingReleased();

    std::uint64_t lastSeenSize() const { return lastSize_; }
    bool pendingIconShown() const { return pendingShown_; }

private:
    void printJob(const std::string& name);
    void restart() { host_.setMonitorInterval(host_.timeOut() * 1000); }
    void setControls(bool enabled) { host_.setJobControls(enabled); }
    void showPending(bool shown);

    Host& host_;
    JobFiles& files_;
    std::uint64_t lastSize_ = 0;
    bool clickArmed_ = false;
    bool pendingShown_ = false;
    bool printing_ = false;
};

} // namespace marlix
