// The job file monitor: nothing tells us when a DOS program has finished a
// job, so the monitor watches the job file and prints it once it has stopped
// growing for the time-out (or, if the user wants, once a form feed stands
// near its end), then removes what it printed. It also keeps the job
// controls and the pending-job icon in step with the file.
//
// A job is printed once, whatever goes wrong: a print that fails on the way
// to paper leaves the job whole and the monitor running (the window waits
// for the user; the service tries again after a growing pause); a job whose
// own bytes fail is printed as far as it goes and set aside; a print that a
// crash or kill cut short is found at the next start (PrintMarker).
//
// Plain logic: the window or the service supplies the controls, the timers
// and the print through JobMonitor::Host, so the rules run under a test
// clock.
#pragma once

#include "capture/JobFiles.h"
#include "capture/PrintMarker.h"

#include <cstdint>
#include <string>

namespace marlix {

class JobMonitor {
public:
    // How a print went.
    struct Printed {
        enum class Result {
            Printed,   // all of it
            JobFailed, // its own bytes failed; the pages before are printed
            Failed,    // the way to paper failed; nothing printed
            Cancelled, // the user stopped it: its bytes go as Clear does
            Abandoned, // the program ends: printed whole at the next start
        };
        Result result = Result::Printed;
        std::string message;
    };

    // What the monitor needs from the window or service it lives in.
    class Host {
    public:
        virtual ~Host() = default;
        // Read afresh at every use, so a new name counts from the next tick.
        virtual std::string jobFileName() = 0;
        virtual bool autoPrint() = 0;
        virtual bool printAtEndOfPage() = 0;
        virtual int timeOut() = 0; // seconds
        // Prints the job file's bytes from `from` to `to`; tells `marker` of
        // every document it writes.
        virtual Printed print(const std::string& fileName, std::uint64_t from, std::uint64_t to,
                              PrintMarker& marker) = 0;
        virtual void setJobControls(bool enabled) = 0; // SpeedButton1, SpeedButton2, N2, N7
        virtual void setPendingIcon(bool shown) = 0;
        virtual void setMonitorInterval(int ms) = 0; // 0 stops the timer
        // The service tries a job that failed again by itself; the window
        // leaves it waiting for the user.
        virtual bool retriesByItself() { return false; }
        // Something the user must hear of: a job set aside, or one printed
        // again after a print was cut short.
        virtual void report(const std::string& /*text*/) {}
    };

    // Bytes at the file's end where a form feed counts as the end of the job.
    static constexpr std::size_t kEndOfPageWindow = 32;
    // The longest pause between two tries of a job that failed, in seconds.
    static constexpr int kLongestRetrySeconds = 300;

    JobMonitor(Host& host, JobFiles& files) : host_(host), files_(files) {}

    void Timer1Timer(); // the monitor tick, every time-out
    void Timer2Timer(); // the presence tick, every 100 ms
    void TrackBar1Change() { restart(); }

    // Print now (SpeedButton1, N2): prints the waiting job and disables the
    // job controls until the presence tick sees a new one.
    void printNow();
    // Clear (SpeedButton2, N7): the waiting job is thrown away unprinted.
    void discard();

    // The pending-job icon: a press and then a release on it print the job.
    void pendingPressed() { clickArmed_ = true; }
    void pendingReleased();

    std::uint64_t lastSeenSize() const { return lastSize_; }
    bool pendingIconShown() const { return pendingShown_; }
    bool printing() const { return printing_; }
    // A job waits after a failed print.
    bool jobFailed() const { return failed_; }

private:
    struct Waiting {
        JobFiles::State file;
        std::uint64_t from = 0; // printed before
        std::uint64_t size() const { return file.size - from; }
    };
    std::optional<Waiting> waiting(const std::string& name);
    void printJob(const std::string& name, const Waiting& job);
    // What a print that never ended left behind is dealt with, once per name.
    void recover(const std::string& name);
    void failedPrint(const Waiting& job);
    void restart() { host_.setMonitorInterval(host_.timeOut() * 1000); }
    void setControls(bool enabled) { host_.setJobControls(enabled); }
    void showPending(bool shown);

    Host& host_;
    JobFiles& files_;
    PrintMarker marker_;
    std::string recovered_; // the job file whose leftovers were looked for
    std::string refused_;   // a job file name told of as no regular file
    std::uint64_t lastSize_ = 0;
    bool clickArmed_ = false;
    bool pendingShown_ = false;
    bool printing_ = false;
    // After a failed print: the job that failed and when it may be tried again.
    bool failed_ = false;
    std::uint64_t failedSize_ = 0;
    int retryTicks_ = 0; // ticks to wait before the next try
    int retryPause_ = 0; // the pause after this failure, in ticks
};

} // namespace marlix
