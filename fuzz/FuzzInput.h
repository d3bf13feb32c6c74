// What the fuzzers share: the input read as a script, and a folder of their
// own for a whole run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace marlix::fuzz {

// Reads past the end as zeros, so every script runs to its end.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t word() {
        const std::uint16_t high = byte();
        return std::uint16_t(high << 8 | byte());
    }
    std::int32_t number() {
        const std::uint32_t high = word();
        return std::int32_t(high << 16 | word());
    }
    std::string bytes(std::size_t n) {
        n = std::min(n, size_ - std::min(at_, size_));
        std::string s(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return s;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// In memory where there is a tmpfs: a run makes and deletes files by the
// hundred thousand.
struct TempFolder {
    std::filesystem::path path;
    explicit TempFolder(const std::string& tag) {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::string name = std::string(base) + "/marlix-" + tag + "-fuzz-XXXXXX";
            if (::mkdtemp(name.data())) {
                path = name;
                return;
            }
        }
        std::abort();
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    void clear() const {
        for (const auto& entry : std::filesystem::directory_iterator(path))
            std::filesystem::remove_all(entry.path());
    }
};

} // namespace marlix::fuzz
