// Fuzzes code page files and sequence notation: the loader and TextToSeq
// must fail only with the program's own errors.
#include "charset/CodeSet.h"
#include "core/Errors.h"
#include "schemes/SequenceNotation.h"

#include <fstream>
#include <string>
#include <unistd.h>

using namespace marlix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    static const std::string path = "/tmp/marlix-fuzz-" + std::to_string(::getpid()) + ".cp";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    CodePageTable table;
    try {
        codeset(table, path);
    } catch (const Error&) {
    }
    try {
        const std::string seq = TextToSeq(bytes);
        if (TextToSeq(SeqToText(seq)) != seq && seq.find("[#") == std::string::npos)
            __builtin_trap(); // the round trip holds for patterns without "[#"
        splitAlternatives(seq);
    } catch (const Error&) {
    }
    return 0;
}
