#include "capture/JobFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#define MARLIX_POSIX 1
#endif

namespace marlix {

namespace fs = std::filesystem;

namespace {

struct File {
    std::FILE* f = nullptr;
    File(const std::string& name, const char* mode) : f(std::fopen(name.c_str(), mode)) {}
    ~File() {
        if (f) std::fclose(f);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
};

std::uint64_t sizeOf(std::FILE* f) {
    std::fseek(f, 0, SEEK_END);
    const long end = std::ftell(f);
    return end < 0 ? 0 : static_cast<std::uint64_t>(end);
}

// Copies the bytes from `from` up to the file's present end.
bool copyFrom(std::FILE* in, std::uint64_t from, std::FILE* out, std::uint64_t& copiedTo) {
    if (std::fseek(in, static_cast<long>(from), SEEK_SET) != 0) return false;
    char buffer[64 * 1024];
    copiedTo = from;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
        if (got == 0) break;
        if (std::fwrite(buffer, 1, got, out) != got) return false;
        copiedTo += got;
    }
    return std::fflush(out) == 0;
}

} // namespace

std::optional<std::uint64_t> DiskJobFiles::size(const std::string& name) {
    std::error_code ec;
    const fs::file_status status = fs::status(name, ec);
    if (ec || !fs::exists(status) || fs::is_directory(status)) return std::nullopt;
    const std::uintmax_t bytes = fs::file_size(name, ec);
    if (ec) return std::nullopt;
    return static_cast<std::uint64_t>(bytes);
}

std::optional<std::string> DiskJobFiles::tail(const std::string& name, std::size_t n) {
    if (!size(name)) return std::nullopt;
    File file(name, "rb");
    if (!file.f) return std::nullopt;
    const std::uint64_t total = sizeOf(file.f);
    const std::uint64_t from = total > n ? total - n : 0;
    std::string bytes(static_cast<std::size_t>(total - from), '\0');
    std::fseek(file.f, static_cast<long>(from), SEEK_SET);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.f));
    return bytes;
}

void DiskJobFiles::remove(const std::string& name) {
    std::error_code ec;
    fs::remove(name, ec);
}

void DiskJobFiles::removePrinted(const std::string& name, std::uint64_t printed) {
    File old(name, "rb");
    if (!old.f) return remove(name);
    if (sizeOf(old.f) <= printed) return remove(name);

    // Something came after the printed bytes. The rest moves into a file of
    // its own that then takes the job file's place in one step, so a writer
    // that opens the job file by name finds either the whole rest or the new
    // file, never a half.
    const std::string rest = name + ".rest";
    {
        File out(rest, "wb");
        std::uint64_t copiedTo = 0;
        if (!out.f || !copyFrom(old.f, printed, out.f, copiedTo)) {
            if (out.f) std::fclose(out.f);
            out.f = nullptr;
            remove(rest);
            return; // the job stays whole; it prints again rather than lose bytes
        }
#ifdef MARLIX_POSIX
        struct stat st {};
        if (fstat(fileno(old.f), &st) == 0) fchmod(fileno(out.f), st.st_mode & 07777);
#endif
        std::fclose(out.f);
        out.f = nullptr;
        std::error_code ec;
        fs::rename(rest, name, ec);
        if (ec) {
            remove(rest);
            return;
        }
        // A writer that kept the old file open may have added a little more
        // while we copied: it follows the rest.
        const std::uint64_t end = sizeOf(old.f);
        if (end > copiedTo) {
            File more(name, "ab");
            std::uint64_t ignored = 0;
            if (more.f) copyFrom(old.f, copiedTo, more.f, ignored);
        }
    }
}

std::size_t DiskJobFiles::append(const std::string& name, std::string_view bytes,
                                 std::string& error) {
    std::size_t written = 0;
    auto failed = [&](int code) {
        error = name + ": " + std::strerror(code);
        return written;
    };
#ifdef MARLIX_POSIX
    const int fd = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return failed(errno);
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
    File file(name, "ab");
    if (!file.f) return failed(errno);
    written = std::fwrite(bytes.data(), 1, bytes.size(), file.f);
    if (written != bytes.size() || std::fflush(file.f) != 0) return failed(errno);
#endif
    return written;
}

} // namespace marlix
