#include "capture/CaptureEndpoint.h"

#include <algorithm>
#include <utility>

namespace marlix {

void CaptureEndpoint::setCapture(bool on) {
    capture_ = on;
    if (on && resume) resume();
}

bool CaptureEndpoint::mayRead(StreamId id) {
    if (capture_) {
        if (!writer_ && (waiting_.empty() || waiting_.front() == id)) take(id);
        if (writer_ == id) return true;
    }
    wait(id);
    return false;
}

std::size_t CaptureEndpoint::received(StreamId id, std::string_view bytes) {
    if (writer_ != id || bytes.empty()) return 0;
    std::string error;
    const std::size_t written = files_.append(name_, bytes, error);
    if (written > 0 && held_ > 0) wroteWhileHeld_ = true;
    if (written == bytes.size()) {
        failing_ = false;
    } else if (!std::exchange(failing_, true) && onError) {
        onError(error);
    }
    return written;
}

void CaptureEndpoint::closed(StreamId id) {
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), id), waiting_.end());
    if (writer_ == id) passOn();
}

void CaptureEndpoint::release(bool jobEnded) {
    if (held_ > 0) --held_;
    if (held_ > 0) return;
    if (jobEnded && !wroteWhileHeld_)
        passOn();
    else if (resume)
        resume();
}

void CaptureEndpoint::takeForLastWrite(StreamId id) {
    held_ = 0;
    capture_ = true;
    if (writer_ != id) take(id);
}

void CaptureEndpoint::take(StreamId id) {
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), id), waiting_.end());
    writer_ = id;
    name_ = jobFileName_();
}

// The job file is free: the stream that has waited longest gets it.
void CaptureEndpoint::passOn() {
    writer_.reset();
    name_.clear();
    if (capture_ && !waiting_.empty()) take(waiting_.front());
    if (resume) resume();
}

void CaptureEndpoint::wait(StreamId id) {
    if (writer_ != id && std::find(waiting_.begin(), waiting_.end(), id) == waiting_.end())
        waiting_.push_back(id);
}

} // namespace marlix
