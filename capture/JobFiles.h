// The job file as the monitor and the capture see it on disk. The monitor
// looks at the file's size and last bytes and never locks it: the party that
// writes it (a DOS program, the capture) may append at any moment. What it
// removes is only what was printed, and never from under a writer:
//
// - a file that nobody holds open for writing is deleted once printed, or
//   keeps what came after the printed bytes as the next job;
// - a file a writer still holds open stays, and how far it was printed is
//   kept beside it (NAME.printed), so later bytes print as the next job,
//   also after a restart; it goes once the writer has closed it;
// - a job that cannot be printed is set aside, its bytes whole, in the
//   folder "failed" beside the job file.
//
// Whether a writer holds the file is asked of the system with a lease
// (Linux); where it cannot tell, the file is kept as if one did.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marlix {

// Which file a name stood for: a file put in the job file's place is
// another job.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileId&) const = default;
};

class JobFiles {
public:
    struct State {
        std::uint64_t size = 0;
        FileId id;
        // Why it is no job file (a FIFO, a device); empty for a regular file.
        std::string notAJob;
    };

    JobFiles();
    virtual ~JobFiles();
    JobFiles(const JobFiles&) = delete;
    JobFiles& operator=(const JobFiles&) = delete;

    // The file's size and identity; nothing when it is absent or a folder.
    std::optional<State> state(const std::string& name);
    // Up to the last n bytes; nothing when the file cannot be opened or is
    // no regular file.
    std::optional<std::string> tail(const std::string& name, std::size_t n);

    // How far this file has been printed already (0 for a new one).
    std::uint64_t printedTo(const std::string& name, const State& state);
    // The file `id` has been printed up to `end`: removes those bytes as the
    // header says. Failures are not reported: a file that stays is seen
    // again, and never printed twice.
    void removePrinted(const std::string& name, const FileId& id, std::uint64_t end);
    // Copies the bytes from `from` to `to` whole into the folder "failed"
    // beside the job file, then removes them as removePrinted does. Returns
    // the copy's name; fails with IoError, the job left as it was.
    std::string setAside(const std::string& name, const FileId& id, std::uint64_t from,
                         std::uint64_t to);
    // Throws the waiting bytes away (Clear), as removePrinted does with them.
    void discard(const std::string& name);

    // Appends at the end, creating the file (for the user alone) when absent;
    // opened by name for every call, so a job deleted meanwhile starts anew.
    // Only a regular file is written, and never through a symbolic link: in
    // a folder others can write to, a link planted in the job file's place
    // would send the job into a file of the user's choosing. Returns how many
    // bytes reached the file; when not all did, `error` holds the reason.
    virtual std::size_t append(const std::string& name, std::string_view bytes, std::string& error);

    // A writer that opened the job file in the very moment it was deleted
    // writes into a file without a name: its bytes are moved into the job
    // file, as the next job, until it closes.
    void rescueOrphans();

private:
    struct Orphan {
        int fd = -1;
        std::uint64_t copiedTo = 0;
        std::string jobFile;
    };
    void remember(const std::string& name, const FileId& id, std::uint64_t end);
    void forget(const std::string& name);

    // Offsets printed of files kept for their writers, by job file name.
    std::map<std::string, std::pair<FileId, std::uint64_t>> printed_;
    std::vector<Orphan> orphans_;
};

} // namespace marlix
