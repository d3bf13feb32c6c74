// Where captured print streams meet the job file. A transport (the loopback
// print port) delivers streams; the endpoint decides which of them may write
// now and appends their bytes to the job file as they arrive.
//
// - One stream at a time writes a job: the first to send takes the job file
//   and keeps it until it ends or its job has been printed; the others wait
//   their turn, first come first served (the transport stops reading them,
//   so flow control holds them back and memory stays bounded), and two
//   senders never interleave.
// - While a job prints, the stream that has the job file goes on writing:
//   its bytes land after the ones being printed and become the next job, and
//   they are on disk at once, so that not even a crash loses them. A stream
//   that wrote while its job printed keeps the job file; one that was quiet
//   has had its job printed, and the next stream gets its turn.
// - A write that fails keeps the bytes; the transport offers them again.
#pragma once

#include "capture/JobFiles.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace marlix {

class CaptureEndpoint {
public:
    using StreamId = std::uint64_t;

    // The job file's name is asked for whenever a stream takes the job file,
    // so a job sent after the user renamed it lands where the monitor looks.
    CaptureEndpoint(JobFiles& files, std::function<std::string()> jobFileName)
        : files_(files), jobFileName_(std::move(jobFileName)) {}

    // The capture switch: while off, nothing is written.
    void setCapture(bool on);
    bool capturing() const { return capture_; }

    // The transport asks before it takes a stream's bytes from the sender.
    // false: leave them there; `resume` is called when it may try again.
    bool mayRead(StreamId id);
    // Appends bytes of a stream that may read; returns how many reached the
    // job file (fewer only when writing failed: offer the rest again later).
    std::size_t received(StreamId id, std::string_view bytes);
    // The stream ended and all its bytes were taken.
    void closed(StreamId id);

    // The monitor prints the job file. Then the print is over, and the job
    // ended (printed and removed) or stays (print failed).
    void hold() {
        if (held_++ == 0) wroteWhileHeld_ = false;
    }
    void release(bool jobEnded);
    // The program ends: the stream takes the job file now, whoever has it,
    // so that what it was allowed to send is not lost.
    void takeForLastWrite(StreamId id);

    // The transport should offer waiting streams again.
    std::function<void()> resume;
    // Writing to the job file failed; called once until a write succeeds.
    std::function<void(const std::string& reason)> onError;

    std::optional<StreamId> writer() const { return writer_; }
    const std::string& writingTo() const { return name_; }

private:
    void take(StreamId id);
    void passOn();
    void wait(StreamId id);

    JobFiles& files_;
    std::function<std::string()> jobFileName_;
    bool capture_ = false;
    int held_ = 0;
    bool wroteWhileHeld_ = false; // the writer's job goes on after the one printing
    bool failing_ = false;
    std::optional<StreamId> writer_; // the stream that has the job file
    std::string name_;               // the job file it writes to
    std::deque<StreamId> waiting_;   // streams with bytes, in the order they came
};

} // namespace marlix
