// The settings store as the program sees it: keys addressed by path
// ("\SOFTWARE\Obre\Marlix\Sequences\Default"), holding text and integer values.
// The platform layer realises it (QSettings); tests may use any store.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marlix {

inline constexpr std::string_view kSettingsKey = "\\SOFTWARE\\Obre\\Marlix";

// One open key. A value of another type than the one asked for reads as absent.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    virtual bool hasValue(std::string_view name) const = 0;
    virtual std::optional<std::string> readString(std::string_view name) const = 0;
    virtual std::optional<std::int32_t> readInteger(std::string_view name) const = 0;
    virtual void writeString(std::string_view name, std::string_view value) = 0;
    virtual void writeInteger(std::string_view name, std::int32_t value) = 0;
    // Makes the writes so far durable; a store that can't keep them fails with
    // "Failed to set data for '%s'" and the name of the last value written.
    virtual void flush() = 0;
    virtual std::vector<std::string> valueNames() const = 0;
    virtual std::vector<std::string> subkeyNames() const = 0;

    // Booleans are integers, and any non-zero integer reads as true.
    std::optional<bool> readBool(std::string_view name) const {
        if (auto v = readInteger(name)) return *v != 0;
        return std::nullopt;
    }
    void writeBool(std::string_view name, bool value) { writeInteger(name, value ? 1 : 0); }
};

class Registry {
public:
    virtual ~Registry() = default;
    // Without create, a key that does not exist gives nullptr.
    virtual std::unique_ptr<RegistryKey> openKey(std::string_view path, bool create) = 0;
    virtual bool keyExists(std::string_view path) const = 0;
    // Deletes the key with all its values and subkeys.
    virtual void deleteKey(std::string_view path) = 0;
    // Why the store could not be read, in plain words: then every value
    // reads as absent (the defaults hold) and nothing is written to it.
    // Empty for a store that could be read.
    virtual std::string problem() const { return {}; }
};

} // namespace marlix
