// The settings store on a temporary INI file.
#include "platform/SettingsRegistry.h"

#include "../support/TempDir.h"
#include "core/Errors.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace marlix;
using namespace marlix::test;

namespace {

const std::string kRoot(kSettingsKey);

class SettingsRegistryTest : public ::testing::Test {
protected:
    QString file() const { return QString::fromStdString((dir.path() / "marlix.ini").string()); }
    TempDir dir;
};

TEST_F(SettingsRegistryTest, AFirstStartHasNoKeyUntilSomethingIsWritten) {
    SettingsRegistry store(file());
    EXPECT_FALSE(store.keyExists(kRoot));
    EXPECT_EQ(store.openKey(kRoot, false), nullptr);
    auto key = store.openKey(kRoot, true);
    ASSERT_NE(key, nullptr);
    key->writeString("Sequence", "Default");
    EXPECT_TRUE(store.keyExists(kRoot));
}

TEST_F(SettingsRegistryTest, ValuesSurviveReopeningTheStore) {
    {
        SettingsRegistry store(file());
        auto key = store.openKey(kRoot, true);
        key->writeString("FontName", "Courier New");
        key->writeInteger("TopMargin", -3);
        key->writeBool("LineWrap", false);
        auto scheme = store.openKey(kRoot + "\\Sequences\\Epson Matrix", true);
        scheme->writeString("Bold", "[#27]E");
    }
    SettingsRegistry store(file());
    auto key = store.openKey(kRoot, false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->readString("FontName"), "Courier New");
    EXPECT_EQ(key->readInteger("TopMargin"), -3);
    EXPECT_EQ(key->readBool("LineWrap"), false);
    EXPECT_EQ(key->subkeyNames(), std::vector<std::string>{"Sequences"});
    auto sequences = store.openKey(kRoot + "\\Sequences", false);
    ASSERT_NE(sequences, nullptr);
    EXPECT_EQ(sequences->subkeyNames(), std::vector<std::string>{"Epson Matrix"});
    auto scheme = store.openKey(kRoot + "\\Sequences\\Epson Matrix", false);
    EXPECT_EQ(scheme->readString("Bold"), "[#27]E");
    EXPECT_EQ(scheme->valueNames(), std::vector<std::string>{"Bold"});
    // The file keeps the layout other tools expect.
    QFile f(file());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("[Sequences]\nEpson%20Matrix\\Bold=[#27]E"));
}

TEST_F(SettingsRegistryTest, AValueOfTheWrongTypeReadsAsAbsent) {
    QFile f(file());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[General]\nFontSize=abc\nCPI=12\nLPI=1e3\nBig=99999999999\nList=a, b\n");
    f.close();
    SettingsRegistry store(file());
    auto key = store.openKey(kRoot, false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->readInteger("FontSize"), std::nullopt);
    EXPECT_EQ(key->readInteger("CPI"), 12);
    EXPECT_EQ(key->readInteger("LPI"), std::nullopt);
    EXPECT_EQ(key->readInteger("Big"), std::nullopt);
    EXPECT_EQ(key->readString("List"), std::nullopt);
    EXPECT_EQ(key->readString("Missing"), std::nullopt);
    EXPECT_TRUE(key->hasValue("FontSize"));
}

TEST_F(SettingsRegistryTest, DeletingAKeyTakesItsSubtree) {
    SettingsRegistry store(file());
    store.openKey(kRoot, true)->writeString("Sequence", "Default");
    store.openKey(kRoot + "\\Sequences\\A", true)->writeString("Bold", "x");
    store.openKey(kRoot + "\\Sequences\\B", true)->writeString("Bold", "y");
    store.deleteKey(kRoot + "\\Sequences\\A");
    EXPECT_FALSE(store.keyExists(kRoot + "\\Sequences\\A"));
    EXPECT_TRUE(store.keyExists(kRoot + "\\Sequences\\B"));
    store.deleteKey(kRoot + "\\Sequences");
    EXPECT_FALSE(store.keyExists(kRoot + "\\Sequences"));
    EXPECT_EQ(store.openKey(kRoot, false)->readString("Sequence"), "Default");
}

TEST_F(SettingsRegistryTest, PathsOutsideTheSettingsKeyAreNotThere) {
    SettingsRegistry store(file());
    EXPECT_EQ(store.openKey("System\\CurrentControlSet\\Control\\Print\\Printers", false), nullptr);
    EXPECT_THROW(store.openKey("\\SOFTWARE\\Other", true), Error);
    // Letter case of the root does not matter, as in the registry.
    store.openKey("\\software\\obre\\marlix", true)->writeInteger("End", 0);
    EXPECT_TRUE(store.keyExists(kRoot));
}

// A disk that fills up while the file is written (a file-size limit stands
// in for it: it binds root too) must leave the last good file, not half a file.
TEST_F(SettingsRegistryTest, ASaveThatCannotFinishLeavesTheOldFileWhole) {
    {
        SettingsRegistry store(file());
        auto key = store.openKey(kRoot, true);
        key->writeString("FontName", "Courier New");
        key->flush();
    }
    QFile f(file());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();

    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    bool failed = false;
    {
        SettingsRegistry store(file());
        auto key = store.openKey(kRoot, true);
        key->writeString("FontName", std::string(100000, 'x'));
        try {
            key->flush();
        } catch (const Error& e) {
            failed = std::string(e.what()) == "Failed to set data for 'FontName'";
        }
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(failed) << "the failed save is reported";
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    const QStringList left =
        QDir(QString::fromStdString(dir.path().string())).entryList(QDir::Files);
    EXPECT_EQ(left, QStringList{"marlix.ini"}) << "no temporary file stays behind";
}

// A settings file another program overwrote with junk, or a folder where the
// file should be: the defaults hold, the user is told why, and what is there
// is never replaced by a file of defaults.
TEST_F(SettingsRegistryTest, AFileThatCannotBeReadIsLeftAsItIs) {
    static const char raw[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR[\xff\xfe]\n=\x01";
    const QByteArray junk(raw, sizeof raw - 1);
    for (const bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "a folder" : "junk");
        QFile::remove(file());
        QDir().rmdir(file());
        if (folder) {
            ASSERT_TRUE(QDir().mkpath(file()));
        } else {
            QFile f(file());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(junk);
        }
        SettingsRegistry store(file());
        EXPECT_NE(
            store.problem().find("The settings file " + file().toStdString() + " cannot be read"),
            std::string::npos)
            << store.problem();
        EXPECT_EQ(store.openKey(kRoot, false), nullptr) << "nothing of it is believed";
        auto key = store.openKey(kRoot, true);
        key->writeString("FontName", "Courier New");
        EXPECT_THROW(key->flush(), Error);
        if (!folder) {
            QFile f(file());
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), junk);
        }
        EXPECT_EQ(QDir(QString::fromStdString(dir.path().string())).entryList(QDir::Files),
                  folder ? QStringList{} : QStringList{"marlix.ini"});
    }
}

} // namespace
