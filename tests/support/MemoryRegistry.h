// A settings store in memory, for tests of code above the store. Values are
// text or integers; asking for the other type reads as absent.
#pragma once

#include "core/Registry.h"

#include <map>
#include <memory>
#include <string>
#include <variant>

namespace marlix::test {

class MemoryRegistry : public Registry {
public:
    using Value = std::variant<std::string, std::int32_t>;
    using Values = std::map<std::string, Value>;
    std::map<std::string, Values> keys; // full path -> values

    std::unique_ptr<RegistryKey> openKey(std::string_view path, bool create) override {
        if (!create && !keyExists(path)) return nullptr;
        return std::make_unique<Key>(*this, std::string(path));
    }
    bool keyExists(std::string_view path) const override {
        const std::string prefix = std::string(path) + "\\";
        for (const auto& [p, v] : keys)
            if (p == path || p.rfind(prefix, 0) == 0) return true;
        return false;
    }
    void deleteKey(std::string_view path) override {
        const std::string prefix = std::string(path) + "\\";
        std::erase_if(keys, [&](const auto& kv) {
            return kv.first == path || kv.first.rfind(prefix, 0) == 0;
        });
    }

private:
    class Key : public RegistryKey {
    public:
        Key(MemoryRegistry& r, std::string path) : r_(r), path_(std::move(path)) { r_.keys[path_]; }
        bool hasValue(std::string_view name) const override {
            return values().count(std::string(name)) > 0;
        }
        std::optional<std::string> readString(std::string_view name) const override {
            auto it = values().find(std::string(name));
            if (it == values().end() || !std::holds_alternative<std::string>(it->second))
                return std::nullopt;
            return std::get<std::string>(it->second);
        }
        std::optional<std::int32_t> readInteger(std::string_view name) const override {
            auto it = values().find(std::string(name));
            if (it == values().end() || !std::holds_alternative<std::int32_t>(it->second))
                return std::nullopt;
            return std::get<std::int32_t>(it->second);
        }
        void writeString(std::string_view name, std::string_view value) override {
            r_.keys[path_][std::string(name)] = std::string(value);
        }
        void writeInteger(std::string_view name, std::int32_t value) override {
            r_.keys[path_][std::string(name)] = value;
        }
        void flush() override {}
        std::vector<std::string> valueNames() const override {
            std::vector<std::string> out;
            for (const auto& [n, v] : values())
                out.push_back(n);
            return out;
        }
        std::vector<std::string> subkeyNames() const override {
            std::vector<std::string> out;
            const std::string prefix = path_ + "\\";
            for (const auto& [p, v] : r_.keys)
                if (p.rfind(prefix, 0) == 0) {
                    std::string child = p.substr(prefix.size());
                    child = child.substr(0, child.find('\\'));
                    if (out.empty() || out.back() != child) out.push_back(child);
                }
            return out;
        }

    private:
        const Values& values() const { return r_.keys[path_]; }
        MemoryRegistry& r_;
        std::string path_;
    };
};

} // namespace marlix::test
