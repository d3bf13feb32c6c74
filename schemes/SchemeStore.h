// Sequence schemes in the settings store: the default schemes, the active
// scheme, and the runtime sequence table a job matches against.
#pragma once

#include "core/Registry.h"
#include "schemes/SeqDef.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace marlix {

inline constexpr std::string_view kSequencesKey = "\\SOFTWARE\\Obre\\Marlix\\Sequences";
inline constexpr std::string_view kSequenceValue = "Sequence";
inline constexpr std::string_view kInitStrValue = "InitStr";
// The named initialisation strings the tray menu offers.
inline constexpr std::string_view kInitStrKey = "\\SOFTWARE\\Obre\\Marlix\\InitStr";
inline constexpr std::size_t kMaxInitStrings = 256;

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
    // Told once of a stored or forced scheme name that names no scheme.
    std::function<void(const std::string& text)> onNotice;
    // This run uses that scheme whatever the store says; nothing is saved.
    void forceScheme(std::string name) { forced_ = std::move(name); }
    const std::vector<std::string>& schemeNames() const { return names_; }

    static std::string schemeKey(std::string_view scheme);
    // A scheme's value as notation, "" when absent; a value that is there but
    // is no text fails with "Invalid data type for '<name>'".
    static std::string readNotation(const RegistryKey& key, std::string_view name);

    // The initialisation string of the last job, or what the scheme editor
    // set since (bytes).
    const std::string& initStr() const { return initStr_; }
    void setInitStr(std::string bytes) { initStr_ = std::move(bytes); }

    // The names of the named initialisation strings, in the store's order
    // and at most 256; none without the key.
    std::vector<std::string> initStrNames() const;
    // A menu item was chosen: its caption without the first "&" names the
    // value, read as stored (a name that is gone reads as empty). The text
    // is sequence notation; every later job sends it after the scheme's own
    // initialisation string, so a choice outlasts the job's reload of the
    // scheme. An empty caption clears the choice; a value too long for the
    // notation fails with "Range check error" and keeps the choice before.
    void SelInit(std::string_view caption);
    const std::string& initChoice() const { return choice_; }

private:
    // The scheme a name stands for, letter case aside; "Default" for none.
    std::string resolve(const std::string& name);

    Registry& registry_;
    std::string active_ = "Default";
    std::vector<std::string> names_;
    std::string initStr_;
    std::string choice_; // notation of the chosen named string
    std::optional<std::string> forced_;
    std::string unknown_; // the last name told of that names no scheme
};

} // namespace marlix
