// Reads one job file, or the part of it from one offset to another: its size
// is taken once at open, so bytes a writer appends later belong to the next
// job.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace marlix {

class JobFile {
public:
    static constexpr std::uint64_t kToTheEnd = ~std::uint64_t{0};

    // Fails with "Cannot open file %s" and the reason when the file is
    // missing, unreadable, no regular file (a FIFO, a device, a folder: read
    // without waiting on it) or locked for exclusive use by the program that
    // writes it. The bytes read are those from `from` up to `to` or the
    // file's end, if sooner.
    explicit JobFile(const std::string& name, std::uint64_t from = 0, std::uint64_t to = kToTheEnd);
    ~JobFile();
    JobFile(const JobFile&) = delete;
    JobFile& operator=(const JobFile&) = delete;

    // The bytes this job reads, and the offset in the file where they end.
    std::uint64_t size() const { return size_; }
    std::uint64_t end() const { return from_ + size_; }
    std::uint64_t remaining() const { return size_ - consumed_; }

    // The next byte; only while remaining() > 0.
    std::uint8_t next() {
        if (pos_ == buffer_.size()) fill(1);
        ++consumed_;
        return static_cast<std::uint8_t>(buffer_[pos_++]);
    }

    // Up to n of the bytes that follow, without taking them.
    std::string_view peek(std::size_t n);
    void skip(std::size_t n);
    void close();

private:
    void fill(std::size_t need);

    std::FILE* file_ = nullptr;
    std::uint64_t from_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t consumed_ = 0;
    std::uint64_t read_ = 0; // bytes read from the file into the buffer so far
    std::string buffer_;
    std::size_t pos_ = 0;
};

} // namespace marlix
