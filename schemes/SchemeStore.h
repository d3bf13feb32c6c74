// Sequence schemes in the settings store: the default schemes, the active
// scheme, and the runtime sequence table a job matches against.
#pragma once

#include "core/Registry.h"
#include "schemes/SeqDef.h"

#include <string>
#include <vector>

namespace marlix {

inline constexpr std::string_view kSequencesKey = "\\SOFTWARE\\Obre\\Marlix\\Sequences";
inline constexpr std::string_view kSequenceValue = "Sequence";
inline constexpr std::string_view kInitStrValue = "InitStr";

class SchemeStore final : public SequenceSource {
public:
    explicit SchemeStore(Registry& registry) : registry_(registry) {}

    // Makes sure the three default schemes hold every command; never
    // overwrites what is there. Sets the active scheme name.
    void CheckSequencesRegistry();

    // The active scheme as a runtime table and initialisation string; also
    // refreshes the scheme names and the active scheme name.
    LoadedSequences LoadSequences() override;

    std::string activeScheme() const override { return active_; }
    const std::vector<std::string>& schemeNames() const { return names_; }

    static std::string schemeKey(std::string_view scheme);

private:
    Registry& registry_;
    std::string active_ = "Default";
    std::vector<std::string> names_;
};

} // namespace marlix
