// Job files in memory, so the monitor's rules run without a disk.
#pragma once

#include "capture/JobFiles.h"

#include <map>

namespace marlix::test {

class FakeJobFiles final : public JobFiles {
public:
    std::map<std::string, std::string> files;
    bool failWrites = false;

    std::optional<std::uint64_t> size(const std::string& name) override {
        auto it = files.find(name);
        if (it == files.end()) return std::nullopt;
        return it->second.size();
    }
    std::optional<std::string> tail(const std::string& name, std::size_t n) override {
        auto it = files.find(name);
        if (it == files.end()) return std::nullopt;
        const std::string& s = it->second;
        return s.substr(s.size() > n ? s.size() - n : 0);
    }
    void removePrinted(const std::string& name, std::uint64_t printed) override {
        auto it = files.find(name);
        if (it == files.end()) return;
        if (it->second.size() <= printed)
            files.erase(it);
        else
            it->second.erase(0, printed);
    }
    void remove(const std::string& name) override { files.erase(name); }
    std::size_t append(const std::string& name, std::string_view bytes,
                       std::string& error) override {
        if (failWrites) {
            error = name + ": No space left on device";
            return 0;
        }
        files[name].append(bytes);
        return bytes.size();
    }
};

} // namespace marlix::test
