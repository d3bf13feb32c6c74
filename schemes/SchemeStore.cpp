#include "schemes/SchemeStore.h"

#include "core/Errors.h"
#include "schemes/AnsiText.h"
#include "schemes/Commands.h"
#include "schemes/SequenceNotation.h"

#include <algorithm>

namespace marlix {

std::string SchemeStore::readNotation(const RegistryKey& key, std::string_view name) {
    if (!key.hasValue(name)) return {};
    auto text = key.readString(name);
    if (!text) throw Error(formatMessage("Invalid data type for '%s'", name));
    return toAnsi(*text);
}

std::string SchemeStore::schemeKey(std::string_view scheme) {
    return std::string(kSequencesKey) + "\\" + std::string(scheme);
}

void SchemeStore::CheckSequencesRegistry() {
    auto root = registry_.openKey(kSettingsKey, true);
    if (auto stored = root->readString(kSequenceValue)) {
        active_ = *stored;
    } else {
        active_ = "Default";
        root->writeString(kSequenceValue, active_);
        root->flush();
    }
    if (!registry_.keyExists(schemeKey(active_))) active_ = "Default";

    for (std::size_t s = 0; s < kDefaultSchemes.size(); ++s) {
        auto key = registry_.openKey(schemeKey(kDefaultSchemes[s]), true);
        for (const CommandInfo& c : kCommands)
            if (!key->hasValue(c.name)) key->writeString(c.name, c.defaults[s]);
        key->flush();
    }
}

namespace {
// Letter case aside, as the editor's list matches names: ASCII letters only,
// the store's names being the user's and the defaults' words.
bool sameName(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}
} // namespace

std::string SchemeStore::resolve(const std::string& name) {
    for (const char* builtIn : {kNoSequences, kEscP2Scheme})
        if (sameName(name, builtIn)) return builtIn;
    for (const std::string& scheme : names_)
        if (sameName(name, scheme)) return scheme;
    // The defaults are there even when the store could not be written.
    for (std::string_view scheme : kDefaultSchemes)
        if (sameName(name, scheme)) return std::string(scheme);
    // Said once for each name, not at every job.
    if (name != unknown_) {
        unknown_ = name;
        if (onNotice)
            onNotice("There is no scheme '" + name + "'; jobs print with the scheme Default");
    }
    return "Default";
}

LoadedSequences SchemeStore::LoadSequences() {
    names_.clear();
    if (auto sequences = registry_.openKey(kSequencesKey, false)) names_ = sequences->subkeyNames();

    if (forced_) {
        active_ = *forced_;
    } else {
        auto root = registry_.openKey(kSettingsKey, true);
        if (auto stored = root->readString(kSequenceValue)) active_ = *stored;
    }
    active_ = resolve(active_);

    LoadedSequences loaded;
    auto scheme = registry_.openKey(schemeKey(active_), false);
    if (!scheme) {
        // A default scheme the store could not keep is printed as it comes.
        const auto builtIn = std::find(kDefaultSchemes.begin(), kDefaultSchemes.end(), active_);
        if (builtIn != kDefaultSchemes.end())
            for (const CommandInfo& c : kCommands)
                for (std::string& piece : splitAlternatives(TextToSeq(toAnsi(
                         std::string(c.defaults[std::size_t(builtIn - kDefaultSchemes.begin())])))))
                    loaded.table.push_back({std::move(piece), std::string(c.name)});
        loaded.initStr = TextToSeq(choice_);
        initStr_ = loaded.initStr;
        return loaded;
    }
    // A value that fails says which scheme and value it is.
    auto bytesOf = [&](std::string_view value) {
        try {
            return TextToSeq(readNotation(*scheme, value));
        } catch (const Error& e) {
            throw Error(withReason(e.what(), "in the scheme '" + active_ + "', value '" +
                                                 std::string(value) + "'"));
        }
    };
    for (const CommandInfo& c : kCommands) {
        const std::string bytes = bytesOf(c.name);
        for (std::string& piece : splitAlternatives(bytes))
            loaded.table.push_back({std::move(piece), std::string(c.name)});
    }
    loaded.initStr = bytesOf(kInitStrValue);
    loaded.initStr += TextToSeq(choice_);
    initStr_ = loaded.initStr;
    return loaded;
}

std::vector<std::string> SchemeStore::initStrNames() const {
    auto key = registry_.openKey(kInitStrKey, false);
    if (!key) return {};
    std::vector<std::string> names = key->valueNames();
    if (names.size() > kMaxInitStrings) names.resize(kMaxInitStrings);
    return names;
}

void SchemeStore::SelInit(std::string_view caption) {
    std::string name(caption);
    if (const auto amp = name.find('&'); amp != std::string::npos) name.erase(amp, 1);
    std::string value;
    if (auto key = registry_.openKey(kInitStrKey, false); key && !name.empty())
        value = key->readString(name).value_or(std::string());
    std::string notation = toAnsi(value);
    // A value too long to convert fails now, where the user chose it, not at
    // every later job.
    initStr_ = TextToSeq(notation);
    choice_ = std::move(notation);
}

} // namespace marlix
