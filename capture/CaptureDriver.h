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
    // The monitor prints the job file; then the print is over and the job
    // ended, or (the print failed) stays.
    virtual void jobPrinting() = 0;
    virtual void jobDone(bool ended) = 0;
    // Where the capture listens, for the user ("127.0.0.1:9100").
    virtual std::string endpoint() const = 0;
    // Called when captured bytes cannot be written to the job file.
    std::function<void(const std::string& reason)> onError;
};

struct CaptureSettings {
    std::function<std::string()> jobFileName; // read whenever a new job starts
    std::uint16_t port = 9100;
};

// Loads the driver; fails with its endpoint and " loaded incorrectly.".
using CaptureFactory = std::function<std::unique_ptr<CaptureDriver>(const CaptureSettings&)>;

} // namespace marlix
