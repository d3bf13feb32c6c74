#include "capture/PrintMarker.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <unistd.h>
#define MARLIX_POSIX 1
#endif

namespace marlix {

namespace {

constexpr const char* kSuffix = ".printing";

// The record a fault handler may still write to.
std::atomic<int> g_openRecord{-1};

#ifdef MARLIX_POSIX
extern "C" void onFault(int number) {
    const int fd = g_openRecord.load();
    if (fd >= 0) {
        static const char line[] = "crashed\n";
        [[maybe_unused]] const auto n = ::write(fd, line, sizeof line - 1);
    }
    // Die of it as the system would have made us.
    std::signal(number, SIG_DFL);
    std::raise(number);
}
#endif

} // namespace

PrintMarker::~PrintMarker() {
    if (fd_ >= 0) {
        g_openRecord.store(-1);
#ifdef MARLIX_POSIX
        ::close(fd_);
#endif
    }
}

std::optional<PrintMarker::Record> PrintMarker::read(const std::string& jobFile) {
    std::ifstream in(jobFile + kSuffix);
    if (!in) return std::nullopt;
    Record r;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string what;
        words >> what;
        std::string rest;
        std::getline(words >> std::ws, rest);
        if (what == "job") {
            std::istringstream(rest) >> r.id.device >> r.id.inode >> r.from >> r.to;
        } else if (what == "attempt") {
            std::istringstream(rest) >> r.attempt;
        } else if (what == "part") {
            r.parts.push_back(rest);
        } else if (what == "pdf") {
            r.pdfs.push_back(rest);
        } else if (what == "done") {
            r.done = true;
        } else if (what == "crashed") {
            r.crashed = true;
        }
    }
    return r;
}

void PrintMarker::remove(const std::string& jobFile) {
    std::error_code ec;
    std::filesystem::remove(jobFile + kSuffix, ec);
}

void PrintMarker::begin(const std::string& jobFile, const FileId& id, std::uint64_t from,
                        std::uint64_t to, int attempt) {
    end();
    path_ = jobFile + kSuffix;
#ifdef MARLIX_POSIX
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
#endif
    if (fd_ >= 0) g_openRecord.store(fd_);
    note("job " + std::to_string(id.device) + ' ' + std::to_string(id.inode) + ' ' +
         std::to_string(from) + ' ' + std::to_string(to));
    note("attempt " + std::to_string(attempt));
}

void PrintMarker::note(std::string_view line) {
    if (fd_ < 0) return;
#ifdef MARLIX_POSIX
    std::string text(line);
    text += '\n';
    [[maybe_unused]] const auto n = ::write(fd_, text.data(), text.size());
#endif
}

void PrintMarker::end() {
    if (path_.empty()) return;
    if (fd_ >= 0) {
        g_openRecord.store(-1);
#ifdef MARLIX_POSIX
        ::close(fd_);
#endif
        fd_ = -1;
    }
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    path_.clear();
}

void PrintMarker::catchFaults() {
#ifdef MARLIX_POSIX
    struct sigaction action = {};
    action.sa_handler = onFault;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (int number : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigaction(number, &action, nullptr);
#endif
}

} // namespace marlix
