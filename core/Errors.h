// Errors carry the program's own message text; the GUI shows it once, at the top.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace marlix {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reading the job or writing its output failed (a folder, a full disk, a
// printer): the job itself is sound and stays whole for another try.
class IoError : public Error {
public:
    using Error::Error;
};

// The job's own bytes raised the error while it printed. The pages it had
// reached are printed; printing the same bytes again would fail again.
class JobError : public Error {
public:
    using Error::Error;
};

// A print that was stopped on purpose: cancelled by the user, or given up
// because the program ends. Nothing of it is left on paper or disk.
class PrintStopped : public Error {
public:
    using Error::Error;
};

inline constexpr std::string_view kRangeCheckError = "Range check error";
inline constexpr std::string_view kIntegerOverflow = "Integer overflow";
inline constexpr std::string_view kCannotOpenFile = "Cannot open file %s";
inline constexpr std::string_view kPrintingInProgress = "Printing in progress";

[[noreturn]] inline void rangeError() {
    throw Error(std::string(kRangeCheckError));
}
[[noreturn]] inline void overflowError() {
    throw Error(std::string(kIntegerOverflow));
}

// The program's own text first, then why, on a line of its own: a message
// box shows the two lines, a log or a terminal joins them with ": ".
inline std::string withReason(std::string text, std::string_view reason) {
    if (!reason.empty()) {
        text += '\n';
        text.append(reason);
    }
    return text;
}

// The same message for a log or a terminal: its lines joined by ": ".
inline std::string oneLine(std::string text) {
    for (std::size_t at; (at = text.find('\n')) != std::string::npos;)
        text.replace(at, 1, ": ");
    return text;
}

// Input echoed in a message: at most 80 characters, and what is no printable
// ASCII as \xNN, so that a broken file's line cannot flood a log or a box
// with its bytes.
inline std::string quoted(std::string_view input) {
    constexpr std::size_t kMost = 80;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    std::size_t shown = 0;
    for (const char c : input) {
        if (shown == kMost) {
            out += "...";
            break;
        }
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
        ++shown;
    }
    return out;
}

// Messages keep the "%s" placeholder of their texts so that translated
// texts from language files can be used the same way.
inline std::string formatMessage(std::string_view text, std::string_view arg) {
    const auto at = text.find("%s");
    if (at == std::string_view::npos) return std::string(text);
    std::string out(text.substr(0, at));
    out.append(arg);
    out.append(text.substr(at + 2));
    return out;
}

} // namespace marlix
