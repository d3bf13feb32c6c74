// Fuzzes the capture endpoint over real files in a folder of this process's
// own: the input is a script of what senders and the program do (bytes of a
// few streams, streams that end, the clock and its ticks, the capture
// switch, the end of the program, a kill and the next start, the job file
// renamed, the time-out changed, writes that fail). Each stream's bytes are
// its own: every byte is a function of the stream and its offset, so the job
// files can be taken apart again. A model keeps which stretch of which stream
// is one job, and for which job file. At the end every byte the endpoint took
// must be in a job file once, each job whole, each stream's jobs in the order
// they came.
#include "FuzzInput.h"
#include "capture/CaptureEndpoint.h"
#include "capture/JobFiles.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace marlix;
using fuzz::Input;
namespace fs = std::filesystem;

namespace {

// The folder the fuzzer was started in: a run works in a folder of its own
// (see LLVMFuzzerTestOneInput), and a finding is written here.
int home = -1;

void check(bool ok) {
    if (ok) return;
    if (home >= 0 && ::fchdir(home) != 0) std::abort();
    __builtin_trap();
}

constexpr const char* kStageSuffix = ".capture.";

// Job file names: one in a folder of its own, so that recover looks beyond
// the first; none is the start of another's stage files.
constexpr std::array<const char*, 4> kJobNames{"prnspl", "other job", "sub/prnspl", "spool.prn"};
// The user may name the job file without a folder; the program then finds
// it in the one it runs in.
constexpr std::size_t kWithoutFolder = 3;

struct Folder : fuzz::TempFolder {
    Folder() : TempFolder("capture") {}
    void clear() const {
        TempFolder::clear();
        std::filesystem::create_directory(path / "sub");
    }
};

std::optional<std::string> readAll(const fs::path& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Byte `offset` of stream `key`: another stream's byte, or one of the same
// stream moved, seldom looks the same, and never for long.
std::uint8_t streamByte(std::uint64_t key, std::uint64_t offset) {
    std::uint64_t z = (key << 40 ^ offset) + 0x9E3779B97F4A7C15ull;
    z = (z ^ z >> 30) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ z >> 27) * 0x94D049BB133111EBull;
    return std::uint8_t(z ^ z >> 31);
}

std::string streamBytes(std::uint64_t key, std::uint64_t from, std::uint64_t n) {
    std::string s(n, '\0');
    for (std::uint64_t i = 0; i < n; ++i)
        s[i] = char(streamByte(key, from + i));
    return s;
}

bool isStage(const std::string& name) {
    return name.find(kStageSuffix) != std::string::npos;
}

// The job files with writes that fail when the script says: a stream's own
// file may take part of the bytes, as a full disk does.
class Files : public JobFiles {
public:
    int failNext = 0;
    std::size_t keep = 0;
    std::size_t injected = 0;
    bool failedSinceError = false;
    // Part of a job is in the job file and the rest waits: a kill now would
    // send that part again at the next start, as a kill in the middle of
    // writing a job would. The endpoint claims no more, so no kill then.
    bool halfWritten = false;

    std::size_t append(const std::string& name, std::string_view bytes,
                       std::string& error) override {
        if (failNext > 0) {
            --failNext;
            ++injected;
            failedSinceError = true;
            // The endpoint never writes nothing, so this is always short.
            const std::size_t n = std::min(keep, bytes.size() - 1);
            const std::size_t written =
                n > 0 ? JobFiles::append(name, bytes.substr(0, n), error) : 0;
            check(written == n);
            if (!isStage(name) && n > 0) halfWritten = true;
            error = name + ": no space left on device";
            return written;
        }
        // Nothing else fails in a folder of our own.
        const std::size_t written = JobFiles::append(name, bytes, error);
        check(written == bytes.size());
        if (!isStage(name)) halfWritten = false;
        return written;
    }
};

// One job: bytes [from, to) of stream `key`, for job file `name`.
struct Segment {
    std::uint64_t key = 0;
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    std::size_t name = 0;
    // Known to a running endpoint; false after a kill, until a start that
    // recovers from the same job file.
    bool owned = true;
};

struct Stream {
    std::uint64_t key = 0;
    std::uint64_t sent = 0;
    std::optional<std::size_t> open; // its segment while it is kept
    std::int64_t lastMs = 0;
};

// The transport's stream ids, the edges included.
constexpr std::array<CaptureEndpoint::StreamId, 4> kIds{1, 2, 0, ~CaptureEndpoint::StreamId{0}};
constexpr std::array<std::int64_t, 8> kQuiet{3000, 0, 1, 250, 10, 100, 1000, 60000};
// A commit reads a stream's file in pieces of this size: with failing
// writes, every job fits in one, so a write into the job file either fails
// at its start or leaves halfWritten to keep kills away.
constexpr std::uint64_t kMostWithFailures = 60000;

class Run {
public:
    Run(const fs::path& folder, bool failures) : folder_(folder), failures_(failures) { start(); }

    void step(Input& in) {
        const std::uint8_t op = in.byte();
        const std::uint8_t arg = op >> 4;
        switch (op & 0x0F) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 14: receive(arg & 3, (arg & 4) != 0, in.byte()); break;
        case 4: close(arg & 3); break;
        case 5: now_ += advance(in.byte()); break;
        case 6: tick(); break;
        case 7:
            capture_ = (arg & 1) != 0;
            endpoint_->setCapture(capture_);
            break;
        case 8: commitAll(); break;
        case 9: crash(); break;
        case 10: name_ = arg & 3; break;
        case 11: quiet_ = kQuiet[arg & 7]; break;
        case 12:
            if (failures_) {
                files_.failNext = arg;
                files_.keep = in.byte();
            }
            break;
        case 13:
            now_ += advance(in.byte());
            tick();
            break;
        default: break;
        }
        check(endpoint_->capturing() == capture_);
        // Until a write fails, nothing waits but what streams are sending.
        if (files_.injected == 0) check(endpoint_->waiting() == openStreams());
    }

    void finish() {
        files_.failNext = 0;
        commitAll();
        check(endpoint_->waiting() == 0);
        // What is left is what a kill left for a job file no start recovered
        // from since; those starts come now.
        std::set<std::size_t> unclaimed;
        for (const Segment& s : segments_)
            if (!s.owned) unclaimed.insert(s.name);
        for (const auto& [name, path] : stageFiles())
            check(unclaimed.count(name) == 1);
        for (const std::size_t name : unclaimed) {
            name_ = name;
            start();
            endpoint_->commitAll();
            check(endpoint_->waiting() == 0);
        }
        check(stageFiles().empty());
        for (std::size_t name = 0; name < kJobNames.size(); ++name)
            verify(name);
        for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
            const fs::path relative = entry.path().lexically_relative(folder_);
            check(relative == "sub" ||
                  std::count(kJobNames.begin(), kJobNames.end(), relative) == 1);
        }
        check(files_.injected == 0 || errors_ > 0);
    }

private:
    fs::path jobPath(std::size_t name) const { return folder_ / kJobNames[name]; }

    std::size_t openStreams() const {
        std::size_t n = 0;
        for (const auto& [id, stream] : streams_)
            n += stream.open.has_value();
        return n;
    }

    static std::int64_t advance(std::uint8_t b) { return b < 200 ? b : (b - 200) * 250; }

    // A new endpoint, as at a start: it recovers what an earlier one kept.
    void start() {
        endpoint_.reset();
        endpoint_ = std::make_unique<CaptureEndpoint>(
            files_,
            [this] {
                return name_ == kWithoutFolder ? std::string(kJobNames[name_])
                                               : jobPath(name_).string();
            },
            [this] { return quiet_; });
        endpoint_->onError = [this](const std::string& reason) {
            // Said once per failure, and never without one.
            check(files_.failedSinceError && !reason.empty());
            files_.failedSinceError = false;
            ++errors_;
        };
        endpoint_->setCapture(capture_);
        const std::size_t injected = files_.injected;
        endpoint_->recover();
        for (Segment& s : segments_)
            if (s.name == name_) s.owned = true;
        if (files_.injected == injected) {
            check(endpoint_->waiting() == 0);
            for (const auto& [name, path] : stageFiles())
                check(name != name_);
        }
    }

    void receive(std::size_t which, bool big, std::uint8_t length) {
        const CaptureEndpoint::StreamId id = kIds[which];
        auto found = streams_.find(id);
        std::uint64_t n = big && !failures_ ? length * 97u : length;
        if (failures_ && found != streams_.end() && found->second.open) {
            const Segment& s = segments_[*found->second.open];
            n = std::min(n, kMostWithFailures - (s.to - s.from));
        }
        const bool takes = capture_ && n > 0;
        if (takes && found == streams_.end())
            found = streams_.emplace(id, Stream{nextKey_++, 0, std::nullopt, 0}).first;
        const std::uint64_t key = found != streams_.end() ? found->second.key : ~std::uint64_t{0};
        const std::uint64_t from = found != streams_.end() ? found->second.sent : 0;
        const std::string bytes = streamBytes(key, from, n);
        const std::size_t injected = files_.injected;
        const std::size_t taken = endpoint_->received(id, bytes, now_);
        if (!takes) {
            check(taken == 0);
            return;
        }
        check(taken <= n);
        if (files_.injected == injected) check(taken == n);
        Stream& stream = found->second;
        if (!stream.open) {
            stream.open = segments_.size();
            segments_.push_back(Segment{stream.key, stream.sent, stream.sent, name_});
            stream.lastMs = now_;
        }
        // The rest is the sender's to offer again, as the transport does.
        stream.sent += taken;
        segments_[*stream.open].to = stream.sent;
        if (taken > 0) stream.lastMs = now_;
    }

    void close(std::size_t which) {
        endpoint_->closed(kIds[which]);
        const auto found = streams_.find(kIds[which]);
        if (found != streams_.end()) found->second.open.reset();
    }

    void tick() {
        endpoint_->tick(now_);
        for (auto& [id, stream] : streams_)
            if (stream.open && now_ - stream.lastMs >= quiet_) stream.open.reset();
    }

    void commitAll() {
        const std::size_t injected = files_.injected;
        endpoint_->commitAll();
        for (auto& [id, stream] : streams_)
            stream.open.reset();
        if (files_.injected == injected) check(endpoint_->waiting() == 0);
    }

    // Killed: the endpoint goes without a word, its senders with it.
    void crash() {
        if (files_.halfWritten) return;
        endpoint_.reset();
        streams_.clear();
        for (Segment& s : segments_)
            s.owned = false;
        start();
    }

    // Streams' files by job file, found on disk.
    std::vector<std::pair<std::size_t, fs::path>> stageFiles() const {
        std::vector<std::pair<std::size_t, fs::path>> found;
        for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
            const std::string path = entry.path().string();
            const std::size_t at = path.find(kStageSuffix);
            if (at == std::string::npos) continue;
            const fs::path job = path.substr(0, at);
            std::size_t name = 0;
            while (name < kJobNames.size() && jobPath(name) != job)
                ++name;
            check(name < kJobNames.size());
            found.emplace_back(name, entry.path());
        }
        return found;
    }

    // The job file is its segments, each whole, each stream's in the order
    // they came, in any order between streams, and nothing else.
    void verify(std::size_t name) {
        std::map<std::uint64_t, std::vector<const Segment*>> byKey;
        for (const Segment& s : segments_)
            if (s.name == name && s.to > s.from) byKey[s.key].push_back(&s);
        std::vector<std::vector<const Segment*>> lists;
        for (auto& [key, list] : byKey)
            lists.push_back(std::move(list));
        const auto bytes = readAll(jobPath(name));
        if (lists.empty()) {
            check(!bytes.has_value());
            return;
        }
        check(bytes.has_value());
        std::set<std::vector<std::size_t>> dead;
        std::vector<std::size_t> at(lists.size(), 0);
        check(match(*bytes, lists, at, 0, dead));
    }

    // Takes the job file apart: at each point the next segment of one of
    // the streams must follow. Streams seldom agree on even a byte, so going
    // back is rare, and where it failed once is remembered.
    static bool match(const std::string& file,
                      const std::vector<std::vector<const Segment*>>& lists,
                      std::vector<std::size_t> at, std::size_t pos,
                      std::set<std::vector<std::size_t>>& dead) {
        for (;;) {
            if (dead.count(at)) return false;
            std::vector<std::size_t> fits;
            bool done = true;
            for (std::size_t k = 0; k < lists.size(); ++k) {
                if (at[k] == lists[k].size()) continue;
                done = false;
                const Segment& s = *lists[k][at[k]];
                const std::uint64_t n = s.to - s.from;
                if (file.size() - pos >= n &&
                    file.compare(pos, n, streamBytes(s.key, s.from, n)) == 0)
                    fits.push_back(k);
            }
            if (done) return pos == file.size();
            if (fits.size() == 1) {
                const Segment& s = *lists[fits[0]][at[fits[0]]];
                ++at[fits[0]];
                pos += s.to - s.from;
                continue;
            }
            for (const std::size_t k : fits) {
                std::vector<std::size_t> next = at;
                ++next[k];
                const Segment& s = *lists[k][at[k]];
                if (match(file, lists, next, pos + (s.to - s.from), dead)) return true;
            }
            dead.insert(at);
            return false;
        }
    }

    fs::path folder_;
    bool failures_;
    Files files_;
    std::unique_ptr<CaptureEndpoint> endpoint_;
    std::size_t name_ = 0;
    std::int64_t quiet_ = kQuiet[0];
    std::int64_t now_ = 0;
    bool capture_ = true;
    std::map<CaptureEndpoint::StreamId, Stream> streams_;
    std::vector<Segment> segments_;
    std::uint64_t nextKey_ = 0;
    std::size_t errors_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Folder folder;
    if (home < 0) home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    check(home >= 0 && ::chdir(folder.path.c_str()) == 0);
    folder.clear();
    {
        Input in(data, size);
        // The first byte says whether writes may fail.
        Run run(folder.path, (in.byte() & 1) != 0);
        while (!in.empty())
            run.step(in);
        run.finish();
    }
    check(::fchdir(home) == 0);
    return 0;
}
