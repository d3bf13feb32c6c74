// The runtime sequence table: one entry per pattern alternative, in command
// order, rebuilt from the active scheme for every job.
#pragma once

#include <string>
#include <vector>

namespace marlix {

struct SeqDef {
    std::string Pattern; // bytes of one alternative; "0" and "_" may be placeholders
    std::string Command; // value name of the command, e.g. "Bold"
};

using TSeqArray = std::vector<SeqDef>;

// What a job needs from the scheme store at its start.
struct LoadedSequences {
    TSeqArray table;
    std::string initStr; // bytes fed ahead of every non-empty job
};

inline constexpr const char* kNoSequences = "No sequences";
// The built-in Epson emulation, chosen like a scheme; no scheme may take its name.
inline constexpr const char* kEscP2Scheme = "Epson ESC/P2";

class SequenceSource {
public:
    virtual ~SequenceSource() = default;
    virtual std::string activeScheme() const = 0;
    virtual LoadedSequences LoadSequences() = 0;
};

} // namespace marlix
