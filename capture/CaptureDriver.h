// The port-capture driver as the main window sees it: it exists from the
// moment capture starts until capture stops or the program ends, and appends
// what DOS programs print to the job file. A platform with a capture
// transport supplies the factory; without one, port capture is not available.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace marlix {

class CaptureDriver {
public:
    virtual ~CaptureDriver() = default;
    // The capture switch of the control block.
    virtual void setCapture(bool on) = 0;
    // Where the capture listens, for the user ("127.0.0.1:9100").
    virtual std::string endpoint() const = 0;
    // Why nothing is captured now, in plain words ("port 9100 is in use by
    // another program"); empty while capturing. The driver keeps trying by
    // itself: a busy port is a state, not a setting.
    virtual std::string problem() const = 0;
    // The program ends: every byte the senders were allowed to send goes to
    // the job file, however the printing stands, within about `ms`.
    virtual void flush(int ms) = 0;
    // Called when captured bytes cannot be written to the job file.
    std::function<void(const std::string& reason)> onError;
    // Called whenever problem() changes.
    std::function<void(const std::string& problem)> onProblem;
};

class JobFiles;

struct CaptureSettings {
    std::function<std::string()> jobFileName; // read whenever a new job starts
    // How long a sender that keeps its connection may pause before what it
    // sent counts as a job of its own: the job time-out, read when it counts.
    std::function<std::int64_t()> quietMs;
    std::uint16_t port = 9100;
    JobFiles* files = nullptr; // the monitor's, so both see the same files
};

// Loads the driver; fails with its endpoint and " loaded incorrectly." when
// it cannot be loaded at all.
using CaptureFactory = std::function<std::unique_ptr<CaptureDriver>(const CaptureSettings&)>;

} // namespace marlix
