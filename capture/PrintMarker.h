// The record of a print in progress, kept beside the job file as
// NAME.printing from the moment a print starts until its bytes have been
// removed. A start that finds one knows that the last print never ended:
// what it had written is removed, and the job is printed again, or set
// aside when it was the job that killed the program (the record says so
// when the program dies of a fault) or when it was cut short three times.
//
// Lines are appended with one write each, so that whatever ends the process
// leaves every line that was written whole:
//   job DEVICE INODE FROM TO    the bytes being printed
//   attempt N                   the how-manieth try of these bytes
//   part PATH / pdf PATH        a document being written / finished
//   done                        the bytes have been dealt with
//   crashed                     the program died of a fault
#pragma once

#include "capture/JobFiles.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marlix {

class PrintMarker {
public:
    struct Record {
        FileId id;
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        int attempt = 0;
        bool done = false;
        bool crashed = false;
        std::vector<std::string> parts; // documents begun
        std::vector<std::string> pdfs;  // documents finished
    };

    // Tries of the same bytes after which they are set aside.
    static constexpr int kMostAttempts = 3;

    PrintMarker() = default;
    ~PrintMarker();
    PrintMarker(const PrintMarker&) = delete;
    PrintMarker& operator=(const PrintMarker&) = delete;

    static std::optional<Record> read(const std::string& jobFile);
    static void remove(const std::string& jobFile);

    // Starts the record of a print. One that cannot be written does not stop
    // the print: only the protection against a crash is lost.
    void begin(const std::string& jobFile, const FileId& id, std::uint64_t from, std::uint64_t to,
               int attempt);
    void note(std::string_view line);
    // The print is over and its bytes dealt with: the record goes.
    void end();

    // From now on a fault that kills the program (a segmentation fault, an
    // abort) is noted in the record of the print in progress.
    static void catchFaults();

private:
    std::string path_;
    int fd_ = -1;
};

} // namespace marlix
