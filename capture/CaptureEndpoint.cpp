#include "capture/CaptureEndpoint.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace marlix {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStreamSuffix = ".capture.";

// Numbered so that their names sort in the order they came, across runs too.
std::string streamFile(const std::string& jobFile, std::uint64_t number) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%020llu", static_cast<unsigned long long>(number));
    return jobFile + kStreamSuffix + digits;
}

} // namespace

CaptureEndpoint::CaptureEndpoint(JobFiles& files, std::function<std::string()> jobFileName,
                                 std::function<std::int64_t()> quietMs)
    : files_(files), jobFileName_(std::move(jobFileName)), quietMs_(std::move(quietMs)),
      next_(std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count())) {
}

std::size_t CaptureEndpoint::received(StreamId id, std::string_view bytes, std::int64_t nowMs) {
    if (!capture_ || bytes.empty()) return 0;
    auto it = stages_.find(id);
    if (it == stages_.end()) {
        const std::string job = jobFileName_();
        it = stages_.emplace(id, Stage{streamFile(job, next_++), job, nowMs, 0, 0}).first;
    }
    std::string error;
    const std::size_t written = files_.append(it->second.path, bytes, error);
    it->second.staged += written;
    if (written > 0) it->second.lastMs = nowMs;
    if (written == bytes.size())
        failing_ = false;
    else
        failed(error);
    return written;
}

void CaptureEndpoint::closed(StreamId id) {
    const auto it = stages_.find(id);
    if (it == stages_.end()) return;
    Stage stage = std::move(it->second);
    stages_.erase(it);
    finish(std::move(stage));
}

void CaptureEndpoint::finish(Stage stage) {
    // Those that ended before it go first, also when the job file could not
    // take them yet.
    if (!done_.empty() || !commit(stage)) done_.push_back(std::move(stage));
}

void CaptureEndpoint::tick(std::int64_t nowMs) {
    while (!done_.empty() && commit(done_.front()))
        done_.erase(done_.begin());
    const std::int64_t quiet = quietMs_();
    for (auto it = stages_.begin(); it != stages_.end();) {
        if (nowMs - it->second.lastMs < quiet) {
            ++it;
            continue;
        }
        // Quiet for the time-out: what it sent so far is a job; what it sends
        // later is the next one.
        Stage stage = std::move(it->second);
        it = stages_.erase(it);
        finish(std::move(stage));
    }
}

void CaptureEndpoint::commitAll() {
    std::vector<Stage> open;
    for (auto& [id, stage] : stages_)
        open.push_back(std::move(stage));
    stages_.clear();
    std::sort(open.begin(), open.end(),
              [](const Stage& a, const Stage& b) { return a.path < b.path; });
    for (Stage& stage : open)
        finish(std::move(stage));
    while (!done_.empty() && commit(done_.front()))
        done_.erase(done_.begin());
}

void CaptureEndpoint::recover() {
    const fs::path job(jobFileName_());
    const std::string prefix = job.filename().string() + kStreamSuffix;
    std::vector<std::string> found;
    // A job file named without a folder is in the one we run in; its parent
    // is empty, and no folder can be listed by that.
    const fs::path folder = job.has_parent_path() ? job.parent_path() : fs::path(".");
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && entry.is_regular_file(ec))
            found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end());
    for (const std::string& path : found)
        finish(Stage{path, job.string(), 0, ~std::uint64_t{0}, 0});
}

bool CaptureEndpoint::commit(Stage& stage) {
    std::ifstream in(stage.path, std::ios::binary);
    if (in) {
        in.seekg(std::streamoff(stage.committed));
        std::string chunk(64 * 1024, '\0');
        for (;;) {
            in.read(chunk.data(), std::streamsize(chunk.size()));
            const auto got = std::size_t(in.gcount());
            if (got == 0) break;
            std::string error;
            const std::size_t written =
                files_.append(stage.jobFile, std::string_view(chunk).substr(0, got), error);
            stage.committed += written;
            if (written < got) {
                failed(error);
                return false;
            }
        }
        in.close();
    } else if (stage.staged > stage.committed) {
        // Gone from under us: said, but it must not hold back the streams after it.
        failed(stage.path + ": the bytes captured here are gone");
    }
    std::error_code ec;
    fs::remove(stage.path, ec);
    failing_ = false;
    return true;
}

void CaptureEndpoint::failed(const std::string& reason) {
    if (!std::exchange(failing_, true) && onError) onError(reason);
}

} // namespace marlix
