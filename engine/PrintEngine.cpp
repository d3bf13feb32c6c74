// The job driver: byte loop, control codes, line wrap and page breaks.
#include "engine/PrintEngine.h"

#include "core/Arith.h"
#include "engine/JobFile.h"

#include <algorithm>
#include <array>

namespace marlix {

namespace {
constexpr std::uint8_t BS = 8, LF = 10, FF = 12, CR = 13;
// Bytes after a lead byte that a sequence may still take.
constexpr std::size_t kLookAhead = 30;
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
    area_ = marlix::computePageArea(m, resx(), resy(), device_.pageData());
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

void PrintEngine::PrintOut(const std::string& fileName) {
    const Orientation settingsOrientation =
        settings.landscape ? Orientation::Landscape : Orientation::Portrait;
    device_.setOrientation(settingsOrientation);
    computePageArea();

    LoadedSequences seq;
    bool interpreting = false;
    if (sequences) {
        seq = sequences->LoadSequences();
        interpreting = sequences->activeScheme() != kNoSequences;
    }
    if (seq.table.size() > 256) rangeError();
    const std::vector<Sequence> table = prepare(seq.table);
    std::uint16_t initLeft = fit<std::uint16_t>(seq.initStr.size());

    device_.setTransparentBrush();
    job_ = PrintState{};

    std::array<bool, 256> lead{};
    for (const Sequence& s : table)
        lead[static_cast<std::uint8_t>(s.pattern[0])] = true;

    JobFile file(fileName);
    device_.setTitle(kJobTitle);
    try {
        // What one job's sequences leave behind must not change the next job.
        font_.bold = settings.bold;
        font_.italic = settings.italic;
        font_.underline = settings.underline;
        font_.strikeOut = settings.strikeOut;
        setFontColor(0);
        resetPrintState();
        lineHeight_ = fit<std::uint16_t>(device_.textHeight(u'@'));

        job_.x = area_.left;
        job_.y = area_.top;
        const std::uint64_t size = file.size();
        std::uint32_t bytesLeft = fit<std::uint32_t>(size);
        if (bytesLeft == 0) initLeft = 0;
        std::size_t initPos = 0;
        int lastFrame = 99;

        while (bytesLeft > 0) {
            progress(size, bytesLeft, lastFrame);

            std::uint8_t b;
            const bool fromInit = initLeft > 0;
            if (fromInit) {
                b = static_cast<std::uint8_t>(seq.initStr[initPos++]);
                --initLeft;
            } else {
                b = file.next();
                --bytesLeft;
            }
            std::uint16_t w = codePage[b].code;

            if (interpreting && lead[b]) {
                // The window looks into the initialisation string while it has
                // bytes left, else into the job file: a sequence may cross from
                // one into the other only at the string's last byte.
                const bool initTail = fromInit && initLeft > 0;
                const std::string_view tail =
                    initTail ? std::string_view(seq.initStr).substr(initPos, kLookAhead)
                             : file.peek(kLookAhead);
                std::array<char, 1 + kLookAhead> window;
                window[0] = static_cast<char>(b);
                tail.copy(window.data() + 1, tail.size());
                if (const std::size_t taken =
                        interpret(std::string_view(window.data(), 1 + tail.size()), table)) {
                    w = 0;
                    if (initTail) {
                        initPos += taken - 1;
                        initLeft = static_cast<std::uint16_t>(initLeft - (taken - 1));
                    } else {
                        file.skip(taken - 1);
                        bytesLeft -= static_cast<std::uint32_t>(taken - 1);
                    }
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
                if (b < 32) w = u' '; // TAB, VT, a lone ESC ...: one blank cell
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

            if (std::int64_t{job_.y} > std::int64_t{area_.bottom} - 2 * std::int64_t{charHeight_}) {
                job_.y = area_.top;
                job_.pageStarted = false;
            }

            if (device_.aborted()) {
                bytesLeft = 0;
                device_.abortDoc();
            }
        }
    } catch (...) {
        // Leave nothing open: the next job must not find a document in progress.
        file.close();
        if (device_.printing()) device_.abortDoc();
        throw;
    }

    file.close();
    if (UpdateProgress) UpdateProgress(kProgressDone);
    if (device_.printing()) device_.endDoc();
    device_.setOrientation(settingsOrientation);
    computePageArea();
}

} // namespace marlix
