// Where captured print streams meet the job file. A transport (the loopback
// print port) delivers streams; the endpoint keeps each stream's bytes in a
// file of its own beside the job file, on disk as they arrive, and appends
// them to the job file whole once the stream has ended, or has been quiet
// for the job time-out (a connection an emulator keeps open between jobs):
//
// - two senders never mix, however they send;
// - an idle or trickling sender holds nobody off, since every stream is read
//   as it comes, and memory stays flat, since its bytes go to disk;
// - a job reaches the job file when its sender is done with it, so the
//   monitor's time-out counts from there;
// - what a stream sent survives a crash in its own file and reaches the job
//   file at the next start (recover).
#pragma once

#include "capture/JobFiles.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace marlix {

class CaptureEndpoint {
public:
    using StreamId = std::uint64_t;

    // The job file's name is asked for when a stream's first byte comes, so
    // a job sent after the user renamed it lands where the monitor looks.
    // quietMs: how long a stream may pause before what it sent counts as a
    // job of its own.
    CaptureEndpoint(JobFiles& files, std::function<std::string()> jobFileName,
                    std::function<std::int64_t()> quietMs);

    // The capture switch: while off, nothing is taken.
    void setCapture(bool on) { capture_ = on; }
    bool capturing() const { return capture_; }

    // Keeps bytes of a stream; returns how many are on disk (fewer only when
    // writing failed: offer the rest again later). nowMs: any steady clock.
    std::size_t received(StreamId id, std::string_view bytes, std::int64_t nowMs);
    // The stream ended: what it sent goes into the job file now.
    void closed(StreamId id);
    // Streams quiet for the time-out go into the job file; and what could
    // not be written there before is tried again.
    void tick(std::int64_t nowMs);
    // The program ends: everything kept goes into the job file.
    void commitAll();
    // What streams of an earlier run kept (it ended by a crash or a kill)
    // goes into the job file, in the order it came.
    void recover();

    // Writing failed; called once until a write succeeds.
    std::function<void(const std::string& reason)> onError;

    // Streams whose bytes wait to go into the job file.
    std::size_t waiting() const { return stages_.size() + done_.size(); }

private:
    struct Stage {
        std::string path;    // the stream's own file
        std::string jobFile; // where it goes
        std::int64_t lastMs = 0;
        std::uint64_t staged = 0;    // bytes kept in its file
        std::uint64_t committed = 0; // bytes of it already in the job file
    };
    void finish(Stage stage);
    // false when the job file can't take it now; it is kept for later.
    bool commit(Stage& stage);
    void failed(const std::string& reason);

    JobFiles& files_;
    std::function<std::string()> jobFileName_;
    std::function<std::int64_t()> quietMs_;
    bool capture_ = false;
    bool failing_ = false;
    std::uint64_t next_; // names the streams' files, in the order they came
    std::map<StreamId, Stage> stages_;
    std::vector<Stage> done_; // ended, waiting for the job file to take them
};

} // namespace marlix
