// Fuzzes whole jobs through the engine with one of the default schemes, no
// sequences or the Epson emulation (the first input byte chooses) on a printer that checks how it
// is used. Expected failures are the program's own errors (range checks, overflow); anything else,
// a crash or undefined behaviour is a finding.
#include "../tests/support/MemoryRegistry.h"
#include "StrictPrinter.h"
#include "core/Errors.h"
#include "engine/PrintEngine.h"
#include "schemes/SchemeStore.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <unistd.h>

using namespace marlix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const std::string path = "/tmp/marlix-fuzz-" + std::to_string(::getpid()) + ".prn";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));

    test::MemoryRegistry registry;
    SchemeStore schemes(registry);
    schemes.CheckSequencesRegistry();
    const char* names[] = {"Default", "Epson Matrix", "HP PCL", kNoSequences, kEscP2Scheme};
    registry.openKey(kSettingsKey, true)
        ->writeString("Sequence", names[data[0] % std::size(names)]);

    fuzz::StrictPrinter printer;
    PrintEngine engine(printer);
    engine.sequences = &schemes;
    engine.codePageFile = [](const std::string& name) {
        return std::string(MARLIX_SOURCE_DATA "/") + name + ".cp";
    };
    engine.codePage[0xB3] = {179, kBoxDrawingSet};
    engine.codePage[0xCE] = {206, kBoxDrawingSet};
    engine.settings.defaultFont = (data[0] & 4) != 0;
    engine.settings.lineWrap = (data[0] & 8) != 0;
    engine.settings.landscape = (data[0] & 16) != 0;
    try {
        engine.PrintOut(path);
    } catch (const Error&) {
    }
    if (printer.printing()) throw std::logic_error("a document was left open");
    return 0;
}
