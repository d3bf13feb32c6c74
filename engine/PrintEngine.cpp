// The job driver: byte loop, control codes, line wrap and page breaks.
#include "engine/PrintEngine.h"

#include "core/Arith.h"
#include "engine/EscP2.h"
#include "engine/JobFile.h"

#include <algorithm>
#include <array>

namespace marlix {

namespace {
constexpr std::uint8_t BS = 8, LF = 10, FF = 12, CR = 13;
// Bytes after a lead byte that a sequence may still take.
constexpr std::size_t kLookAhead = 30;
// How often the loop hands control out while a document is open.
constexpr std::uint32_t kKeepAliveBytes = 4096;

// The bytes a job processes: the initialisation string, then the job file.
// Only the file's bytes count towards the job's progress and end.
class JobInput {
public:
    JobInput(std::string_view init, JobFile& file, std::uint32_t fileBytes)
        : init_(fileBytes == 0 ? std::string_view() : init), file_(file), fileLeft_(fileBytes) {}

    std::uint32_t fileLeft() const { return fileLeft_; }
    void stop() { fileLeft_ = 0; }

    std::uint8_t next() {
        fromInit_ = !init_.empty();
        if (fromInit_) {
            const auto b = static_cast<std::uint8_t>(init_.front());
            init_.remove_prefix(1);
            return b;
        }
        --fileLeft_;
        return file_.next();
    }

    // What follows the byte just taken, as far as a sequence may reach: the
    // rest of the initialisation string while it lasts, else the job file. So
    // a sequence crosses from the string into the file only at its last byte.
    std::string_view lookAhead(std::size_t n = kLookAhead) {
        return tailInInit() ? init_.substr(0, n) : file_.peek(n);
    }

    void skip(std::size_t n) {
        if (tailInInit()) {
            init_.remove_prefix(n);
        } else {
            file_.skip(n);
            fileLeft_ -= static_cast<std::uint32_t>(n);
        }
    }

private:
    bool tailInInit() const { return fromInit_ && !init_.empty(); }

    std::string_view init_;
    JobFile& file_;
    std::uint32_t fileLeft_;
    bool fromInit_ = false;
};
} // namespace

PrintEngine::PrintEngine(PrinterDevice& device) : device_(device) {
    // A usable cell before the first layout: 12 characters and 6 lines per inch.
    charHeight_ = nearestAs<std::uint16_t>(resy() / 6.0L);
    charAdvance_ = nearestAs<std::uint16_t>(resx() / 12.0L);
    lineHeight_ = charHeight_;
}

int PrintEngine::resx() const {
    int r = device_.resolutionX();
    if (r < 0) rangeError();
    return r;
}

int PrintEngine::resy() const {
    int r = device_.resolutionY();
    if (r < 0) rangeError();
    return r;
}

void PrintEngine::computePageArea() {
    Margins m{settings.topMargin, settings.bottomMargin, settings.leftMargin, settings.rightMargin};
    try {
        area_ = marlix::computePageArea(m, resx(), resy(), device_.pageData());
    } catch (const Error& e) {
        // Which values: a margin typed by hand into the settings file is far
        // from where the error shows.
        auto mm = [](std::int32_t v) { return std::to_string(v) + " mm"; };
        throw Error(withReason(e.what(), "the margins: top " + mm(m.top) + ", bottom " +
                                             mm(m.bottom) + ", left " + mm(m.left) + ", right " +
                                             mm(m.right)));
    }
}

void PrintEngine::progress(std::uint64_t size, std::uint64_t left, int& lastFrame) {
    std::uint64_t step = size / 16;
    if (step < 1) return;
    // Sizes that are no multiple of 16 would pass frame 15 near the end;
    // there is no picture beyond it.
    int frame = static_cast<int>(std::min<std::uint64_t>((size - left) / step, kLastProgressFrame));
    if (frame == lastFrame) return;
    lastFrame = frame;
    if (UpdateProgress) UpdateProgress(frame);
}

void PrintEngine::startPage() {
    job_.pageStarted = true;
    if (!device_.printing()) {
        device_.beginDoc();
    } else if (device_.orientation() == job_.requested) {
        device_.newPage();
    } else {
        device_.endDoc();
        device_.setOrientation(job_.requested);
        computePageArea();
        job_.y = area_.top;
        device_.beginDoc();
    }
}

// Margins that leave no room for one character or one line would print a
// character a line or a character a page, or nothing at all: the job stays
// until the margins are mended.
void PrintEngine::checkRoom() const {
    auto mm = [](std::int32_t v) { return std::to_string(v) + " mm"; };
    if (std::int64_t{area_.right} - area_.left < charAdvance_)
        throw Error("The margins leave no room for a character: left " + mm(settings.leftMargin) +
                    ", right " + mm(settings.rightMargin));
    if (std::int64_t{area_.bottom} - area_.top < 2 * std::int64_t{charHeight_})
        throw Error("The margins leave no room for a line: top " + mm(settings.topMargin) +
                    ", bottom " + mm(settings.bottomMargin));
}

std::uint64_t PrintEngine::PrintOut(const std::string& fileName, std::uint64_t from,
                                    std::uint64_t to) {
    stopRequested_ = false;
    const Orientation settingsOrientation =
        settings.landscape ? Orientation::Landscape : Orientation::Portrait;
    device_.setOrientation(settingsOrientation);
    computePageArea();

    LoadedSequences seq;
    bool interpreting = false;
    bool emulating = false; // the built-in Epson emulation instead of a scheme
    if (sequences) {
        seq = sequences->LoadSequences();
        const std::string active = sequences->activeScheme();
        emulating = active == kEscP2Scheme;
        interpreting = active != kNoSequences && !emulating;
    }
    if (seq.table.size() > 256) rangeError();
    const std::vector<Sequence> table = prepare(seq.table);
    if (seq.initStr.size() > 0xFFFF) rangeError(); // the string's length is a 16-bit count

    device_.setTransparentBrush();
    job_ = PrintState{};

    std::array<bool, 256> lead{};
    for (const Sequence& s : table)
        lead[static_cast<std::uint8_t>(s.pattern[0])] = true;

    JobFile file(fileName, from, to);
    device_.setTitle(kJobTitle);
    bool started = false; // errors from here on come from the job's bytes
    try {
        // What one job's sequences leave behind must not change the next job.
        styleFromSettings();
        setFontColor(0);
        resetPrintState();
        lineHeight_ = fit<std::uint16_t>(device_.textHeight(u'@'));
        checkRoom();
        // Tables are read afresh for every job: an edited code page file counts.
        tableCache_.clear();
        resetEmulation();
        started = true;

        job_.x = area_.left;
        job_.y = area_.top;
        const std::uint64_t size = file.size();
        JobInput input(seq.initStr, file, fit<std::uint32_t>(size));
        int lastFrame = 99;

        while (input.fileLeft() > 0) {
            progress(size, input.fileLeft(), lastFrame);

            std::uint8_t b = input.next();
            if (emulating) b = byteMap_[b];
            std::uint16_t w = (*chars_)[b].code;

            if (emulating && escp2::startsCommand(b) && !printableControl(b)) {
                if (const std::size_t taken =
                        emulate(b, [&](std::size_t n) { return input.lookAhead(n); })) {
                    input.skip(taken - 1);
                    w = 0;
                }
            } else if (interpreting && lead[b]) {
                const std::string_view tail = input.lookAhead();
                std::array<char, 1 + kLookAhead> window;
                window[0] = static_cast<char>(b);
                tail.copy(window.data() + 1, tail.size());
                if (const std::size_t taken =
                        interpret(std::string_view(window.data(), 1 + tail.size()), table)) {
                    input.skip(taken - 1);
                    w = 0;
                }
            }

            switch (w) {
            case 0: break;
            case BS:
                job_.x = add32(job_.x, -std::int64_t{device_.textWidth(BS)});
                w = 0;
                break;
            case LF:
                job_.y = add32(job_.y, lineHeight_);
                w = 0;
                break;
            case FF:
                if (settings.pageFeed) {
                    job_.pageStarted = false;
                    job_.y = area_.top;
                }
                // The next line starts at the left margin, not one cell left of it.
                job_.x = area_.left;
                w = 0;
                break;
            case CR:
                job_.x = area_.left;
                w = 0;
                break;
            default:
                // TAB, VT, a lone ESC ...: one blank cell
                if (b < 32 && !printableControl(b)) w = u' ';
            }

            if (w != 0 && job_.x < area_.right) {
                if (!job_.pageStarted) startPage();
                drawCharacter(b, w);
            }

            if (settings.lineWrap &&
                std::int64_t{job_.x} > std::int64_t{area_.right} - device_.textWidth(w)) {
                job_.x = area_.left;
                job_.y = add32(job_.y, lineHeight_);
            }

            // The paper ends, or the form an Epson job set up does.
            if (std::int64_t{job_.y} > std::int64_t{area_.bottom} - 2 * std::int64_t{charHeight_} ||
                (job_.escp.formEnd != 0 &&
                 std::int64_t{job_.y} + charHeight_ > job_.escp.formEnd)) {
                job_.y = area_.top;
                job_.pageStarted = false;
            }

            if (device_.aborted()) {
                input.stop();
                device_.abortDoc();
            } else if (KeepAlive && input.fileLeft() % kKeepAliveBytes == 0 && device_.printing()) {
                KeepAlive();
                if (stopRequested_) throw PrintStopped("Printing cancelled");
            }
        }
    } catch (const Error& e) {
        file.close();
        const bool fromTheJob =
            started && !dynamic_cast<const IoError*>(&e) && !dynamic_cast<const PrintStopped*>(&e);
        if (!fromTheJob) {
            // Leave nothing open: the next job must not find a document in progress.
            if (device_.printing()) device_.abortDoc();
            throw;
        }
        // The pages before the error are the job's as much as a whole job's.
        finishJob(settingsOrientation);
        throw JobError(e.what());
    } catch (...) {
        file.close();
        if (device_.printing()) device_.abortDoc();
        throw;
    }

    const std::uint64_t end = file.end();
    file.close();
    finishJob(settingsOrientation);
    return end;
}

void PrintEngine::finishJob(Orientation settingsOrientation) {
    if (UpdateProgress) UpdateProgress(kProgressDone);
    try {
        if (device_.printing()) device_.endDoc();
    } catch (...) {
        if (device_.printing()) device_.abortDoc();
        throw;
    }
    device_.setOrientation(settingsOrientation);
    computePageArea();
}

} // namespace marlix
