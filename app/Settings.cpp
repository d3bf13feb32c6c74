#include "app/Settings.h"

#include "core/Errors.h"
#include "engine/PageGeometry.h"
#include "engine/PrintEngine.h"

#include <QDir>
#include <algorithm>

namespace marlix {

namespace {
using S = Settings;
using Bad = SettingInfo::Bad;
} // namespace

// The names are the store's and never change: files of earlier versions and
// of other platforms hold them.
const std::array<SettingInfo, 29> kSettings{{
    {"TimeOut", &S::timeOut, 1, 10},
    {"AutoPrint", &S::autoPrint},
    {"Spool", &S::spool},
    {"Orientation", &S::landscape},
    {"LineWrap", &S::lineWrap},
    {"PageFeed", &S::pageFeed},
    {"MonoSpace", &S::monoSpace},
    {"TopMargin", &S::topMargin},
    {"LeftMargin", &S::leftMargin},
    // "dummy" is the window's placeholder for a font not yet chosen.
    {"FontName", &S::fontName, INT32_MIN, INT32_MAX, Bad::Clamp, "dummy"},
    {"FontSize", &S::fontSize},
    {"FontBold", &S::fontBold},
    {"FontItalic", &S::fontItalic},
    {"FontUnderline", &S::fontUnderline},
    {"FontStrikeout", &S::fontStrikeout},
    {"Minimize", &S::minimize},
    {"FormFeed", &S::formFeed},
    {"End", &S::end, 0, 255, Bad::Absent},
    {"Language", &S::language},
    {"CodePage", &S::codePage},
    {"Capture", &S::capture},
    {"BottomMargin", &S::bottomMargin},
    {"RightMargin", &S::rightMargin},
    {"DefaultFont", &S::defaultFont},
    {"LPI", &S::lpi, 1, 15},
    {"CPI", &S::cpi, 1, 25},
    {"Printer", &S::printer},
    {"PdfFolder", &S::pdfFolder, INT32_MIN, INT32_MAX, Bad::Clamp, {}, false},
    {"CapturePort", &S::capturePort, INT32_MIN, INT32_MAX, Bad::Clamp, {}, false},
}};

PrintSettings Settings::printSettings() const {
    PrintSettings p;
    p.topMargin = topMargin;
    p.bottomMargin = bottomMargin;
    p.leftMargin = leftMargin;
    p.rightMargin = rightMargin;
    p.fontName = fontName;
    p.fontSize = fontSize;
    p.bold = fontBold;
    p.italic = fontItalic;
    p.underline = fontUnderline;
    p.strikeOut = fontStrikeout;
    p.cpi = cpi;
    p.lpi = lpi;
    p.defaultFont = defaultFont;
    p.landscape = landscape;
    p.lineWrap = lineWrap;
    p.pageFeed = pageFeed;
    return p;
}

std::string defaultJobFile() {
#ifdef Q_OS_WIN
    return "c:\\prnspl";
#else
    return QDir::home().filePath(QStringLiteral("prnspl")).toStdString();
#endif
}

namespace {

std::optional<SettingValue> readValue(const RegistryKey& key, const SettingInfo& info) {
    return std::visit(
        [&](auto field) -> std::optional<SettingValue> {
            using T = std::remove_reference_t<decltype(std::declval<Settings>().*field)>;
            if constexpr (std::is_same_v<T, bool>) {
                if (auto v = key.readBool(info.name)) return *v;
            } else if constexpr (std::is_same_v<T, std::int32_t>) {
                if (auto v = key.readInteger(info.name)) return *v;
            } else {
                if (auto v = key.readString(info.name)) return *v;
            }
            return std::nullopt;
        },
        info.field);
}

// Puts a stored value into the settings as the table says; false when it
// counts as absent.
bool apply(Settings& s, const SettingInfo& info, const SettingValue& value) {
    return std::visit(
        [&](auto field) {
            using T = std::remove_reference_t<decltype(s.*field)>;
            const T& v = std::get<T>(value);
            if constexpr (std::is_same_v<T, std::int32_t>) {
                if ((v < info.lowest || v > info.highest) && info.outOfRange == Bad::Absent)
                    return false;
                s.*field = std::clamp(v, info.lowest, info.highest);
            } else if constexpr (std::is_same_v<T, std::string>) {
                if (v.empty() || (!info.placeholder.empty() && v == info.placeholder)) return false;
                s.*field = v;
            } else {
                s.*field = v;
            }
            return true;
        },
        info.field);
}

SettingValue valueOf(const Settings& s, const SettingInfo& info) {
    return std::visit([&](auto field) { return SettingValue(s.*field); }, info.field);
}

} // namespace

Settings firstStartSettings(PrintEngine& engine) {
    return readSettings(nullptr, engine);
}

Settings readSettings(const RegistryKey* key, PrintEngine& engine, StoredValues* stored) {
    Settings s;
    s.spool = defaultJobFile();
    const PageData page = engine.printerPage();
    s.topMargin = s.bottomMargin = dotsToMm(page.offsetY, engine.resy());
    s.leftMargin = s.rightMargin = dotsToMm(page.offsetX, engine.resx());
    if (stored) stored->fill(std::nullopt);
    bool cpi = false, lpi = false;
    for (std::size_t i = 0; key && i < kSettings.size(); ++i) {
        const SettingInfo& info = kSettings[i];
        const auto value = readValue(*key, info);
        if (stored) (*stored)[i] = value;
        if (!value || !apply(s, info, *value)) continue;
        cpi = cpi || info.name == "CPI";
        lpi = lpi || info.name == "LPI";
    }
    // What is not stored follows the stored face at the size box's first 10 points.
    if (!cpi || !lpi) {
        const auto pitch = engine.pitchOfFont(s.fontName, 10);
        if (!cpi) s.cpi = pitch.cpi;
        if (!lpi) s.lpi = pitch.lpi;
    }
    return s;
}

std::uint16_t capturePort(const Settings& settings) {
    if (settings.capturePort < 0 || settings.capturePort > 65535)
        throw Error(
            formatMessage("'%s' is not a port number", std::to_string(settings.capturePort)));
    return static_cast<std::uint16_t>(settings.capturePort);
}

void writeSettings(RegistryKey& key, const Settings& settings, StoredValues* stored) {
    for (std::size_t i = 0; i < kSettings.size(); ++i) {
        const SettingInfo& info = kSettings[i];
        if (!info.saved) continue;
        const SettingValue now = valueOf(settings, info);
        if (stored && (*stored)[i] == now && key.hasValue(info.name)) continue;
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, bool>)
                    key.writeBool(info.name, v);
                else if constexpr (std::is_same_v<T, std::int32_t>)
                    key.writeInteger(info.name, v);
                else
                    key.writeString(info.name, v);
            },
            now);
        if (stored) (*stored)[i] = now;
    }
}

} // namespace marlix
