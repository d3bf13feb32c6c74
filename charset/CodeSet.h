// Loading a code page file into the code page table.
//
// A code page file is text of single-byte characters, one "key=value" line
// per byte or byte range; keys are raw bytes of the code page itself:
//   <b>=<code>[#<set>]          byte b prints code (a UTF-16 unit) in font set (1)
//   <b>=+<offset>[#<set>]       byte b prints b + offset
//   <f>..<l>=<code>[#<set>]     bytes f..l print code, code + 1, ...
// Set 0 hands the byte to the box-drawing renderer, set 254 prints nothing.
#pragma once

#include "charset/CodePageTable.h"

#include <string>

namespace marlix {

// On failure the message says why: the table stays unchanged when the file
// can't be read or has no or too many lines; otherwise it keeps the lines
// before the faulty one.
void codeset(CodePageTable& table, const std::string& fileName);

} // namespace marlix
