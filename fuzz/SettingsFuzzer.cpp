// Fuzzes the settings table's reading and writing over a store filled from
// the input: values of every name in the table and of others, as integers
// or as texts of any bytes, the way a settings file edited by hand or by
// another version may hold them. What is read must lie in the table's
// ranges; written back and read again it must be the same settings; and a
// write after hand edits must keep the edits to values the program did not
// change. Reading may fail only with the program's own errors; anything
// else is a finding.
//
// The input: one byte for the printer, then stored values up to a 0xFF,
// then hand edits of the store and changes the program makes before it
// writes.
#include "../tests/support/MemoryRegistry.h"
#include "FuzzInput.h"
#include "app/Settings.h"
#include "core/Errors.h"
#include "engine/PrintEngine.h"

#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

using namespace marlix;
using fuzz::Input;

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// A printer whose resolution and unprintable border come from the input:
// the first start's margins and the font's pitch are measured on it.
class Panel final : public PrinterDevice {
public:
    Panel(int resolution, std::int32_t border) : res_(resolution), border_(border) {}
    void setTitle(const std::string&) override {}
    void beginDoc() override { __builtin_trap(); } // reading settings prints nothing
    void newPage() override {}
    void endDoc() override {}
    void abortDoc() override {}
    bool printing() const override { return false; }
    bool aborted() const override { return false; }
    Orientation orientation() const override { return Orientation::Portrait; }
    void setOrientation(Orientation) override {}
    int resolutionX() const override { return res_; }
    int resolutionY() const override { return res_; }
    PageData pageData() const override { return {res_ * 8, res_ * 11, border_, border_ / 2}; }
    void setFont(const LogicalFont& f) override { font_ = f; }
    void setFontColor(std::uint32_t) override {}
    void setTransparentBrush() override {}
    int textWidth(char16_t) override { return font_.width > 0 ? font_.width : int(0.6 * em()); }
    int textHeight(char16_t) override { return font_.height > 0 ? font_.height : int(1.2 * em()); }
    void drawChar(int, int, char16_t) override { __builtin_trap(); }
    void drawDotImage(int, int, int, int, const DotImage&, std::uint32_t) override {
        __builtin_trap();
    }
    void setPenWidth(int) override {}
    void moveTo(int, int) override {}
    void lineTo(int, int) override {}
    void fillRect(int, int, int, int, std::uint32_t) override {}

private:
    double em() const { return font_.height < 0 ? -double(font_.height) : 83.0; }
    int res_;
    std::int32_t border_;
    LogicalFont font_;
};

constexpr std::array<int, 5> kResolutions = {600, 72, 203, 360, 1200};
constexpr std::array<std::int32_t, 5> kBorders = {0, 1, 100, 4000, 1 << 20};

// Numbers at the table's edges and at those of the types around it.
constexpr std::array<std::int32_t, 16> kEdges = {
    0, 1, -1, 10, 11, 15, 16, 25, 26, 255, 256, 9100, 65535, 65536, INT32_MIN, INT32_MAX,
};

using Values = test::MemoryRegistry::Values;

std::string nameOf(Input& in, std::uint8_t selector) {
    if (selector < 0xE0) return std::string(kSettings[selector % kSettings.size()].name);
    // One of another version, or a table name in other letters.
    if (selector & 1) {
        std::string name(kSettings[in.byte() % kSettings.size()].name);
        for (char& c : name)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        return name;
    }
    return in.bytes(in.byte() % 16);
}

// One value into the store, as a file edited by hand may hold it.
void store(Input& in, RegistryKey& key) {
    const std::string name = nameOf(in, in.byte());
    const std::uint8_t kind = in.byte();
    if ((kind & 1) == 0) {
        key.writeInteger(name, (kind & 2) ? kEdges[(kind >> 2) % kEdges.size()] : in.number());
        return;
    }
    static const std::array<std::string, 4> kTexts = {"", "dummy", "Courier New", "\xFF\xFE"};
    key.writeString(name, (kind & 2) ? kTexts[(kind >> 2) % kTexts.size()] : in.bytes(in.byte()));
}

SettingValue valueOf(const Settings& s, const SettingInfo& info) {
    return std::visit([&](auto field) { return SettingValue(s.*field); }, info.field);
}

// A change the program makes, kept within what its controls allow: a
// number in the table's range, a text that is not empty and is no
// placeholder. The values it never writes it never changes either.
void change(Input& in, Settings& s) {
    const SettingInfo& info = kSettings[in.byte() % kSettings.size()];
    if (!info.saved) return;
    std::visit(
        [&](auto field) {
            using T = std::remove_reference_t<decltype(s.*field)>;
            if constexpr (std::is_same_v<T, bool>) {
                s.*field = in.byte() & 1;
            } else if constexpr (std::is_same_v<T, std::int32_t>) {
                s.*field = std::clamp(in.number(), info.lowest, info.highest);
            } else {
                std::string text = in.bytes(1 + in.byte() % 32);
                if (!text.empty() && text != info.placeholder) s.*field = std::move(text);
            }
        },
        info.field);
}

// Every value the table knows, in range and usable.
void usable(const Settings& s) {
    for (const SettingInfo& info : kSettings) {
        const SettingValue v = valueOf(s, info);
        if (const auto* n = std::get_if<std::int32_t>(&v))
            check(*n >= info.lowest && *n <= info.highest);
        if (const auto* text = std::get_if<std::string>(&v))
            check(info.name == "Printer" || info.name == "PdfFolder" ||
                  (!text->empty() && *text != info.placeholder));
    }
    try {
        check(capturePort(s) == s.capturePort);
    } catch (const Error&) {
        check(s.capturePort < 0 || s.capturePort > 65535);
    }
}

bool sameSaved(const Settings& a, const Settings& b) {
    for (const SettingInfo& info : kSettings)
        if (info.saved && !(valueOf(a, info) == valueOf(b, info))) return false;
    return true;
}

bool same(const Settings& a, const Settings& b) {
    for (const SettingInfo& info : kSettings)
        if (!(valueOf(a, info) == valueOf(b, info))) return false;
    return true;
}

// The store's values as the table types them, as a write would put them.
std::optional<SettingValue> storedAs(const Values& values, const SettingInfo& info) {
    const auto it = values.find(std::string(info.name));
    if (it == values.end()) return std::nullopt;
    return std::visit(
        [&](auto field) -> std::optional<SettingValue> {
            using T = std::remove_reference_t<decltype(std::declval<Settings>().*field)>;
            if constexpr (std::is_same_v<T, std::string>) {
                if (const auto* s = std::get_if<std::string>(&it->second)) return *s;
            } else if (const auto* n = std::get_if<std::int32_t>(&it->second)) {
                if constexpr (std::is_same_v<T, bool>) return *n != 0;
                return *n;
            }
            return std::nullopt;
        },
        info.field);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t device = in.byte();
    Panel printer(kResolutions[device % kResolutions.size()],
                  kBorders[(device >> 3) % kBorders.size()]);
    PrintEngine engine(printer);

    test::MemoryRegistry registry;
    auto key = registry.openKey(kSettingsKey, true);
    while (!in.empty() && in.byte() != 0xFF)
        store(in, *key);

    Settings first, read;
    StoredValues stored;
    try {
        first = firstStartSettings(engine);
        read = readSettings(key.get(), engine, &stored);
    } catch (const Error&) {
        // The printer's border is more than any margin can say.
        return 0;
    }
    usable(first);
    usable(read);

    // Into an empty store and back: the same settings, but for the values
    // never written, which are then a first start's.
    {
        test::MemoryRegistry fresh;
        auto copy = fresh.openKey(kSettingsKey, true);
        writeSettings(*copy, read);
        const Settings back = readSettings(copy.get(), engine);
        check(sameSaved(back, read));
        check(back.pdfFolder == first.pdfFolder && back.capturePort == first.capturePort);
        const auto before = fresh.keys;
        writeSettings(*copy, back);
        check(fresh.keys == before);
    }

    // Back into the store it came from, unchanged: the same settings, and
    // what was stored reads as it was written.
    {
        test::MemoryRegistry again = registry;
        auto copy = again.openKey(kSettingsKey, true);
        StoredValues written = stored;
        writeSettings(*copy, read, &written);
        StoredValues reread;
        check(same(readSettings(copy.get(), engine, &reread), read));
        check(reread == written);
        const auto before = again.keys;
        writeSettings(*copy, read, &written);
        check(again.keys == before);
    }

    // Hand edits meanwhile, and the program's own changes: what the
    // program changed, or the store lacked, is written; every other value
    // stays as the hand left it.
    Settings changed = read;
    while (!in.empty()) {
        if (in.byte() & 1)
            change(in, changed);
        else
            store(in, *key);
    }
    const Values edited = registry.keys[std::string(kSettingsKey)];
    const StoredValues then = stored;
    writeSettings(*key, changed, &stored);
    const Values& now = registry.keys[std::string(kSettingsKey)];
    const Settings after = readSettings(key.get(), engine);
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        const SettingInfo& info = kSettings[i];
        const std::string name(info.name);
        const SettingValue mine = valueOf(changed, info);
        const bool written = info.saved && (!(then[i] == mine) || !edited.count(name));
        if (written) {
            check(storedAs(now, info) == mine);
            check(stored[i] == mine);
            check(valueOf(after, info) == mine);
        } else {
            check(now.count(name) == edited.count(name));
            if (edited.count(name)) check(now.at(name) == edited.at(name));
            check(stored[i] == then[i]);
        }
    }
    // Names the table does not know are left alone.
    for (const auto& [name, value] : edited)
        check(now.count(name) == 1);
    usable(after);
    return 0;
}
