#include "capture/JobFiles.h"

#include "core/Errors.h"
#include "core/FileKind.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#define MARLIX_POSIX 1
#endif

namespace marlix {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPrintedSuffix = ".printed";
constexpr const char* kFailedFolder = "failed";

#ifdef MARLIX_POSIX

FileId idOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// A read lease, for as long as it lives: nobody has the file open for
// writing, and whoever opens it for writing meanwhile waits until it goes.
class Lease {
public:
    enum class Writers { None, Some, Unknown };
    explicit Lease(int fd) : fd_(fd) {
#ifdef F_SETLEASE
        if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
            writers_ = Writers::None;
            return;
        }
        writers_ = errno == EAGAIN ? Writers::Some : Writers::Unknown;
#else
        writers_ = Writers::Unknown;
#endif
    }
    ~Lease() {
#ifdef F_SETLEASE
        if (writers_ == Writers::None) ::fcntl(fd_, F_SETLEASE, F_UNLCK);
#endif
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Writers writers() const {
        return writers_;
    }

private:
    int fd_;
    Writers writers_ = Writers::Unknown;
};

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool copyRange(int in, std::uint64_t from, std::uint64_t to, int out) {
    char buffer[64 * 1024];
    while (from < to) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(sizeof buffer, to - from));
        const ssize_t got = ::pread(in, buffer, want, off_t(from));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        if (!writeAll(out, buffer, std::size_t(got))) return false;
        from += std::uint64_t(got);
    }
    return true;
}

// Opens the file for looking at it; a FIFO must not block us.
int openToRead(const std::string& name) {
    return ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

#endif

std::string timeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
#ifdef MARLIX_POSIX
    localtime_r(&now, &tm);
#else
    localtime_s(&tm, &now);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H.%M.%S", &tm);
    return text;
}

} // namespace

JobFiles::JobFiles() {
#ifdef MARLIX_POSIX
    // A writer that opens a file we hold a lease on makes the system signal
    // us; the lease is ours for a moment only, so the signal means nothing.
    std::signal(SIGIO, SIG_IGN);
#endif
}

JobFiles::~JobFiles() {
#ifdef MARLIX_POSIX
    for (const Orphan& o : orphans_)
        ::close(o.fd);
#endif
}

std::optional<JobFiles::State> JobFiles::state(const std::string& name) {
#ifdef MARLIX_POSIX
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
    State s{static_cast<std::uint64_t>(st.st_size), idOf(st), {}};
    if (!S_ISREG(st.st_mode)) s.notAJob = notARegularFile(st.st_mode);
    return s;
#else
    std::error_code ec;
    const fs::file_status status = fs::status(name, ec);
    if (ec || !fs::exists(status) || fs::is_directory(status)) return std::nullopt;
    if (!fs::is_regular_file(status)) return State{0, {}, "it is not a regular file"};
    const std::uintmax_t bytes = fs::file_size(name, ec);
    if (ec) return std::nullopt;
    return State{static_cast<std::uint64_t>(bytes), {}, {}};
#endif
}

std::optional<std::string> JobFiles::tail(const std::string& name, std::size_t n) {
#ifdef MARLIX_POSIX
    Fd fd(openToRead(name));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const auto total = static_cast<std::uint64_t>(st.st_size);
    const std::uint64_t from = total > n ? total - n : 0;
    std::string bytes(std::size_t(total - from), '\0');
    const ssize_t got = ::pread(fd.get(), bytes.data(), bytes.size(), off_t(from));
    bytes.resize(got > 0 ? std::size_t(got) : 0);
    return bytes;
#else
    const auto st = state(name);
    if (!st || !st->notAJob.empty()) return std::nullopt;
    std::ifstream in(name, std::ios::binary);
    if (!in) return std::nullopt;
    in.seekg(0, std::ios::end);
    const auto total = static_cast<std::uint64_t>(std::max<std::streamoff>(in.tellg(), 0));
    const std::uint64_t from = total > n ? total - n : 0;
    std::string bytes(std::size_t(total - from), '\0');
    in.seekg(std::streamoff(from));
    in.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(std::size_t(in.gcount()));
    return bytes;
#endif
}

std::uint64_t JobFiles::printedTo(const std::string& name, const State& state) {
    auto it = printed_.find(name);
    if (it == printed_.end() || !(it->second.first == state.id)) {
        // Read once per file: the record beside it outlives a restart.
        std::pair<FileId, std::uint64_t> record{state.id, 0};
        std::ifstream in(name + kPrintedSuffix);
        FileId stored;
        std::uint64_t offset = 0;
        if (in >> stored.device >> stored.inode >> offset && stored == state.id)
            record.second = offset;
        it = printed_.insert_or_assign(name, record).first;
    }
    return std::min(it->second.second, state.size);
}

void JobFiles::remember(const std::string& name, const FileId& id, std::uint64_t end) {
    printed_[name] = {id, end};
    // Written aside and moved into place, so a crash leaves the old record
    // or the new one; when it can't be written at all, memory serves until
    // the end of this run.
    const std::string record = name + kPrintedSuffix;
    const std::string next = record + ".new";
    {
        std::ofstream out(next, std::ios::trunc);
        out << id.device << ' ' << id.inode << ' ' << end << '\n';
        if (!out.flush()) {
            std::error_code ec;
            fs::remove(next, ec);
            return;
        }
    }
    std::error_code ec;
    fs::rename(next, record, ec);
    if (ec) fs::remove(next, ec);
}

void JobFiles::forget(const std::string& name) {
    printed_.erase(name);
    std::error_code ec;
    fs::remove(name + kPrintedSuffix, ec);
}

void JobFiles::removePrinted(const std::string& name, const FileId& id, std::uint64_t end) {
#ifdef MARLIX_POSIX
    Fd fd(openToRead(name));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !(idOf(st) == id)) {
        // Gone, or another file by now, which was never printed from here:
        // what is remembered of it stays, and of a file that is gone nothing.
        if (!state(name)) forget(name);
        return;
    }
    std::uint64_t size = 0;
    {
        const Lease lease(fd.get());
        if (lease.writers() != Lease::Writers::None) {
            remember(name, id, end);
            return;
        }
        ::fstat(fd.get(), &st);
        size = static_cast<std::uint64_t>(st.st_size);
        if (size <= end) {
            if (::unlink(name.c_str()) != 0) {
                remember(name, id, end);
                return;
            }
        } else {
            // What came after the printed bytes moves into a file of its own
            // that takes the job file's place in one step.
            const std::string rest = name + ".rest";
            Fd out(::open(rest.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
            const bool moved = out.get() >= 0 && ::fchmod(out.get(), st.st_mode & 07777) == 0 &&
                               copyRange(fd.get(), end, size, out.get()) &&
                               ::close(out.release()) == 0 &&
                               ::rename(rest.c_str(), name.c_str()) == 0;
            if (!moved) {
                ::unlink(rest.c_str());
                remember(name, id, end);
                return;
            }
        }
        forget(name);
    }
    // Whoever opened the file while the lease held it now writes into a file
    // without a name.
    const Lease after(fd.get());
    if (after.writers() != Lease::Writers::None) orphans_.push_back({fd.release(), size, name});
#else
    std::error_code ec;
    const auto now = state(name);
    if (now && now->size <= end && fs::remove(name, ec)) {
        forget(name);
        return;
    }
    remember(name, id, end);
#endif
}

void JobFiles::rescueOrphans() {
#ifdef MARLIX_POSIX
    for (auto it = orphans_.begin(); it != orphans_.end();) {
        const Lease lease(it->fd);
        if (lease.writers() == Lease::Writers::Some) {
            ++it;
            continue;
        }
        struct stat st {};
        ::fstat(it->fd, &st);
        const auto size = static_cast<std::uint64_t>(st.st_size);
        // A writer that truncated it wrote everything anew.
        const std::uint64_t from = size < it->copiedTo ? 0 : it->copiedTo;
        std::string bytes(std::size_t(size - from), '\0');
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n =
                ::pread(it->fd, bytes.data() + got, bytes.size() - got, off_t(from + got));
            if (n <= 0) break;
            got += std::size_t(n);
        }
        std::string error;
        if (got > 0 && append(it->jobFile, std::string_view(bytes).substr(0, got), error) < got) {
            ++it; // the folder fails now: the bytes wait for the next try
            continue;
        }
        ::close(it->fd);
        it = orphans_.erase(it);
    }
#endif
}

std::string JobFiles::setAside(const std::string& name, const FileId& id, std::uint64_t from,
                               std::uint64_t to) {
    const fs::path job(name);
    const fs::path folder = job.parent_path() / kFailedFolder;
    auto failed = [&](const std::string& why) -> std::string {
        throw IoError("Cannot set aside " + name + ": " + why);
    };
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) failed(ec.message());
    const std::string base = (folder / (job.filename().string() + " " + timeStamp())).string();
#ifdef MARLIX_POSIX
    Fd in(openToRead(name));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || !(idOf(st) == id))
        failed(std::strerror(errno));
    std::string copy;
    Fd out;
    for (int n = 1; out.get() < 0; ++n) {
        copy = n == 1 ? base : base + " (" + std::to_string(n) + ")";
        out.reset(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (out.get() < 0 && (errno != EEXIST || n > 1000)) failed(std::strerror(errno));
    }
    if (!copyRange(in.get(), from, to, out.get()) || ::fsync(out.get()) != 0 ||
        ::close(out.release()) != 0) {
        const int code = errno;
        ::unlink(copy.c_str());
        failed(std::strerror(code));
    }
#else
    std::string copy = base;
    for (int n = 2; fs::exists(copy); ++n)
        copy = base + " (" + std::to_string(n) + ")";
    {
        std::ifstream in(name, std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        in.seekg(std::streamoff(from));
        std::string bytes(std::size_t(to - from), '\0');
        in.read(bytes.data(), std::streamsize(bytes.size()));
        if (!in || !out.write(bytes.data(), std::streamsize(bytes.size())) || !out.flush())
            failed("the copy could not be written");
    }
#endif
    removePrinted(name, id, to);
    return copy;
}

void JobFiles::discard(const std::string& name) {
    if (const auto st = state(name)) removePrinted(name, st->id, st->size);
}

std::size_t JobFiles::append(const std::string& name, std::string_view bytes, std::string& error) {
    std::size_t written = 0;
    auto failed = [&](int code) {
        error = name + ": " + std::strerror(code);
        return written;
    };
#ifdef MARLIX_POSIX
    const int fd = ::open(
        name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == ELOOP) {
        error = name + ": it is a symbolic link; captured jobs go only into a real file";
        return 0;
    }
    if (fd < 0 && errno == ENXIO) { // a FIFO nobody reads
        error = name + ": it is a FIFO, not a regular file";
        return 0;
    }
    if (fd < 0) return failed(errno);
    if (struct stat st{}; ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = name + ": " + std::string(notARegularFile(st.st_mode));
        return 0;
    }
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int code = errno;
            ::close(fd);
            return failed(code);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) return failed(errno);
#else
    std::FILE* file = std::fopen(name.c_str(), "ab");
    if (!file) return failed(errno);
    written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    const bool ok = written == bytes.size() && std::fflush(file) == 0;
    std::fclose(file);
    if (!ok) return failed(errno);
#endif
    return written;
}

} // namespace marlix
