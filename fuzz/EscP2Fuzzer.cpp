// Fuzzes the Epson emulation alone. The first byte chooses the paper and
// layout settings, the second how many of the bytes after it form the
// scheme's initialisation string; the rest is the job. So every command,
// mode byte and length is reached from a job's start, after any state a
// prefix set up, and across the seam between the string and the file.
// Expected failures are the program's own errors; anything else, a crash,
// undefined behaviour or a misused printer is a finding.
#include "../tests/support/MemoryRegistry.h"
#include "StrictPrinter.h"
#include "core/Errors.h"
#include "engine/PrintEngine.h"
#include "schemes/SchemeStore.h"
#include "schemes/SequenceNotation.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

using namespace marlix;

namespace {

// Left, right, top and bottom margins in millimetres: none, the usual, a
// narrow column, and a strip that leaves a few lines only.
constexpr std::array<std::array<std::int32_t, 4>, 4> kMargins = {{
    {0, 0, 0, 0},
    {10, 10, 10, 10},
    {90, 90, 5, 5},
    {5, 5, 90, 90},
}};

// As notation a byte takes at most five characters ("[#27]"), so a prefix
// this long always fits.
constexpr std::size_t kLongestPrefix = kMaxNotationLength / 5;

std::string notation(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b < 32 || c == '[')
            text += "[#" + std::to_string(b) + "]";
        else
            text += c;
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t layout = data[0];
    const std::size_t prefix = std::min<std::size_t>(data[1] % (kLongestPrefix + 1), size - 2);
    const std::string init(reinterpret_cast<const char*>(data + 2), prefix);
    const std::size_t job = 2 + prefix;

    static const std::string path = "/tmp/marlix-escp2-fuzz-" + std::to_string(::getpid()) + ".prn";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + job), std::streamsize(size - job));

    test::MemoryRegistry registry;
    SchemeStore schemes(registry);
    schemes.CheckSequencesRegistry();
    registry.openKey(kSettingsKey, true)->writeString("Sequence", kEscP2Scheme);
    registry.openKey(SchemeStore::schemeKey(kEscP2Scheme), true)
        ->writeString(kInitStrValue, notation(init));

    fuzz::StrictPrinter printer;
    PrintEngine engine(printer);
    engine.sequences = &schemes;
    engine.codePageFile = [](const std::string& name) {
        return std::string(MARLIX_SOURCE_DATA "/") + name + ".cp";
    };
    engine.settings.lineWrap = (layout & 1) != 0;
    engine.settings.pageFeed = (layout & 2) != 0;
    engine.settings.landscape = (layout & 4) != 0;
    engine.settings.defaultFont = (layout & 8) != 0;
    const auto& margins = kMargins[layout >> 4 & 3];
    engine.settings.leftMargin = margins[0];
    engine.settings.rightMargin = margins[1];
    engine.settings.topMargin = margins[2];
    engine.settings.bottomMargin = margins[3];
    engine.settings.cpi = (layout & 64) != 0 ? 17 : 10;
    engine.settings.lpi = (layout & 128) != 0 ? 8 : 6;
    try {
        engine.PrintOut(path);
    } catch (const Error&) {
    }
    if (printer.printing()) throw std::logic_error("a document was left open");
    return 0;
}
