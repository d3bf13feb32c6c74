// The job file as the monitor and the capture see it. The monitor only looks
// at the file's size and last bytes and never locks it: the party that writes
// it (a DOS program, the capture) may append at any moment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace marlix {

class JobFiles {
public:
    virtual ~JobFiles() = default;

    // The file's size as the directory reports it; nothing when it is absent.
    virtual std::optional<std::uint64_t> size(const std::string& name) = 0;
    // Up to the last n bytes; nothing when the file cannot be opened.
    virtual std::optional<std::string> tail(const std::string& name, std::size_t n) = 0;
    // Deletes a job whose first `printed` bytes were printed. Bytes a writer
    // added after them stay in the file, alone, as the next job. Failures are
    // not reported: a job file that stays is seen again at the next tick.
    virtual void removePrinted(const std::string& name, std::uint64_t printed) = 0;
    // Throws a job away, whatever it holds; failures are not reported.
    virtual void remove(const std::string& name) = 0;
    // Appends at the end, creating the file (for the user alone) when absent;
    // opened by name for every call, so a job deleted meanwhile starts anew.
    // Returns how many bytes reached the file; when not all did, `error`
    // holds the system's reason.
    virtual std::size_t append(const std::string& name, std::string_view bytes,
                               std::string& error) = 0;
};

// The files on disk.
class DiskJobFiles final : public JobFiles {
public:
    std::optional<std::uint64_t> size(const std::string& name) override;
    std::optional<std::string> tail(const std::string& name, std::size_t n) override;
    void removePrinted(const std::string& name, std::uint64_t printed) override;
    void remove(const std::string& name) override;
    std::size_t append(const std::string& name, std::string_view bytes,
                       std::string& error) override;
};

} // namespace marlix
