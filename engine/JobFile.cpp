#include "engine/JobFile.h"

#include "core/Errors.h"
#include "core/FileKind.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace marlix {

namespace {
constexpr std::size_t kChunk = 64 * 1024;

[[noreturn]] void cannotOpen(const std::string& name, std::string_view reason = {}) {
    throw Error(withReason(formatMessage(kCannotOpenFile, name), reason));
}

#if defined(__unix__) || defined(__APPLE__)
// Opens the file without waiting: a FIFO or a device in the job file's
// place must not hang the program in open(), nor be read as a job.
std::FILE* openRegular(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) cannotOpen(name, std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        cannotOpen(name, notARegularFile(st.st_mode));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        cannotOpen(name, std::strerror(errno));
    }
    return f;
}
#endif

// On Windows the writer's share mode keeps us out by itself. Elsewhere a writer
// that wants the file to itself takes an exclusive advisory lock; we only
// test for it and hold nothing, so the writer is never locked out by us.
bool lockedByWriter([[maybe_unused]] std::FILE* f) {
#if defined(__unix__) || defined(__APPLE__)
    int fd = fileno(f);
    if (flock(fd, LOCK_SH | LOCK_NB) != 0) return true;
    flock(fd, LOCK_UN);
#endif
    return false;
}

bool seekTo(std::FILE* f, std::int64_t offset, int whence) {
#if defined(_WIN32)
    return _fseeki64(f, offset, whence) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), whence) == 0;
#endif
}

// The size of the file that was opened, whatever has the name by now.
std::optional<std::uint64_t> sizeOf(std::FILE* f) {
    if (!seekTo(f, 0, SEEK_END)) return std::nullopt;
#if defined(_WIN32)
    const std::int64_t end = _ftelli64(f);
#else
    const std::int64_t end = ftello(f);
#endif
    if (end < 0) return std::nullopt;
    return static_cast<std::uint64_t>(end);
}
} // namespace

JobFile::JobFile(const std::string& name, std::uint64_t from, std::uint64_t to) {
#if defined(__unix__) || defined(__APPLE__)
    file_ = openRegular(name);
#else
    std::error_code ec;
    if (!std::filesystem::is_regular_file(name, ec)) cannotOpen(name, "it is not a regular file");
    file_ = std::fopen(name.c_str(), "rb");
    if (!file_) cannotOpen(name, std::strerror(errno));
#endif
    if (lockedByWriter(file_)) {
        close();
        cannotOpen(name, "the program that writes it keeps it to itself");
    }
    const auto size = sizeOf(file_);
    if (!size) {
        close();
        cannotOpen(name);
    }
    const std::uint64_t end = std::min(*size, to);
    from_ = std::min(from, end);
    size_ = end - from_;
    if (!seekTo(file_, static_cast<std::int64_t>(from_), SEEK_SET)) {
        close();
        cannotOpen(name);
    }
}

JobFile::~JobFile() {
    close();
}

void JobFile::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

void JobFile::fill(std::size_t need) {
    // Keep the unread tail and append at least `need` more bytes if the file has them.
    buffer_.erase(0, pos_);
    pos_ = 0;
    std::uint64_t left = size_ - read_;
    std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(std::max(need, kChunk), left));
    std::size_t old = buffer_.size();
    buffer_.resize(old + want);
    std::size_t got = file_ ? std::fread(buffer_.data() + old, 1, want, file_) : 0;
    buffer_.resize(old + got);
    read_ += got;
    if (got < want) {
        // The file shrank under us: what was promised at open can't be
        // printed, but the job is not to blame.
        throw IoError("Read beyond end of file");
    }
}

std::string_view JobFile::peek(std::size_t n) {
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, remaining()));
    if (buffer_.size() - pos_ < n) fill(n - (buffer_.size() - pos_));
    return std::string_view(buffer_).substr(pos_, n);
}

void JobFile::skip(std::size_t n) {
    peek(n);
    pos_ += n;
    consumed_ += n;
}

} // namespace marlix
