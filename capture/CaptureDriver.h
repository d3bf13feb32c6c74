// The port-capture driver as the main window sees it: it exists from the
// moment capture starts (with the job file name of that moment) until capture
// stops or the program ends. A platform with a capture transport supplies the
// factory; without one, port capture is not available.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace marlix {

class CaptureDriver {
public:
    virtual ~CaptureDriver() = default;
};

// Starts capturing into the job file; fails with the driver's message.
using CaptureFactory = std::function<std::unique_ptr<CaptureDriver>(const std::string& jobFile)>;

} // namespace marlix
