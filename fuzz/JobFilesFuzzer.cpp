// Fuzzes the job file on disk as the monitor, the capture and a DOS program
// use it at once: the input is a list of operations (appends, a writer that
// holds the file open or locks it, a file put in the job file's place,
// reads of a byte range, removing what was printed, setting a job aside, a
// restart; a folder, a FIFO or a symbolic link where a job file should be)
// on real files in a folder of this process's own. A model of what
// each file must hold is kept beside them, and after every operation the
// disk must agree with it. Failures the model does not expect, of any kind,
// are findings.
#include "FuzzInput.h"
#include "capture/JobFiles.h"
#include "core/Errors.h"
#include "engine/JobFile.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace marlix;
using fuzz::Input;
namespace fs = std::filesystem;

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// A folder of our own for the whole run. tmpfs numbers its files afresh, so a
// new file seldom takes the number of one just deleted; the model counts
// files by their number anyway, as the program does.
struct Folder : fuzz::TempFolder {
    Folder() : TempFolder("jobfiles") {}
};

std::optional<FileId> idOf(const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) return std::nullopt;
    return FileId{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

std::optional<std::string> readAll(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// What one job file must be.
struct Model {
    std::string name;
    bool exists = false;
    std::string bytes;
    FileId id;
    // How far the file of that identity was printed while a writer held it.
    std::optional<std::pair<FileId, std::uint64_t>> record;
};

// A program that holds a job file open for writing, as a DOS program may
// while it prints; it may lock it for exclusive use too.
struct Writer {
    int fd = -1;
    std::size_t job = 0;
    FileId id;
    bool locked = false;
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        locked = false;
    }
};

// An offset near something that matters: the start, the end, or past it.
std::uint64_t offsetNear(std::uint64_t size, std::uint8_t b) {
    const std::uint64_t k = b >> 2;
    switch (b & 3) {
    case 0: return k;
    case 1: return size > k ? size - k : 0;
    case 2: return size + k;
    default: return size;
    }
}

class Run {
public:
    Run(const fs::path& folder) : folder_(folder) {
        jobs_[0].name = (folder / "prnspl").string();
        jobs_[1].name = (folder / "other job").string();
        files_ = std::make_unique<JobFiles>();
    }
    ~Run() {
        writer_.close();
        reader_.reset();
    }

    void step(Input& in) {
        const std::uint8_t op = in.byte();
        Model& m = jobs_[op >> 7];
        // Operands are read one by one: the order of a call's arguments is the compiler's.
        const std::uint8_t a = in.byte();
        const std::uint8_t b = in.byte();
        switch (op & 0x1F) {
        case 0: append(m, in.bytes(a)); break;
        case 1: openWriter(m); break;
        case 2: writeWriter(in.bytes(a)); break;
        case 3: writer_.close(); break;
        case 4: lockWriter(); break;
        case 5: checkState(m); break;
        case 6: checkTail(m, a | std::size_t(b & 1) << 8); break;
        case 7: checkPrintedTo(m); break;
        case 8: removePrinted(m, pickId(m, a), offsetNear(m.bytes.size(), b)); break;
        case 9: {
            const std::uint64_t from = offsetNear(m.bytes.size(), b);
            setAside(m, pickId(m, a), from, from + in.byte() % 64);
            break;
        }
        case 10: discard(m); break;
        case 11:
            openReader(m, offsetNear(m.bytes.size(), a),
                       b == 0xFF ? JobFile::kToTheEnd : offsetNear(m.bytes.size(), b));
            break;
        case 12: readNext(); break;
        case 13: readPeek(a); break;
        case 14: readSkip(a); break;
        case 15: readRest(); break;
        case 16: files_ = std::make_unique<JobFiles>(); break; // a restart
        case 17: replace(m, in.bytes(a)); break;
        case 18: remove(m); break;
        case 19: files_->rescueOrphans(); break;
        case 20: folderAsJob(); break;
        case 21: specialFiles(); break;
        default: break;
        }
        for (const Model& job : jobs_)
            agree(job);
    }

private:
    bool writerHolds(const Model& m) const {
        return writer_.fd >= 0 && &jobs_[writer_.job] == &m && m.exists && writer_.id == m.id;
    }

    // The system's word on a file just made, apart from anything the program says.
    void created(Model& m) {
        const auto id = idOf(m.name);
        check(id.has_value());
        if (!m.exists) seen_.push_back(*id);
        m.exists = true;
        m.id = *id;
    }

    void append(Model& m, const std::string& bytes) {
        std::string error;
        const std::size_t n = files_->append(m.name, bytes, error);
        check(n == bytes.size());
        if (!m.exists) created(m);
        m.bytes += bytes;
    }

    void openWriter(Model& m) {
        if (writer_.fd >= 0) return;
        writer_.fd = ::open(m.name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        check(writer_.fd >= 0);
        if (!m.exists) created(m);
        writer_.job = std::size_t(&m - jobs_.data());
        writer_.id = m.id;
    }

    void writeWriter(const std::string& bytes) {
        if (writer_.fd < 0) return;
        check(::write(writer_.fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()));
        // A file that lost its name meanwhile takes the bytes where nobody sees them.
        Model& m = jobs_[writer_.job];
        if (writerHolds(m)) m.bytes += bytes;
    }

    void lockWriter() {
        if (writer_.fd < 0 || writer_.locked) return;
        check(::flock(writer_.fd, LOCK_EX | LOCK_NB) == 0);
        writer_.locked = true;
    }

    void checkState(const Model& m) {
        const auto st = files_->state(m.name);
        check(st.has_value() == m.exists);
        if (st) check(st->size == m.bytes.size() && st->id == m.id);
    }

    void checkTail(const Model& m, std::size_t n) {
        const auto tail = files_->tail(m.name, n);
        check(tail.has_value() == m.exists);
        if (tail) check(*tail == m.bytes.substr(m.bytes.size() - std::min(n, m.bytes.size())));
    }

    std::uint64_t expectedPrintedTo(const Model& m) const {
        if (!m.record || !(m.record->first == m.id)) return 0;
        return std::min<std::uint64_t>(m.record->second, m.bytes.size());
    }

    void checkPrintedTo(const Model& m) {
        if (!m.exists) return;
        const auto st = files_->state(m.name);
        check(st.has_value());
        check(files_->printedTo(m.name, *st) == expectedPrintedTo(m));
    }

    // The file's own identity, or one it had before it was replaced.
    FileId pickId(const Model& m, std::uint8_t b) const {
        if (b % 4 != 0 || seen_.empty()) return m.id;
        return seen_[(b / 4) % seen_.size()];
    }

    void removePrinted(Model& m, const FileId& id, std::uint64_t end) {
        files_->removePrinted(m.name, id, end);
        removedUpTo(m, id, end);
    }

    // What removing the bytes up to `end` of file `id` leaves.
    void removedUpTo(Model& m, const FileId& id, std::uint64_t end) {
        if (!m.exists) {
            m.record.reset(); // of a file that is gone nothing is remembered
            return;
        }
        if (!(id == m.id)) return; // another file by now: nothing of it was printed
        if (writerHolds(m)) {
            m.record = {id, end};
            return;
        }
        m.record.reset();
        if (m.bytes.size() <= end) {
            m.exists = false;
            m.bytes.clear();
            return;
        }
        m.bytes.erase(0, end);
        const auto now = idOf(m.name);
        check(now.has_value());
        seen_.push_back(*now);
        m.id = *now;
    }

    void setAside(Model& m, const FileId& id, std::uint64_t from, std::uint64_t to) {
        // An empty range is whole wherever it lies.
        const bool whole = m.exists && id == m.id && (to <= m.bytes.size() || from >= to);
        const std::string before = m.exists ? m.bytes : std::string();
        std::string copy;
        try {
            copy = files_->setAside(m.name, id, from, to);
        } catch (const IoError&) {
            // The job stays as it was, and no copy is left behind. A
            // thousand copies of one job file in one second are as many as
            // the names go.
            check(!whole || copies_.size() >= 1000);
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(folder_ / "failed", ec))
                check(copies_.count(entry.path().string()) == 1);
            return;
        }
        check(whole);
        check(fs::path(copy).parent_path() == folder_ / "failed");
        check(fs::path(copy).filename().string().rfind(fs::path(m.name).filename().string() + " ",
                                                       0) == 0);
        check(copies_.insert(copy).second); // never one file for two jobs
        check(readAll(copy) == (from < to ? before.substr(from, to - from) : std::string()));
        removedUpTo(m, id, to);
    }

    void discard(Model& m) {
        files_->discard(m.name);
        if (m.exists) removedUpTo(m, m.id, m.bytes.size());
    }

    void openReader(const Model& m, std::uint64_t from, std::uint64_t to) {
        reader_.reset();
        const bool refused = !m.exists || (writerHolds(m) && writer_.locked);
        try {
            reader_ = std::make_unique<JobFile>(m.name, from, to);
        } catch (const Error&) {
            check(refused);
            return;
        }
        check(!refused);
        // Bytes that come later are the next job's: the range is fixed now.
        const std::uint64_t end = std::min<std::uint64_t>(m.bytes.size(), to);
        const std::uint64_t start = std::min(from, end);
        expected_ = m.bytes.substr(start, end - start);
        read_ = 0;
        check(reader_->size() == expected_.size() && reader_->end() == end);
        check(reader_->remaining() == expected_.size());
    }

    void readNext() {
        if (!reader_ || reader_->remaining() == 0) return;
        check(reader_->next() == std::uint8_t(expected_[read_++]));
        check(reader_->remaining() == expected_.size() - read_);
    }

    void readPeek(std::size_t n) {
        if (!reader_) return;
        check(reader_->peek(n) == std::string_view(expected_).substr(read_, n));
        check(reader_->remaining() == expected_.size() - read_);
    }

    void readSkip(std::size_t n) {
        if (!reader_) return;
        n = std::min<std::size_t>(n, reader_->remaining());
        reader_->skip(n);
        read_ += n;
        check(reader_->remaining() == expected_.size() - read_);
    }

    void readRest() {
        if (!reader_) return;
        std::string got;
        while (reader_->remaining() > 0)
            got += char(reader_->next());
        check(got == expected_.substr(read_));
        read_ = expected_.size();
        reader_->close();
    }

    // Another program puts a new file in the job file's place.
    void replace(Model& m, const std::string& bytes) {
        const std::string next = (folder_ / "replacement").string();
        std::ofstream(next, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        check(::rename(next.c_str(), m.name.c_str()) == 0);
        m.exists = false;
        created(m);
        m.bytes = bytes;
    }

    void remove(Model& m) {
        if (!m.exists) return;
        check(::unlink(m.name.c_str()) == 0);
        m.exists = false;
        m.bytes.clear();
    }

    // A folder where the job file should be is no job.
    void folderAsJob() {
        const std::string name = (folder_ / "folder").string();
        fs::create_directories(name);
        check(!files_->state(name));
        check(!files_->tail(name, 10));
        bool refused = false;
        try {
            JobFile f(name);
        } catch (const Error&) {
            refused = true;
        }
        check(refused);
        files_->removePrinted(name, idOf(name).value(), 0);
        check(fs::is_directory(name));
    }

    // A FIFO in a job file's place is no job and is never waited on; a
    // symbolic link there is never written through.
    void specialFiles() {
        const std::string fifo = (folder_ / "fifo").string();
        if (!fs::exists(fifo)) check(::mkfifo(fifo.c_str(), 0600) == 0);
        const auto st = files_->state(fifo);
        check(st && st->size == 0 && !st->notAJob.empty());
        check(!files_->tail(fifo, 10));
        bool refused = false;
        try {
            JobFile f(fifo);
        } catch (const Error&) {
            refused = true;
        }
        check(refused);
        std::string error;
        check(files_->append(fifo, "x", error) == 0 && !error.empty());
        files_->removePrinted(fifo, st->id, 0);
        files_->discard(fifo);
        refused = false;
        try {
            files_->setAside(fifo, st->id, 0, 10);
        } catch (const IoError&) {
            refused = true;
        }
        check(refused && fs::is_fifo(fifo));

        const fs::path link = folder_ / "link", target = folder_ / "target";
        std::ofstream(target) << "mine";
        for (const fs::path& to : {target, folder_ / "nowhere"}) {
            fs::remove(link);
            fs::create_symlink(to, link);
            error.clear();
            check(files_->append(link.string(), "theirs", error) == 0 && !error.empty());
        }
        check(readAll(target.string()) == "mine" && !fs::exists(folder_ / "nowhere"));
    }

    // The disk as the model has it, and nothing left over from a step.
    void agree(const Model& m) {
        const auto bytes = readAll(m.name);
        check(bytes.has_value() == m.exists);
        if (bytes) check(*bytes == m.bytes && idOf(m.name) == m.id);
        check(!fs::exists(m.name + ".rest"));
        check(!fs::exists(m.name + ".printed.new"));
        const auto record = readAll(m.name + ".printed");
        check(record.has_value() == m.record.has_value());
        if (record) {
            std::istringstream in(*record);
            FileId id;
            std::uint64_t end = 0;
            check(bool(in >> id.device >> id.inode >> end));
            check(id == m.record->first && end == m.record->second);
        }
    }

    fs::path folder_;
    std::array<Model, 2> jobs_;
    std::unique_ptr<JobFiles> files_;
    Writer writer_;
    std::vector<FileId> seen_;
    std::set<std::string> copies_;
    std::unique_ptr<JobFile> reader_;
    std::string expected_;
    std::size_t read_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Folder folder;
    folder.clear();
    Input in(data, size);
    Run run(folder.path);
    while (!in.empty())
        run.step(in);
    return 0;
}
