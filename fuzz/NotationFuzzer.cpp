// Fuzzes schemes as users write them: pattern texts in sequence notation go
// into a scheme of the store, which then prints the rest of the input as a
// job. Every text must survive notation's round trip where that holds, the
// store must hand the engine exactly the patterns a reader of the stored
// values finds, and the job must fail only with the program's own errors.
//
// The input: one byte of flags, then lines "Name=notation" up to the first
// empty line, then the job. "#Name=123" stores an integer where a text
// belongs; "@Name=notation" is a named initialisation string, chosen as the
// tray menu does.
#include "../tests/support/MemoryRegistry.h"
#include "StrictPrinter.h"
#include "core/Errors.h"
#include "engine/PrintEngine.h"
#include "schemes/AnsiText.h"
#include "schemes/Commands.h"
#include "schemes/SchemeStore.h"
#include "schemes/SequenceNotation.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <variant>

using namespace marlix;

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// Bits of the first byte.
enum Flag : std::uint8_t {
    kDefaultFont = 4,
    kLineWrap = 8,
    kLandscape = 16,
    kRawBytes = 32,  // the store holds the text's bytes as they are, not as Windows-1251
    kOtherCase = 64, // the settings name the scheme in capitals
    kPageFeed = 128,
};

// Schemes the first byte's low bits choose; the last is one of the user's
// own, holding only what the input gives it.
constexpr const char* kSchemes[] = {"Default", "Epson Matrix", "HP PCL", "Fuzzed"};

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

// Where the notation promises a way back: pattern bytes written out read in
// as the same bytes, unless they hold "[#" themselves (which then opens an
// escape) or their notation grows past the longest text.
void roundTrip(std::string_view text) {
    std::string seq;
    try {
        seq = TextToSeq(text);
    } catch (const Error&) {
        check(text.size() > kMaxNotationLength);
        return;
    }
    check(text.size() <= kMaxNotationLength);
    // Nothing grows: every escape stands for one byte and takes at least four characters.
    check(seq.size() <= text.size());
    const std::string written = SeqToText(seq);
    for (const char c : written)
        check(static_cast<unsigned char>(c) >= 32);
    if (seq.find("[#") == std::string::npos && written.size() <= kMaxNotationLength)
        check(TextToSeq(written) == seq);
    for (const std::string& piece : splitAlternatives(seq))
        check(!piece.empty() && piece.find("||") == std::string::npos);
    // Notation is Windows-1251 in the store: every byte has its character.
    check(toAnsi(fromAnsi(text)) == text);
}

// The scheme as a reader of the store finds it, worked out apart from the
// store's own reading: the runtime table, or the error the first bad value
// raises.
struct Expected {
    TSeqArray table;
    std::string initStr;
    std::optional<std::string> error;
};

Expected expect(const test::MemoryRegistry::Values& values, const std::string& scheme,
                const std::string& choice) {
    Expected e;
    auto notation = [&](std::string_view name) -> std::optional<std::string> {
        // The message names the scheme and the value after its own text.
        const std::string where =
            "in the scheme '" + scheme + "', value '" + std::string(name) + "'";
        const auto it = values.find(std::string(name));
        if (it == values.end()) return std::string();
        if (!std::holds_alternative<std::string>(it->second)) {
            e.error = withReason("Invalid data type for '" + std::string(name) + "'", where);
            return std::nullopt;
        }
        const std::string text = toAnsi(std::get<std::string>(it->second));
        if (text.size() > kMaxNotationLength) {
            e.error = withReason(std::string(kRangeCheckError), where);
            return std::nullopt;
        }
        return text;
    };
    for (const CommandInfo& c : kCommands) {
        const auto text = notation(c.name);
        if (!text) return e;
        // Alternatives by hand: the pieces between "||", empty ones left out.
        const std::string bytes = TextToSeq(*text);
        std::size_t start = 0;
        for (;;) {
            const std::size_t bar = bytes.find("||", start);
            const std::size_t end = bar == std::string::npos ? bytes.size() : bar;
            if (end > start)
                e.table.push_back({bytes.substr(start, end - start), std::string(c.name)});
            if (bar == std::string::npos) break;
            start = bar + 2;
        }
    }
    const auto init = notation(kInitStrValue);
    if (!init) return e;
    e.initStr = TextToSeq(*init) + TextToSeq(choice);
    return e;
}

struct JobPath {
    std::string path = "/tmp/marlix-notation-fuzz-" + std::to_string(::getpid()) + ".prn";
    ~JobPath() { std::remove(path.c_str()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string scheme = kSchemes[flags & 3];

    test::MemoryRegistry registry;
    SchemeStore schemes(registry);
    registry.openKey(kSettingsKey, true)
        ->writeString(kSequenceValue, (flags & kOtherCase) ? upper(scheme) : scheme);
    auto key = registry.openKey(SchemeStore::schemeKey(scheme), true);
    auto named = registry.openKey(kInitStrKey, true);
    std::optional<std::string> chosen; // the last named string the input chose

    // The scheme's lines, up to the first empty one.
    while (!rest.empty()) {
        const std::size_t eol = rest.find('\n');
        const std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(eol == std::string_view::npos ? rest.size() : eol + 1);
        if (line.empty()) break;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || eq == 0) continue;
        std::string_view name = line.substr(0, eq);
        const std::string_view text = line.substr(eq + 1);
        roundTrip(text);
        const std::string stored = (flags & kRawBytes) ? std::string(text) : fromAnsi(text);
        if (name[0] == '#') {
            name.remove_prefix(1);
            std::int32_t value = 0;
            std::from_chars(text.data(), text.data() + text.size(), value);
            key->writeInteger(name, value);
        } else if (name[0] == '@') {
            name.remove_prefix(1);
            named->writeString(name, stored);
            chosen = std::string(name);
        } else {
            key->writeString(name, stored);
        }
    }
    schemes.CheckSequencesRegistry();

    // The menu's choice: a text too long fails where it is chosen and keeps
    // the choice before it (none here).
    std::string choice;
    if (chosen && chosen->empty()) {
        schemes.SelInit("&"); // a caption of nothing clears the choice
        check(schemes.initChoice().empty());
    } else if (chosen) {
        const std::string value = toAnsi(*named->readString(*chosen));
        try {
            schemes.SelInit("&" + *chosen);
            check(value.size() <= kMaxNotationLength);
            check(schemes.initChoice() == value);
            choice = value;
        } catch (const Error& e) {
            check(value.size() > kMaxNotationLength && e.what() == kRangeCheckError);
            check(schemes.initChoice().empty());
        }
    }

    const Expected expected = expect(registry.keys[SchemeStore::schemeKey(scheme)], scheme, choice);
    try {
        const LoadedSequences loaded = schemes.LoadSequences();
        check(!expected.error);
        check(schemes.activeScheme() == scheme);
        check(loaded.initStr == expected.initStr);
        check(loaded.table.size() == expected.table.size());
        for (std::size_t i = 0; i < loaded.table.size(); ++i)
            check(loaded.table[i].Pattern == expected.table[i].Pattern &&
                  loaded.table[i].Command == expected.table[i].Command);
    } catch (const Error& e) {
        check(expected.error && e.what() == *expected.error);
    }

    static const JobPath job;
    std::ofstream(job.path, std::ios::binary | std::ios::trunc)
        .write(rest.data(), std::streamsize(rest.size()));
    fuzz::StrictPrinter printer;
    PrintEngine engine(printer);
    engine.sequences = &schemes;
    engine.codePage[0xB3] = {179, kBoxDrawingSet};
    engine.codePage[0xCE] = {206, kBoxDrawingSet};
    engine.settings.defaultFont = (flags & kDefaultFont) != 0;
    engine.settings.lineWrap = (flags & kLineWrap) != 0;
    engine.settings.landscape = (flags & kLandscape) != 0;
    engine.settings.pageFeed = (flags & kPageFeed) != 0;
    try {
        engine.PrintOut(job.path);
    } catch (const Error&) {
    }
    if (printer.printing()) throw std::logic_error("a document was left open");
    return 0;
}
