// Soak run of the whole capture path in one process: a real loopback capture
// on a free port, the real job file monitor on real timers, and a printer that
// reads each job the way the print engine does and checks it against the
// stream the sender sent. Jobs arrive on their own connections at random
// intervals, so some merge into one print, some start a print of their own and
// some arrive while a job prints.
//
// What must hold at the end: every byte sent was printed once, in the order
// sent; no job file is left behind; and resident memory stayed flat, since a
// capture that runs for weeks must not grow with the number of jobs.
//
// --throughput MB measures the capture alone instead: one connection sends
// MB mebibytes, and the time from the first to the last byte in the job file
// gives the rate.

#include "capture/JobFiles.h"
#include "capture/JobMonitor.h"
#include "core/Errors.h"
#include "engine/JobFile.h"
#include "platform/TVxD.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef MARLIX_SAMPLES_DIR
#define MARLIX_SAMPLES_DIR "samples"
#endif

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::size_t kMaxJob = 200 * 1024;
constexpr int kTimeOut = 1; // seconds, the monitor's time-out

std::uint64_t fnv1a(std::uint64_t h, std::string_view bytes) {
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}
constexpr std::uint64_t kFnvBasis = 14695981039346656037ull;

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double msSince(Clock::time_point from, Clock::time_point to = Clock::now()) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The jobs of a run, made from the seed alone: the sender makes them to send
// and the printer makes them again to check against, so neither side keeps
// what went through.
class JobStream {
public:
    JobStream(std::uint64_t seed, const std::vector<std::string>& samples, int jobs)
        : rng_(seed), samples_(samples), jobs_(jobs) {}

    // The next job's bytes; false once all jobs were made.
    bool next(std::string& out) {
        if (made_ == jobs_) return false;
        ++made_;
        const unsigned kind = unsigned(rng_() % 100);
        if (kind < 10 && !samples_.empty()) {
            out = samples_[rng_() % samples_.size()];
            return true;
        }
        const std::size_t size = kind < 25 ? 1 + rng_() % 64 : 1 + rng_() % kMaxJob;
        out.resize(size);
        for (std::size_t i = 0; i < size; i += 8) {
            const std::uint64_t r = rng_();
            std::memcpy(out.data() + i, &r, std::min<std::size_t>(8, size - i));
        }
        return true;
    }
    int made() const { return made_; }

private:
    std::mt19937_64 rng_;
    const std::vector<std::string>& samples_;
    int jobs_;
    int made_ = 0;
};

// What the printer saw, checked against the stream as it comes.
class Verifier {
public:
    Verifier(std::uint64_t seed, const std::vector<std::string>& samples, int jobs)
        : expected_(seed, samples, jobs) {}

    void check(std::string_view printed) {
        hash_ = fnv1a(hash_, printed);
        while (!printed.empty()) {
            if (pos_ == job_.size()) {
                if (!expected_.next(job_)) {
                    fail("printed beyond the end of what was sent");
                    offset_ += printed.size();
                    return;
                }
                pos_ = 0;
            }
            const std::size_t n = std::min(printed.size(), job_.size() - pos_);
            if (!failure_) {
                const auto a = printed.substr(0, n);
                const auto b = std::string_view(job_).substr(pos_, n);
                if (a != b) {
                    std::size_t i = 0;
                    while (a[i] == b[i])
                        ++i;
                    offset_ += i;
                    pos_ += i;
                    fail("differs from what was sent");
                    offset_ += n - i;
                    pos_ += n - i;
                    printed.remove_prefix(n);
                    continue;
                }
            }
            offset_ += n;
            pos_ += n;
            printed.remove_prefix(n);
        }
    }

    std::uint64_t bytes() const { return offset_; }
    std::uint64_t hash() const { return hash_; }
    const std::optional<std::string>& failure() const { return failure_; }
    int printRun = 0; // set by the printer, for the report

private:
    void fail(const char* what) {
        if (failure_) return;
        failure_ = std::string(what) + " at stream byte " + std::to_string(offset_) + " (job " +
                   std::to_string(expected_.made()) + ", byte " + std::to_string(pos_) + " of " +
                   std::to_string(job_.size()) + ", print run " + std::to_string(printRun) + ")";
    }

    JobStream expected_;
    std::string job_;
    std::size_t pos_ = 0;
    std::uint64_t offset_ = 0;
    std::uint64_t hash_ = kFnvBasis;
    std::optional<std::string> failure_;
};

// The files on disk, counting what the capture wrote and when.
class CountingFiles final : public marlix::JobFiles {
public:
    std::size_t append(const std::string& name, std::string_view bytes,
                       std::string& error) override {
        const std::size_t n = JobFiles::append(name, bytes, error);
        if (n > 0) {
            if (written == 0) first = Clock::now();
            last = Clock::now();
            written += n;
        }
        return n;
    }

    std::uint64_t written = 0;
    Clock::time_point first, last;
};

// One connection to the capture: connects, sends everything, closes.
// Returns an empty string or the system's reason.
std::string sendJob(std::uint16_t port, std::string_view bytes) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::strerror(errno);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string error;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        error = std::string("connect: ") + std::strerror(errno);
    } else {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                error = std::string("send: ") + std::strerror(errno);
                break;
            }
            sent += std::size_t(n);
        }
    }
    // As a print server's raw queue does: the end of our side, then wait for
    // the port to close its own, once it has taken every byte.
    if (error.empty()) {
        ::shutdown(fd, SHUT_WR);
        char byte;
        if (::recv(fd, &byte, 1, 0) != 0) error = "the port did not take the whole job";
    }
    ::close(fd);
    return error;
}

struct Options {
    int jobs = 1000;
    std::uint64_t seed = 0;
    bool seedGiven = false;
    long throughputMb = 0;
    int printMsPer10Kb = 1; // slower prints hold more senders back at once
    std::string samples = MARLIX_SAMPLES_DIR;
};

std::vector<std::string> loadSamples(const std::string& dir) {
    std::vector<std::string> samples;
    std::error_code ec;
    std::vector<fs::path> paths;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (entry.is_regular_file()) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end()); // the seed alone decides the run
    for (const auto& p : paths) {
        std::ifstream in(p, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!bytes.empty()) samples.push_back(std::move(bytes));
    }
    return samples;
}

// The window as the monitor sees it, with a printer that records instead of
// printing. Wired the way the main window wires it.
class Host final : public marlix::JobMonitor::Host {
public:
    Host(std::string name, Verifier& verifier) : name_(std::move(name)), verifier_(verifier) {
        timer1.setInterval(kTimeOut * 1000);
        timer2.setInterval(100);
    }

    std::string jobFileName() override { return name_; }
    bool autoPrint() override { return true; }
    bool printAtEndOfPage() override { return false; }
    int timeOut() override { return kTimeOut; }
    void setJobControls(bool) override {}
    void setPendingIcon(bool) override {}
    void setMonitorInterval(int ms) override {
        timer1.setInterval(ms);
        if (ms == 0)
            timer1.stop();
        else
            timer1.start();
    }

    // Reads the job as the engine does (its size fixed at open) and takes
    // about a millisecond per 10 KB, keeping the event loop alive as the
    // real print does, so the capture goes on accepting meanwhile.
    marlix::JobMonitor::Printed print(const std::string& fileName, std::uint64_t from,
                                      std::uint64_t to, marlix::PrintMarker&) override {
        if (printing_) throw marlix::Error("Printing in progress");
        setMonitorInterval(0);
        printing_ = true;
        struct Done {
            bool& flag;
            ~Done() { flag = false; }
        } done{printing_};

        verifier_.printRun = ++printRuns;
        // The monitor prints a job whose size stayed the same over a whole
        // tick, so its last byte came at least a tick ago, give or take the
        // timers' slack.
        const double quiet = msSince(files->last);
        minQuiet = std::min(minQuiet, quiet);
        if (quiet < kTimeOut * 1000 * 0.9) ++earlyPrints;
        busy = true;
        struct NotBusy {
            std::atomic<bool>& flag;
            ~NotBusy() { flag = false; }
        } notBusy{busy};
        marlix::JobFile job(fileName, from, to);
        const std::uint64_t size = job.size();
        const auto start = Clock::now();
        auto alive = start;
        std::uint64_t read = 0;
        while (job.remaining() > 0) {
            const std::size_t n = std::size_t(std::min<std::uint64_t>(job.remaining(), 64 * 1024));
            verifier_.check(job.peek(n));
            job.skip(n);
            read += n;
            const auto due = start + std::chrono::microseconds(read * 100 * msPer10Kb / 1024);
            for (auto now = Clock::now(); now < due; now = Clock::now()) {
                if (msSince(alive, now) >= 4) {
                    QCoreApplication::processEvents();
                    mostHeld = std::max(mostHeld, vxd->streams());
                    alive = Clock::now();
                }
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(due - now, std::chrono::milliseconds(1)));
            }
        }
        QCoreApplication::processEvents();
        if (vxd->streams() > 0) ++printsWithWaiting;
        maxRun = std::max(maxRun, size);
        return {};
    }

    marlix::TVxD* vxd = nullptr;
    CountingFiles* files = nullptr;
    int msPer10Kb = 1;
    QTimer timer1, timer2;
    int earlyPrints = 0; // prints that began sooner after the last byte than a tick
    double minQuiet = 1e9;
    std::atomic<bool> busy{false}; // a print runs; the sender may aim at it
    int printRuns = 0;
    int printsWithWaiting = 0; // prints at whose end a sender was held back
    std::uint64_t maxRun = 0;
    std::size_t mostHeld = 0; // connections open at once during a print

private:
    std::string name_;
    Verifier& verifier_;
    bool printing_ = false;
};

int soak(const Options& opt) {
    const auto samples = loadSamples(opt.samples);
    std::printf("soak: %d jobs, seed %llu, %zu samples from %s\n", opt.jobs,
                static_cast<unsigned long long>(opt.seed), samples.size(), opt.samples.c_str());
    std::fflush(stdout);

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "soak: no temporary folder\n");
        return 2;
    }
    const std::string jobFile = dir.filePath(QStringLiteral("job.prn")).toStdString();
    CountingFiles files;
    Verifier verifier(opt.seed, samples, opt.jobs);
    Host host(jobFile, verifier);
    marlix::JobMonitor monitor(host, files);
    std::optional<std::string> error;
    auto guarded = [&](auto&& f) {
        try {
            f();
        } catch (const std::exception& e) {
            if (!error) error = std::string("monitor: ") + e.what();
            QCoreApplication::quit();
        }
    };
    QObject::connect(&host.timer1, &QTimer::timeout,
                     [&] { guarded([&] { monitor.Timer1Timer(); }); });
    QObject::connect(&host.timer2, &QTimer::timeout,
                     [&] { guarded([&] { monitor.Timer2Timer(); }); });

    auto vxd =
        std::make_unique<marlix::TVxD>(files, marlix::CaptureSettings{[&] { return jobFile; }, 0});
    host.vxd = vxd.get();
    host.files = &files;
    host.msPer10Kb = opt.printMsPer10Kb;
    vxd->onError = [&](const std::string& reason) {
        if (!error) error = "capture: " + reason;
    };
    vxd->setCapture(true);
    host.timer2.start();
    host.setMonitorInterval(kTimeOut * 1000);
    const std::uint16_t port = vxd->port();

    // The sender: one connection per job, mostly quick succession with now
    // and then a pause just under or well over the time-out.
    const int rssAt = std::min(100, std::max(1, opt.jobs / 2));
    std::atomic<long> rssAtJob{-1};
    std::atomic<int> jobsSent{0};
    std::atomic<bool> senderDone{false}, stop{false};
    std::atomic<std::uint64_t> bytesSent{0};
    std::uint64_t sentHash = kFnvBasis;
    std::string sendError;
    int pausesOver = 0, pausesUnder = 0, aimed = 0;
    const auto started = Clock::now();
    std::thread sender([&] {
        JobStream jobs(opt.seed, samples, opt.jobs);
        std::mt19937_64 rng(opt.seed ^ 0x9e3779b97f4a7c15ull);
        std::string job;
        while (!stop && jobs.next(job)) {
            if (auto e = sendJob(port, job); !e.empty()) {
                sendError = "job " + std::to_string(jobs.made()) + ": " + e;
                break;
            }
            sentHash = fnv1a(sentHash, job);
            bytesSent += job.size();
            if (++jobsSent == rssAt) rssAtJob = residentKb();
            const unsigned r = unsigned(rng() % 1000);
            int ms;
            if (r < 30) {
                // Wait for the next print to start and send into it.
                const auto until = Clock::now() + std::chrono::seconds(3 * kTimeOut);
                while (!host.busy && !stop && Clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                ++aimed;
                continue;
            }
            if (r < 90) {
                ms = 1100 + int(rng() % 1000);
                ++pausesOver;
            } else if (r < 130) {
                ms = 500 + int(rng() % 450);
                ++pausesUnder;
            } else {
                ms = int(rng() % 40);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
        senderDone = true;
    });

    // The run is over once everything sent was printed and the job file is
    // gone, and stayed so for a few time-outs (a job printed twice would
    // show then); or when printing stopped making progress.
    std::optional<Clock::time_point> settledSince;
    std::uint64_t lastPrinted = 0;
    auto lastProgress = Clock::now();
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (verifier.bytes() != lastPrinted) {
            lastPrinted = verifier.bytes();
            lastProgress = Clock::now();
        }
        if (verifier.failure() || error) return QCoreApplication::quit();
        if (!senderDone) return;
        if (!sendError.empty()) return QCoreApplication::quit();
        const bool settled =
            verifier.bytes() >= bytesSent && !files.state(jobFile) && vxd->streams() == 0;
        if (!settled) {
            settledSince.reset();
            if (msSince(lastProgress) > 20000) {
                error = "no progress for 20 s";
                QCoreApplication::quit();
            }
            return;
        }
        if (!settledSince) settledSince = Clock::now();
        if (msSince(*settledSince) > 3000.0 * kTimeOut) QCoreApplication::quit();
    });
    watch.start();
    QCoreApplication::exec();
    const double wall = msSince(started) / 1000;
    const long rssEnd = residentKb();

    stop = true;
    host.vxd = nullptr;
    host.timer1.stop();
    host.timer2.stop();
    vxd.reset(); // unblocks a sender waiting on a held connection
    sender.join();

    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path().toStdString()))
        left.push_back(entry.path().filename().string());

    std::printf("jobs sent      %d\n", jobsSent.load());
    std::printf("pauses         %d over the time-out, %d under it, %d waits for a print\n",
                pausesOver, pausesUnder, aimed);
    std::printf("bytes sent     %llu (hash %016llx)\n",
                static_cast<unsigned long long>(bytesSent.load()),
                static_cast<unsigned long long>(sentHash));
    std::printf("bytes printed  %llu (hash %016llx)\n",
                static_cast<unsigned long long>(verifier.bytes()),
                static_cast<unsigned long long>(verifier.hash()));
    std::printf("print runs     %d (largest %llu bytes, %d with senders held back, "
                "at most %zu connections held at once)\n",
                host.printRuns, static_cast<unsigned long long>(host.maxRun),
                host.printsWithWaiting, host.mostHeld);
    std::printf(
        "quiet at print %.0f ms at least; %d prints began under %d ms after the last byte\n",
        host.minQuiet, host.earlyPrints, kTimeOut * 900);
    std::printf("VmRSS          %ld kB at job %d, %ld kB at the end\n", rssAtJob.load(), rssAt,
                rssEnd);
    std::printf("wall time      %.1f s\n", wall);

    bool ok = true;
    auto fail = [&](const std::string& why) {
        std::printf("FAIL: %s\n", why.c_str());
        ok = false;
    };
    if (error) fail(*error);
    if (!sendError.empty()) fail("sender: " + sendError);
    if (verifier.failure()) fail("printed bytes " + *verifier.failure());
    if (jobsSent != opt.jobs) fail("not all jobs were sent");
    if (verifier.bytes() != bytesSent) fail("printed byte count differs from sent");
    if (verifier.hash() != sentHash) fail("printed bytes hash differs from sent");
    for (const auto& name : left)
        fail("left in the job folder: " + name);
    if (rssAtJob > 0 && rssEnd > rssAtJob * 12 / 10 + 2048)
        fail("resident memory grew from " + std::to_string(rssAtJob) + " kB to " +
             std::to_string(rssEnd) + " kB");
    std::printf("%s\n", ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}

// The capture alone: one connection, monitor off.
int throughput(const Options& opt) {
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "throughput: no temporary folder\n");
        return 2;
    }
    const std::string jobFile = dir.filePath(QStringLiteral("job.prn")).toStdString();
    CountingFiles files;
    auto vxd =
        std::make_unique<marlix::TVxD>(files, marlix::CaptureSettings{[&] { return jobFile; }, 0});
    vxd->setCapture(true);
    const std::uint16_t port = vxd->port();
    const std::uint64_t total = std::uint64_t(opt.throughputMb) << 20;

    std::string block(1 << 20, '\0');
    std::mt19937_64 rng(opt.seed);
    for (std::size_t i = 0; i < block.size(); i += 8) {
        const std::uint64_t r = rng();
        std::memcpy(block.data() + i, &r, 8);
    }
    std::uint64_t sentHash = kFnvBasis;
    for (long i = 0; i < opt.throughputMb; ++i)
        sentHash = fnv1a(sentHash, block);

    std::string sendError;
    std::atomic<bool> senderEnded{false};
    Clock::time_point sendStart, sendEnd;
    std::thread sender([&] {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            sendError = std::strerror(errno);
        } else {
            sendStart = Clock::now();
            for (long i = 0; i < opt.throughputMb && sendError.empty(); ++i) {
                std::size_t sent = 0;
                while (sent < block.size()) {
                    const ssize_t n =
                        ::send(fd, block.data() + sent, block.size() - sent, MSG_NOSIGNAL);
                    if (n < 0) {
                        if (errno == EINTR) continue;
                        sendError = std::strerror(errno);
                        break;
                    }
                    sent += std::size_t(n);
                }
            }
            sendEnd = Clock::now();
        }
        if (fd >= 0) ::close(fd);
        senderEnded = true;
    });

    QTimer watch;
    watch.setInterval(5);
    const auto started = Clock::now();
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if ((files.written >= total && vxd->streams() == 0) ||
            (senderEnded && !sendError.empty()) || msSince(started) > 600000)
            QCoreApplication::quit();
    });
    watch.start();
    QCoreApplication::exec();
    sender.join();
    vxd.reset();

    std::uint64_t fileHash = kFnvBasis, fileSize = 0;
    {
        std::ifstream in(jobFile, std::ios::binary);
        std::string buffer(1 << 20, '\0');
        while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
            const auto got = std::size_t(in.gcount());
            fileHash = fnv1a(fileHash, std::string_view(buffer).substr(0, got));
            fileSize += got;
        }
    }
    const double seconds = msSince(files.first, files.last) / 1000;
    const double mb = double(files.written) / (1 << 20);
    std::printf("throughput: %llu bytes over one connection\n",
                static_cast<unsigned long long>(total));
    std::printf("job file       %llu bytes, %s\n", static_cast<unsigned long long>(fileSize),
                fileHash == sentHash && fileSize == total ? "same as sent" : "DIFFERS from sent");
    std::printf("first to last  %.3f s, %.1f MB/s\n", seconds, seconds > 0 ? mb / seconds : 0.0);
    std::printf("sender         %.3f s\n", msSince(sendStart, sendEnd) / 1000);
    std::printf("VmRSS          %ld kB\n", residentKb());
    const bool ok = sendError.empty() && fileSize == total && fileHash == sentHash;
    if (!sendError.empty()) std::printf("FAIL: sender: %s\n", sendError.c_str());
    std::printf("%s\n", ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}

int usage() {
    std::fprintf(stderr, "usage: soak_harness [--jobs N] [--seed S] [--samples DIR] "
                         "[--print-ms MS_PER_10KB] [--throughput MB]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return usage();
        const char* value = argv[++i];
        if (arg == "--jobs")
            opt.jobs = std::atoi(value);
        else if (arg == "--seed")
            opt.seed = std::strtoull(value, nullptr, 10), opt.seedGiven = true;
        else if (arg == "--samples")
            opt.samples = value;
        else if (arg == "--print-ms")
            opt.printMsPer10Kb = std::max(0, std::atoi(value));
        else if (arg == "--throughput")
            opt.throughputMb = std::atol(value);
        else
            return usage();
    }
    if (opt.jobs < 1) return usage();
    if (!opt.seedGiven) opt.seed = std::random_device{}();
    try {
        return opt.throughputMb > 0 ? throughput(opt) : soak(opt);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "soak_harness: %s\n", e.what());
        return 2;
    }
}
