#include "capture/JobMonitor.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <utility>

namespace marlix {

namespace {
void removeFile(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}
} // namespace

std::optional<JobMonitor::Waiting> JobMonitor::waiting(const std::string& name) {
    const auto st = files_.state(name);
    if (!st) return std::nullopt;
    if (!st->notAJob.empty()) {
        // Said once; reading it could hang the program, or print what is no job.
        if (std::exchange(refused_, name) != name)
            host_.report(name + ": " + st->notAJob + "; nothing is printed from it");
        return std::nullopt;
    }
    if (refused_ == name) refused_.clear();
    return Waiting{*st, files_.printedTo(name, *st)};
}

void JobMonitor::Timer1Timer() {
    const std::string name = host_.jobFileName();
    recover(name);
    files_.rescueOrphans();
    const auto job = waiting(name); // 1
    if (!job) {
        setControls(false);
        return;
    }
    if (job->from > 0 && job->size() == 0) {
        // All printed, and kept while a writer held it: it may go by now.
        files_.removePrinted(name, job->file.id, job->from);
        setControls(false);
        return;
    }
    setControls(true);              // 2
    if (!host_.autoPrint()) return; // 3
    if (failed_) {
        if (!host_.retriesByItself()) {
            // The job waits for the user, unless it has grown meanwhile.
            if (job->size() == failedSize_) return;
            failed_ = false;
        } else if (retryTicks_ > 0) {
            --retryTicks_;
            return;
        }
    }
    if (host_.printAtEndOfPage()) { // 4: the form feed decides, never the time-out
        const auto last =
            files_.tail(name, std::size_t(std::min<std::uint64_t>(kEndOfPageWindow, job->size())));
        if (!last) return;
        if (last->find('\f') != std::string::npos) return printJob(name, *job);
        lastSize_ = job->size();
        return;
    }
    if (job->size() == lastSize_ && job->size() > 0) return printJob(name, *job); // 5
    lastSize_ = job->size();
}

void JobMonitor::Timer2Timer() {
    const std::string name = host_.jobFileName();
    recover(name);
    const auto job = waiting(name);
    // An empty file waits too; one printed to its end only stays for its writer.
    const bool there = job && (job->size() > 0 || job->from == 0);
    setControls(there);
    if (there && (!host_.autoPrint() || failed_))
        showPending(true);
    else if (!there)
        showPending(false);
}

void JobMonitor::printNow() {
    const std::string name = host_.jobFileName();
    if (const auto job = waiting(name); job && job->size() > 0) printJob(name, *job);
    setControls(false);
}

void JobMonitor::discard() {
    files_.discard(host_.jobFileName());
    failed_ = false;
    setControls(false);
}

void JobMonitor::pendingReleased() {
    if (!std::exchange(clickArmed_, false)) return;
    showPending(false);
    const std::string name = host_.jobFileName();
    if (const auto job = waiting(name); job && job->size() > 0) printJob(name, *job);
}

void JobMonitor::printJob(const std::string& name, const Waiting& job) {
    // A click on the pending-job icon while a job prints must not start the
    // same job a second time.
    if (printing_) return;
    printing_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{printing_};

    const FileId id = job.file.id;
    const std::uint64_t from = job.from;
    const std::uint64_t to = job.file.size;
    int attempt = 1;
    if (const auto before = PrintMarker::read(name);
        before && before->id == id && before->from == from)
        attempt = before->attempt + 1;
    marker_.begin(name, id, from, to, attempt);
    Printed printed;
    try {
        printed = host_.print(name, from, to, marker_);
    } catch (const std::exception& e) {
        printed = {Printed::Result::Failed, e.what()};
    }
    lastSize_ = 0;
    switch (printed.result) {
    case Printed::Result::Printed:
    case Printed::Result::Cancelled:
        marker_.note("done");
        files_.removePrinted(name, id, to);
        marker_.end();
        failed_ = false;
        retryPause_ = 0;
        break;
    case Printed::Result::JobFailed:
        // Printing the same bytes again would print the same pages again and
        // fail again: the job is kept aside for the user instead.
        try {
            const std::string copy = files_.setAside(name, id, from, to);
            marker_.note("done");
            marker_.end();
            failed_ = false;
            host_.report(name + ": " + printed.message +
                         ". What came before it is printed; the job is kept in " + copy);
        } catch (const std::exception& e) {
            marker_.end();
            host_.report(name + ": " + printed.message + ". " + e.what());
            failedPrint(job);
        }
        break;
    case Printed::Result::Failed:
        marker_.end();
        failedPrint(job);
        break;
    case Printed::Result::Abandoned: marker_.end(); break;
    }
    restart();
}

void JobMonitor::failedPrint(const Waiting& job) {
    failed_ = true;
    failedSize_ = job.size();
    lastSize_ = job.size(); // the next try needs no second look at the size
    // The pause doubles from one time-out up to five minutes.
    const int longest = std::max(1, kLongestRetrySeconds / std::max(1, host_.timeOut()));
    retryPause_ = retryPause_ == 0 ? 1 : std::min(retryPause_ * 2, longest);
    retryTicks_ = retryPause_ - 1;
}

void JobMonitor::recover(const std::string& name) {
    if (name == recovered_) return;
    recovered_ = name;
    const auto record = PrintMarker::read(name);
    if (!record) return;
    for (const std::string& part : record->parts)
        removeFile(part);
    const auto now = files_.state(name);
    const bool same = now && now->id == record->id;
    if (record->done) {
        // It printed, and only the removal of its bytes was cut short.
        if (same) files_.removePrinted(name, record->id, record->to);
        PrintMarker::remove(name);
        return;
    }
    // No half of a job stays on disk: it is printed whole again.
    for (const std::string& pdf : record->pdfs)
        removeFile(pdf);
    if (!same) {
        PrintMarker::remove(name);
        return;
    }
    if (!record->crashed && record->attempt < PrintMarker::kMostAttempts) {
        host_.report(name + ": the last print of this job was cut short; it is printed again");
        return; // the record counts the tries
    }
    try {
        const std::string copy = files_.setAside(name, record->id, record->from, record->to);
        host_.report(name + ": the job stopped Marlix while it printed; it is kept in " + copy);
    } catch (const std::exception& e) {
        // It must not stop us again: it waits as long as a failed job can.
        host_.report(name + ": the job stopped Marlix while it printed. " + e.what());
        failedPrint({*now, record->from});
        retryTicks_ = retryPause_ =
            std::max(1, kLongestRetrySeconds / std::max(1, host_.timeOut()));
        return;
    }
    PrintMarker::remove(name);
}

void JobMonitor::showPending(bool shown) {
    if (shown == pendingShown_) return;
    pendingShown_ = shown;
    host_.setPendingIcon(shown);
}

} // namespace marlix
