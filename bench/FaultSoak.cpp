// Fault soak: the real marlix service, with its job file monitor and its
// capture port, takes tagged jobs from eight senders while everything that
// can go wrong does: the PDF folder vanishes and comes back every few
// seconds, the service is stopped with SIGTERM and started again, and killed
// with SIGKILL. The senders:
//   0      writes whole jobs into the job file itself and keeps it open
//          across pauses longer than the time-out;
//   1      sends through the port and pauses in the middle of each job;
//   2      sends through the port in many small pieces;
//   3..7   send whole jobs through the port, several at once.
// They send in waves, two seconds busy and two quiet, so that the job file
// settles and prints often. Every line of a job carries its tag
// ("J0042 L03/12"). At the end every PDF
// is read back: each job a sender saw delivered must be in exactly one PDF,
// whole and in order; no part file may be left; the service's memory must
// stay flat.
//
// A port sender whose stream a SIGKILL ended cannot know how much arrived: a
// killed process's socket closes as if all had been taken when nothing
// waited unread. A job whose stream was open when a SIGKILL came counts as
// cut, and must be in at most one PDF, its lines a prefix of the job.
//
// With --idle N it is a load run instead: N idle connections, a trickler and
// the other jobs from as many senders at once; each job printed once, and the
// service's memory under 100 MB.
//
// Usage: fault_soak --exe MARLIX [--jobs N] [--seconds S] [--terms N]
//                   [--kills N] [--seed S] [--keep] [--idle N]

#include "../tests/support/Loopback.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <regex>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSenders = 8;
constexpr int kTimeOut = 1; // seconds, the monitor's

struct Options {
    std::string exe;
    int jobs = 1000;
    int seconds = 600;
    int terms = 10;
    int kills = 3;
    std::uint64_t seed = std::random_device{}();
    bool keep = false;
    // The load run instead: this many idle connections, one trickler and
    // `jobs` senders all at once, no faults.
    int idle = 0;
};

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

void sleepMs(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Job j: 1..30 lines of 40 characters, each with its tag, so that two lines
// run together by a cut stream still fit one printed line.
std::string makeJob(int j, std::mt19937_64& rng) {
    const int lines = 1 + int(rng() % 30);
    std::string job;
    for (int l = 1; l <= lines; ++l) {
        char tag[32];
        std::snprintf(tag, sizeof tag, "J%04d L%02d/%02d ", j, l, lines);
        std::string line = tag;
        while (line.size() < 40)
            line += char('a' + (j * 7 + l * 3 + int(line.size())) % 26);
        job += line + "\r\n";
    }
    return job;
}

enum class Outcome { Delivered, Cut };

// The service, started and stopped as a user's session would.
class Service {
public:
    Service(const Options& opt, fs::path home) : opt_(opt), home_(std::move(home)) {}

    void start() {
        const std::string log = (home_ / "service.log").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(fd, 2);
            ::setenv("HOME", home_.c_str(), 1);
            ::setenv("MARLIX_SETTINGS", (home_ / "marlix.ini").c_str(), 1);
            ::setenv("XDG_RUNTIME_DIR", (home_ / "runtime").c_str(), 1);
            ::setenv("CUPS_SERVER", (home_ / "no-cups.sock").c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execl(opt_.exe.c_str(), opt_.exe.c_str(), "--service", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        started_ = Clock::now();
        firstRss_ = 0;
        ++starts;
        // A signal before it can take signals would only kill it.
        for (int i = 0; i < 200 && logged("started:") < starts; ++i)
            sleepMs(50);
    }
    int logged(const std::string& what) const {
        std::ifstream log(home_ / "service.log");
        int n = 0;
        for (std::string line; std::getline(log, line);)
            n += line.find(what) != std::string::npos;
        return n;
    }
    // Ends it with the signal; false when it did not end in a minute.
    bool end(int signal) {
        const auto asked = Clock::now();
        ::kill(pid_, signal);
        for (int i = 0; i < 600; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                if (signal == SIGTERM && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
                    ++badExits;
                    std::printf("  the service did not end cleanly on SIGTERM: %s %d\n",
                                WIFSIGNALED(status) ? "signal" : "exit code",
                                WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
                }
                pid_ = -1;
                stopSeconds = std::max(stopSeconds, secondsSince(asked));
                return true;
            }
            sleepMs(100);
        }
        return false;
    }
    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            ++badExits;
            std::printf("  the service ended by itself: %s %d\n",
                        WIFSIGNALED(status) ? "signal" : "exit code",
                        WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
            return false;
        }
        return true;
    }
    // Resident memory now, in KB; remembers the first look after warming up.
    void sampleMemory() {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0) {
                const long kb = std::strtol(line.c_str() + 6, nullptr, 10);
                peakRss = std::max(peakRss, kb);
                if (secondsSince(started_) > 5 && firstRss_ == 0) firstRss_ = kb;
                if (firstRss_ > 0) growth = std::max(growth, kb - firstRss_);
            }
    }

    int starts = 0;
    int badExits = 0;
    double stopSeconds = 0; // the longest a stop took
    long peakRss = 0;
    long growth = 0; // the most any run grew after its first seconds

private:
    const Options& opt_;
    fs::path home_;
    pid_t pid_ = -1;
    Clock::time_point started_;
    long firstRss_ = 0;
};

class Soak {
public:
    explicit Soak(const Options& opt)
        : opt_(opt),
          home_(fs::temp_directory_path() / ("marlix-fault-soak-" + std::to_string(::getpid()))),
          service_(opt, home_) {}

    int run() {
        fs::remove_all(home_);
        fs::create_directories(home_ / "runtime");
        fs::permissions(home_ / "runtime", fs::perms::owner_all);
        fs::create_directories(pdfs());
        port_ = freePort();
        std::ofstream(home_ / "marlix.ini")
            << "[General]\nTimeOut=" << kTimeOut << "\nCapturePort=" << port_
            << "\nPrinter=Print to PDF\nSpool=" << spool() << "\nPdfFolder=" << pdfs().string()
            << "\n";
        std::mt19937_64 rng(opt_.seed);
        for (int j = 0; j < opt_.jobs; ++j)
            jobs_.push_back(makeJob(j, rng));
        outcomes_.assign(std::size_t(opt_.jobs), Outcome::Cut);
        streams_.assign(std::size_t(opt_.jobs), {});

        if (opt_.idle > 0) return load();
        std::printf("fault soak: %d jobs over %d s, %d SIGTERM, %d SIGKILL, seed %llu, in %s\n",
                    opt_.jobs, opt_.seconds, opt_.terms, opt_.kills,
                    static_cast<unsigned long long>(opt_.seed), home_.c_str());
        std::fflush(stdout);
        begin_ = Clock::now();
        service_.start();
        std::vector<std::thread> senders;
        for (int s = 0; s < kSenders; ++s)
            senders.emplace_back([this, s] { sender(s); });
        std::thread faults([this] { inject(); });
        for (auto& t : senders)
            t.join();
        sendersDone_ = true;
        faults.join();
        settle();
        service_.end(SIGTERM);
        if (writerFd_ >= 0) ::close(writerFd_);
        return check();
    }

private:
    // Idle connections that never send, a trickler that sends its job a byte
    // every half second, and every other job from a sender of its own, all
    // at once: each job must print once, and memory stay low.
    int load() {
        std::printf("load: %d idle connections, a trickler, %d senders at once, in %s\n", opt_.idle,
                    opt_.jobs - 1, home_.c_str());
        std::fflush(stdout);
        jobs_[0] = "J0000 L01/01\r\n"; // short: a byte every half second is slow
        begin_ = Clock::now();
        service_.start();
        std::vector<int> idle;
        for (int i = 0; i < opt_.idle; ++i) {
            const int fd = marlix::test::connectLoopback(port_);
            if (fd >= 0) idle.push_back(fd);
        }
        std::atomic<bool> go{false};
        std::vector<std::thread> senders;
        senders.emplace_back([this] {
            const int fd = marlix::test::connectLoopback(port_);
            for (char c : jobs_[0]) {
                ::send(fd, &c, 1, MSG_NOSIGNAL);
                sleepMs(500);
            }
            outcomes_[0] = endAndHear(fd) ? Outcome::Delivered : Outcome::Cut;
        });
        for (int j = 1; j < opt_.jobs; ++j)
            senders.emplace_back([this, j, &go] {
                while (!go)
                    std::this_thread::yield();
                for (int tries = 0; tries < 50; ++tries) {
                    const int fd = marlix::test::connectLoopback(port_);
                    if (fd < 0) {
                        sleepMs(100);
                        continue;
                    }
                    const std::string& job = jobs_[std::size_t(j)];
                    const bool sent =
                        ::send(fd, job.data(), job.size(), MSG_NOSIGNAL) == ssize_t(job.size());
                    outcomes_[std::size_t(j)] =
                        endAndHear(fd) && sent ? Outcome::Delivered : Outcome::Cut;
                    return;
                }
            });
        go = true;
        std::thread memory([this] {
            while (!sendersDone_) {
                service_.sampleMemory();
                sleepMs(100);
            }
        });
        for (auto& t : senders)
            t.join();
        sendersDone_ = true;
        memory.join();
        const int connected = int(idle.size());
        for (int fd : idle)
            ::close(fd);
        settle();
        service_.end(SIGTERM);
        std::printf("idle connections held %d of %d\n", connected, opt_.idle);
        return check() == 0 && connected == opt_.idle && service_.peakRss < 100 * 1024 ? 0 : 1;
    }

    // As a raw print queue ends a job: its side closed, then it waits for the
    // port to close the other, which says that every byte was taken.
    static bool endAndHear(int fd) {
        ::shutdown(fd, SHUT_WR);
        timeval wait{180, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char byte;
        const bool taken = ::recv(fd, &byte, 1, 0) == 0;
        ::close(fd);
        return taken;
    }

    fs::path pdfs() const { return home_ / "pdf"; }
    std::string spool() const { return (home_ / "prnspl").string(); }

    static std::uint16_t freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t n = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        ::close(fd);
        return ntohs(a.sin_port);
    }

    // The pause before a sender's next job, so that the jobs spread over the run.
    long gapMs(std::mt19937_64& rng) const {
        const double mean = 1000.0 * opt_.seconds * kSenders / std::max(1, opt_.jobs);
        return long(std::exponential_distribution<double>(1.0 / mean)(rng));
    }

    // Jobs come in waves: the senders are busy for two seconds, then quiet
    // for two, so that the job file settles and prints while faults come.
    void waitForWave() const {
        constexpr long kWaveMs = 4000, kBusyMs = 2000;
        const long at = long(secondsSince(begin_) * 1000) % kWaveMs;
        if (at >= kBusyMs) sleepMs(kWaveMs - at);
    }

    void sender(int s) {
        std::mt19937_64 rng(opt_.seed * 31 + std::uint64_t(s));
        for (int j = s; j < opt_.jobs; j += kSenders) {
            sleepMs(gapMs(rng));
            waitForWave();
            if (s == 0) {
                writeToFile(j, rng);
                continue;
            }
            // Streams that can't connect (the service restarts) try again.
            for (;;) {
                const auto from = Clock::now();
                const auto r = sendToPort(j, s, rng);
                if (r) {
                    outcomes_[std::size_t(j)] = *r;
                    streams_[std::size_t(j)] = {from, Clock::now()};
                    break;
                }
                sleepMs(200);
            }
        }
    }

    // The DOS program that prints to the job file: one write a job, the file
    // kept open across pauses, now and then closed and opened again.
    void writeToFile(int j, std::mt19937_64& rng) {
        std::unique_lock lock(fileOrPort_);
        if (writerFd_ < 0)
            writerFd_ = ::open(spool().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        const std::string& job = jobs_[std::size_t(j)];
        if (::write(writerFd_, job.data(), job.size()) == ssize_t(job.size()))
            outcomes_[std::size_t(j)] = Outcome::Delivered;
        if (rng() % 8 == 0) {
            ::close(writerFd_);
            writerFd_ = -1;
        }
    }

    // One job through the port; nothing when the port could not be reached.
    std::optional<Outcome> sendToPort(int j, int s, std::mt19937_64& rng) {
        // The file writer writes whole jobs between streams, not into one.
        std::shared_lock lock(fileOrPort_);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port_);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            return std::nullopt;
        }
        timeval wait{180, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        const std::string& job = jobs_[std::size_t(j)];
        std::size_t at = 0;
        auto put = [&](std::size_t n) {
            while (n > 0) {
                const ssize_t w = ::send(fd, job.data() + at, n, MSG_NOSIGNAL);
                if (w <= 0) return false;
                at += std::size_t(w);
                n -= std::size_t(w);
            }
            return true;
        };
        bool ok = true;
        if (s == 1) { // pauses in the middle, for less than the time-out
            ok = put(job.size() / 2);
            sleepMs(400);
            ok = ok && put(job.size() - at);
        } else if (s == 2) { // many small pieces
            while (ok && at < job.size()) {
                ok = put(std::min<std::size_t>(1 + rng() % 24, job.size() - at));
                sleepMs(1 + long(rng() % 3));
            }
        } else {
            ok = put(job.size());
        }
        if (!ok) {
            ::close(fd);
            // Nothing left us: as if the port had not been reached.
            return at == 0 ? std::nullopt : std::optional(Outcome::Cut);
        }
        ::shutdown(fd, SHUT_WR);
        // The service closes its end once it has taken every byte.
        char byte;
        const ssize_t r = ::recv(fd, &byte, 1, 0);
        ::close(fd);
        return r == 0 ? Outcome::Delivered : Outcome::Cut;
    }

    // The faults, spread over the run: the folder vanishes for a few seconds
    // at a time, and the service is stopped or killed now and then.
    void inject() {
        std::mt19937_64 rng(opt_.seed * 17);
        const int restarts = opt_.terms + opt_.kills;
        std::vector<int> order(std::size_t(opt_.terms), SIGTERM);
        order.insert(order.end(), std::size_t(opt_.kills), SIGKILL);
        std::shuffle(order.begin(), order.end(), rng);
        const double every = double(opt_.seconds) / (restarts + 1);
        int next = 0;
        while (!sendersDone_ || next < restarts) {
            const double now = secondsSince(begin_);
            if (next < restarts && now >= every * (next + 1)) {
                const int signal = order[std::size_t(next++)];
                if (signal == SIGKILL) {
                    const std::lock_guard lock(killsLock_);
                    killedAt_.push_back(Clock::now());
                }
                if (!service_.end(signal)) std::fprintf(stderr, "the service did not end\n");
                (signal == SIGTERM ? terms_ : kills_)++;
                service_.start();
                continue;
            }
            if (sendersDone_ && next >= restarts) break;
            // The folder goes for 1.5 to 4 s, then comes back for 2 to 5 s.
            breakFolder(true);
            sleepMs(1500 + long(rng() % 2500));
            breakFolder(false);
            // With jobs waiting, how long until the first of them is on paper.
            const auto back = Clock::now();
            const bool waiting = pendingBytes() > 0;
            const std::size_t before = pdfCount();
            const double up = 2 + double(rng() % 3000) / 1000;
            bool recovered = false;
            while (secondsSince(back) < up || (waiting && !recovered && secondsSince(back) < 60)) {
                if (waiting && !recovered && pdfCount() > before) {
                    recoveries_.push_back(secondsSince(back));
                    recovered = true;
                }
                service_.sampleMemory();
                sleepMs(50);
            }
            service_.sampleMemory();
            if (!service_.running()) service_.start();
        }
        breakFolder(false);
    }

    void breakFolder(bool broken) {
        const fs::path folder = pdfs();
        const fs::path aside = home_ / "pdf.aside";
        std::error_code ec;
        if (broken) {
            fs::rename(folder, aside, ec);
            std::ofstream(folder) << "not a folder";
            ++breaks_;
        } else if (fs::exists(aside)) {
            fs::remove(folder, ec);
            fs::rename(aside, folder, ec);
        }
    }

    std::size_t pdfCount() const {
        std::size_t n = 0;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(pdfs(), ec))
            n += e.path().extension() == ".pdf";
        return n;
    }

    // Bytes in the job file that are not printed yet.
    std::uint64_t pendingBytes() const {
        struct stat st {};
        if (::stat(spool().c_str(), &st) != 0) return 0;
        std::uint64_t dev = 0, ino = 0, printed = 0;
        std::ifstream record(spool() + ".printed");
        if (record >> dev >> ino >> printed && dev == std::uint64_t(st.st_dev) &&
            ino == std::uint64_t(st.st_ino))
            return std::uint64_t(st.st_size) - std::min<std::uint64_t>(printed, st.st_size);
        return std::uint64_t(st.st_size);
    }

    // Waits until everything sent has printed and the PDFs stop coming.
    void settle() {
        std::size_t pdfs = pdfCount();
        auto quiet = Clock::now();
        while (secondsSince(quiet) < 3 * kTimeOut + 5 &&
               secondsSince(begin_) < opt_.seconds + 900) {
            service_.sampleMemory();
            if (!service_.running()) service_.start();
            if (pdfCount() != pdfs || pendingBytes() > 0 || fs::exists(spool() + ".printing")) {
                pdfs = pdfCount();
                quiet = Clock::now();
            }
            sleepMs(500);
        }
    }

    // A stream open when a SIGKILL came may have been cut, whatever its
    // sender saw.
    bool openAtAKill(int j) {
        const auto [from, to] = streams_[std::size_t(j)];
        const std::lock_guard lock(killsLock_);
        return std::any_of(killedAt_.begin(), killedAt_.end(),
                           [&](Clock::time_point k) { return from <= k && k <= to; });
    }

    int check() {
        // Which PDF holds which lines of which job, in the order printed.
        struct Seen {
            int pdf;
            int line;
        };
        std::map<int, std::vector<Seen>> seen;
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(pdfs()))
            files.push_back(e.path());
        std::sort(files.begin(), files.end());
        int parts = 0;
        const std::regex tag(R"(J(\d{4}) L(\d{2})/(\d{2}))");
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (files[i].extension() != ".pdf") {
                ++parts;
                continue;
            }
            const std::string text = pdfText(files[i]);
            for (std::sregex_iterator m(text.begin(), text.end(), tag), end; m != end; ++m)
                seen[std::stoi((*m)[1])].push_back({int(i), std::stoi((*m)[2])});
        }
        int setAside = 0;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(home_ / "failed", ec)) {
            (void)e;
            ++setAside;
        }

        int printed = 0, duplicated = 0, lost = 0, cut = 0, cutWrong = 0;
        for (int j = 0; j < opt_.jobs; ++j) {
            const auto& lines = seen[j];
            const int total =
                std::count(jobs_[std::size_t(j)].begin(), jobs_[std::size_t(j)].end(), '\n');
            bool onePdf = true, inOrder = true;
            for (std::size_t k = 0; k < lines.size(); ++k) {
                onePdf = onePdf && lines[k].pdf == lines[0].pdf;
                inOrder = inOrder && lines[k].line == int(k) + 1;
            }
            if (outcomes_[std::size_t(j)] == Outcome::Cut || openAtAKill(j)) {
                ++cut;
                if (!onePdf || !inOrder || int(lines.size()) > total) {
                    ++cutWrong;
                    std::printf("  J%04d (cut): %zu lines seen, not one prefix in one PDF\n", j,
                                lines.size());
                }
                continue;
            }
            if (onePdf && inOrder && int(lines.size()) == total) {
                ++printed;
            } else if (int(lines.size()) > total || !onePdf) {
                ++duplicated;
                std::printf("  J%04d: %zu of %d lines, in %s\n", j, lines.size(), total,
                            onePdf ? "one PDF" : "several PDFs");
            } else {
                ++lost;
                std::printf("  J%04d: %zu of %d lines%s\n", j, lines.size(), total,
                            inOrder ? "" : ", out of order");
            }
        }
        std::vector<double> rec = recoveries_;
        std::sort(rec.begin(), rec.end());
        std::printf("jobs sent %d: printed whole once %d, duplicated %d, lost %d, set aside %d, "
                    "cut by a kill %d (%d not a clean prefix)\n",
                    opt_.jobs, printed, duplicated, lost, setAside, cut, cutWrong);
        std::printf("faults: folder gone %d times, SIGTERM %d, SIGKILL %d, service starts %d, "
                    "unclean exits %d, longest stop %.1f s\n",
                    breaks_, terms_, kills_, service_.starts, service_.badExits,
                    service_.stopSeconds);
        if (!rec.empty())
            std::printf("first PDF after the folder came back: median %.1f s, worst %.1f s (%zu "
                        "times)\n",
                        rec[rec.size() / 2], rec.back(), rec.size());
        std::printf("PDFs %zu, part files left %d, peak memory %ld KB, most growth in one run "
                    "%ld KB\n",
                    files.size() - std::size_t(parts), parts, service_.peakRss, service_.growth);
        const bool ok = duplicated == 0 && lost == 0 && setAside == 0 && cutWrong == 0 &&
                        parts == 0 && service_.badExits == 0 && service_.growth < 64 * 1024;
        std::printf("%s\n", ok ? "PASS" : "FAIL");
        if (!ok || !opt_.keep) {
            if (ok)
                fs::remove_all(home_);
            else
                std::printf("kept for a look: %s\n", home_.c_str());
        }
        return ok ? 0 : 1;
    }

    static std::string pdfText(const fs::path& pdf) {
        const std::string command = "pdftotext -layout '" + pdf.string() + "' - 2>/dev/null";
        std::string text;
        if (FILE* p = ::popen(command.c_str(), "r")) {
            char buffer[1 << 16];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
                text.append(buffer, n);
            ::pclose(p);
        }
        return text;
    }

    const Options& opt_;
    fs::path home_;
    Service service_;
    std::uint16_t port_ = 0;
    std::vector<std::string> jobs_;
    std::vector<Outcome> outcomes_;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> streams_; // of port jobs
    std::mutex killsLock_;
    std::vector<Clock::time_point> killedAt_;
    std::shared_mutex fileOrPort_;
    int writerFd_ = -1;
    std::atomic<bool> sendersDone_{false};
    Clock::time_point begin_;
    std::vector<double> recoveries_;
    int breaks_ = 0, terms_ = 0, kills_ = 0;
};

int usage() {
    std::fprintf(stderr, "usage: fault_soak --exe MARLIX [--jobs N] [--seconds S] [--terms N] "
                         "[--kills N] [--seed S] [--keep] [--idle N]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--keep") {
            opt.keep = true;
            continue;
        }
        if (i + 1 >= argc) return usage();
        const char* value = argv[++i];
        if (arg == "--exe")
            opt.exe = value;
        else if (arg == "--jobs")
            opt.jobs = std::atoi(value);
        else if (arg == "--seconds")
            opt.seconds = std::atoi(value);
        else if (arg == "--terms")
            opt.terms = std::atoi(value);
        else if (arg == "--kills")
            opt.kills = std::atoi(value);
        else if (arg == "--seed")
            opt.seed = std::strtoull(value, nullptr, 10);
        else if (arg == "--idle")
            opt.idle = std::atoi(value);
        else
            return usage();
    }
    if (opt.exe.empty() || opt.jobs < 1 || opt.jobs > 9999 || opt.seconds < 1) return usage();
    std::signal(SIGPIPE, SIG_IGN);
    // Thousands of connections, each a descriptor.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    return Soak(opt).run();
}
