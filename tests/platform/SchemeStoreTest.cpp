// Schemes in the real settings store (QSettings on a temporary file).
#include "schemes/SchemeStore.h"

#include "../support/TempDir.h"
#include "core/Errors.h"
#include "platform/SettingsRegistry.h"
#include "schemes/Commands.h"

#include <QFile>
#include <gtest/gtest.h>
#include <string_view>

using namespace marlix;
using namespace marlix::test;

namespace {

const std::string kRoot(kSettingsKey);

class SchemeStoreTest : public ::testing::Test {
protected:
    QString file() const { return QString::fromStdString((dir.path() / "marlix.ini").string()); }
    std::unique_ptr<RegistryKey> key(const std::string& scheme) {
        return registry->openKey(SchemeStore::schemeKey(scheme), true);
    }
    void restart() {
        registry = std::make_unique<SettingsRegistry>(file());
        store = std::make_unique<SchemeStore>(*registry);
        store->CheckSequencesRegistry();
    }
    void SetUp() override { restart(); }

    TempDir dir;
    std::unique_ptr<SettingsRegistry> registry;
    std::unique_ptr<SchemeStore> store;
};

TEST_F(SchemeStoreTest, AFirstStartWritesTheThreeDefaultSchemes) {
    EXPECT_EQ(registry->openKey(kRoot, false)->readString("Sequence"), "Default");
    EXPECT_EQ(store->activeScheme(), "Default");
    auto sequences = registry->openKey(std::string(kSequencesKey), false);
    auto names = sequences->subkeyNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Default", "Epson Matrix", "HP PCL"}));
    for (const char* scheme : {"Default", "Epson Matrix", "HP PCL"}) {
        auto k = key(scheme);
        EXPECT_EQ(k->valueNames().size(), 31u) << scheme;
        EXPECT_FALSE(k->hasValue("InitStr"));
        EXPECT_EQ(k->readString("Strikeout"), std::string(scheme) == "Default" ? "[#27]S" : "");
    }
}

TEST_F(SchemeStoreTest, TablesHold21_36And42Entries) {
    const std::pair<const char*, std::size_t> sizes[] = {
        {"Default", 21}, {"Epson Matrix", 36}, {"HP PCL", 42}};
    for (auto [scheme, size] : sizes) {
        registry->openKey(kRoot, true)->writeString("Sequence", scheme);
        const LoadedSequences l = store->LoadSequences();
        EXPECT_EQ(l.table.size(), size) << scheme;
        EXPECT_EQ(store->activeScheme(), scheme);
        EXPECT_TRUE(l.initStr.empty());
    }
    registry->openKey(kRoot, true)->writeString("Sequence", "Epson Matrix");
    const TSeqArray t = store->LoadSequences().table;
    const std::pair<std::string, std::string> first[] = {{"\x1b"
                                                          "E",
                                                          "Bold"},
                                                         {"\x1bG", "Bold"},
                                                         {"\x1b"
                                                          "F",
                                                          "NoBold"},
                                                         {"\x1bH", "NoBold"},
                                                         {"\x1b"
                                                          "4",
                                                          "Italic"}};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(t[i].Pattern, first[i].first);
        EXPECT_EQ(t[i].Command, first[i].second);
    }
    registry->openKey(kRoot, true)->writeString("Sequence", "HP PCL");
    const TSeqArray hp = store->LoadSequences().table;
    for (std::size_t i = hp.size() - 10; i < hp.size(); ++i)
        EXPECT_EQ(hp[i].Command, "Ignore");
    EXPECT_EQ(hp[hp.size() - 11].Command, "Reset");
}

TEST_F(SchemeStoreTest, UserEditsSurviveARestartAndDeletedValuesComeBack) {
    key("Epson Matrix")->writeString("Bold", "[#27]E");
    registry->deleteKey(SchemeStore::schemeKey("HP PCL"));
    QSettings raw(file(), QSettings::IniFormat);
    raw.remove(QStringLiteral("Sequences/Epson Matrix/Italic"));
    raw.sync();
    restart();
    EXPECT_EQ(key("Epson Matrix")->readString("Bold"), "[#27]E");
    EXPECT_EQ(key("Epson Matrix")->readString("Italic"), "[#27]4");
    EXPECT_EQ(key("HP PCL")->readString("Reset"), "[#27]E");
}

TEST_F(SchemeStoreTest, ASchemeNameIsMatchedWithoutCaseAndAGoneOnePrintsWithDefaultSaidOnce) {
    std::vector<std::string> notices;
    store->onNotice = [&](const std::string& text) { notices.push_back(text); };
    registry->openKey(kRoot, true)->writeString("Sequence", "epson MATRIX");
    EXPECT_EQ(store->LoadSequences().table.size(), 36u);
    EXPECT_EQ(store->activeScheme(), "Epson Matrix");

    registry->openKey(kRoot, true)->writeString("Sequence", "Gone");
    EXPECT_EQ(store->LoadSequences().table.size(), 21u) << "Default's";
    EXPECT_EQ(store->activeScheme(), "Default");
    store->LoadSequences();
    ASSERT_EQ(notices.size(), 1u) << "once, not at every job";
    EXPECT_NE(notices[0].find("'Gone'"), std::string::npos);
    EXPECT_EQ(registry->openKey(kRoot, false)->readString("Sequence"), "Gone") << "kept as stored";

    registry->openKey(kRoot, true)->writeString("Sequence", "no Sequences");
    EXPECT_TRUE(store->LoadSequences().table.empty());
    EXPECT_EQ(store->activeScheme(), kNoSequences);
}

TEST_F(SchemeStoreTest, ValuesSplitIntoEntriesAndInitStrIsConverted) {
    key("Default")->writeString("Bold", "[#27]E||||[#27]G");
    key("Default")->writeString("NoBold", "||");
    key("Default")->writeString("InitStr", "[#27]@Ж");
    const LoadedSequences l = store->LoadSequences();
    EXPECT_EQ(l.table[0].Pattern, "\x1b"
                                  "E");
    EXPECT_EQ(l.table[1].Pattern, "\x1bG");
    EXPECT_EQ(l.table[2].Command, "Italic");
    EXPECT_EQ(l.initStr, "\x1b@\xc6") << "notation is Windows-1251, one byte a character";
    EXPECT_EQ(store->schemeNames().size(), 3u);
}

TEST_F(SchemeStoreTest, ALongValueOrAValueThatIsNoTextFailsTheLoad) {
    key("Default")->writeString("Bold", std::string(256, 'x'));
    try {
        store->LoadSequences();
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Range check error\nin the scheme 'Default', value 'Bold'");
    }
    key("Default")->writeString("Bold", "[#27]B");
    QFile f(file());
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("\n[Sequences]\nDefault\\Italic=a, b\n");
    f.close();
    restart();
    try {
        store->LoadSequences();
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'Italic'\nin the scheme 'Default', value "
                               "'Italic'");
    }
}

// The named initialisation strings: listed in the store's order, chosen by a
// menu caption, and sent after the scheme's own string by every later job.
TEST_F(SchemeStoreTest, AChosenInitialisationStringFollowsTheSchemesOwnInEveryLaterJob) {
    EXPECT_TRUE(store->initStrNames().empty()) << "no key, no names";
    auto init = registry->openKey(std::string(kInitStrKey), true);
    init->writeString("Reset", "[#27]@");
    init->writeString("Condensed", "[#15]");
    init->writeString("AB", "ab");
    // QSettings lists a section's values in sorted order: that is the store's order.
    EXPECT_EQ(store->initStrNames(), (std::vector<std::string>{"AB", "Condensed", "Reset"}));

    key("Default")->writeString("InitStr", "[#27]x1");
    store->SelInit("&Reset");
    EXPECT_EQ(store->initChoice(), "[#27]@");
    EXPECT_EQ(store->initStr(), "\x1b@");
    for (int job = 0; job < 2; ++job)
        EXPECT_EQ(store->LoadSequences().initStr, "\x1bx1\x1b@") << "job " << job;
    // Without a scheme key the choice still goes ahead.
    registry->openKey(kRoot, true)->writeString("Sequence", "No sequences");
    EXPECT_EQ(store->LoadSequences().initStr, "\x1b@");

    store->SelInit("A&B"); // read as "AB"
    EXPECT_EQ(store->initChoice(), "ab");
    store->SelInit("Gone"); // deleted after the menu was built
    EXPECT_EQ(store->initChoice(), "");
    EXPECT_EQ(store->LoadSequences().initStr, "");
}

TEST_F(SchemeStoreTest, AnInitialisationStringTooLongIsRefusedWhenChosen) {
    auto init = registry->openKey(std::string(kInitStrKey), true);
    init->writeString("Long", std::string(256, 'x'));
    init->writeString("Short", "s");
    store->SelInit("Short");
    EXPECT_THROW(store->SelInit("Long"), Error);
    EXPECT_EQ(store->initChoice(), "s") << "the choice before stays";
    EXPECT_EQ(store->LoadSequences().initStr, "s");
}

TEST_F(SchemeStoreTest, TheMenuListsAtMost256InitialisationStrings) {
    auto init = registry->openKey(std::string(kInitStrKey), true);
    for (int i = 0; i < 300; ++i)
        init->writeString(std::to_string(1000 + i), "x");
    const auto names = store->initStrNames();
    ASSERT_EQ(names.size(), 256u);
    EXPECT_EQ(names.front(), "1000");
    EXPECT_EQ(names.back(), "1255");
}

TEST(SchemeStoreOnAnUnwritableStore, SaysWhichValueCouldNotBeSet) {
    TempDir dir;
    // A folder where the settings file should be: nothing can be written there.
    std::filesystem::create_directories(dir.path() / "marlix.ini");
    SettingsRegistry registry(QString::fromStdString((dir.path() / "marlix.ini").string()));
    SchemeStore store(registry);
    try {
        store.CheckSequencesRegistry();
        FAIL();
    } catch (const Error& e) {
        // Which value, then why.
        EXPECT_TRUE(std::string_view(e.what()).starts_with("Failed to set data for 'Sequence'\n"))
            << e.what();
    }
}

} // namespace
