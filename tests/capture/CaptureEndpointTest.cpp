// What reaches the job file, and when: each stream whole once it has ended
// or gone quiet, whatever the others do; nothing lost when writing fails or
// the program ends.
#include "capture/CaptureEndpoint.h"

#include "../support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace marlix {
namespace {

struct Endpoint : ::testing::Test {
    test::TempDir dir;
    JobFiles files;
    std::string name = path("prnspl");
    std::int64_t quiet = 3000;
    CaptureEndpoint capture{files, [this] { return name; }, [this] { return quiet; }};
    std::vector<std::string> errors;
    std::int64_t now = 0;

    void SetUp() override {
        capture.onError = [this](const std::string& e) { errors.push_back(e); };
        capture.setCapture(true);
    }
    bool send(CaptureEndpoint::StreamId id, std::string_view bytes) {
        return capture.received(id, bytes, now) == bytes.size();
    }
    std::string path(const char* file) { return (dir.path() / file).string(); }
    std::string job() { return test::readFile(name); }
};

TEST_F(Endpoint, EachStreamReachesTheJobFileWholeWhenItEndsHoweverTheyInterleave) {
    EXPECT_TRUE(send(1, "AAA"));
    EXPECT_TRUE(send(2, "bbb"));
    EXPECT_TRUE(send(3, "ccc")) << "nobody waits for anybody";
    EXPECT_TRUE(send(1, "AAA"));
    EXPECT_EQ(job(), "") << "nothing before its sender is done with it";
    capture.closed(2);
    capture.closed(1);
    EXPECT_EQ(job(), "bbbAAAAAA");
    EXPECT_TRUE(send(3, "ccc"));
    capture.closed(3);
    EXPECT_EQ(job(), "bbbAAAAAAcccccc");
    EXPECT_EQ(capture.waiting(), 0u);
}

TEST_F(Endpoint, AStreamQuietForTheTimeOutIsAJobAndWhatItSendsLaterTheNext) {
    // An emulator's connection stays open between jobs; a trickler's bytes
    // never hold another sender off.
    EXPECT_TRUE(send(1, "first job|"));
    now = 1000;
    EXPECT_TRUE(send(2, "t"));
    capture.tick(2999);
    EXPECT_EQ(job(), "");
    capture.tick(3000);
    EXPECT_EQ(job(), "first job|");
    now = 3500;
    EXPECT_TRUE(send(1, "second job|"));
    EXPECT_TRUE(send(2, "rickle"));
    capture.closed(2);
    EXPECT_EQ(job(), "first job|trickle");
    capture.tick(3500 + quiet);
    EXPECT_EQ(job(), "first job|tricklesecond job|");
}

TEST_F(Endpoint, TheJobFileIsNamedAnewForEveryStream) {
    EXPECT_TRUE(send(1, "to the old name"));
    name = path("renamed");
    EXPECT_TRUE(send(1, " still"));
    EXPECT_TRUE(send(2, "new"));
    capture.closed(1);
    capture.closed(2);
    EXPECT_EQ(test::readFile(path("prnspl")), "to the old name still") << "a job is not split";
    EXPECT_EQ(test::readFile(path("renamed")), "new");
}

TEST_F(Endpoint, AFailedWriteKeepsTheBytesAndIsReportedOnce) {
    // The job file's folder is a plain file for a while: nothing can be written.
    const std::string folder = path("jobs");
    name = folder + "/prnspl";
    auto failing = [&](bool on) {
        std::filesystem::remove_all(folder);
        if (on)
            std::ofstream(folder) << "in the way";
        else
            std::filesystem::create_directory(folder);
    };
    failing(true);
    EXPECT_FALSE(send(1, "abc"));
    EXPECT_FALSE(send(1, "abc"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Not a directory"), std::string::npos) << errors[0];
    failing(false);
    EXPECT_TRUE(send(1, "abc"));
    capture.closed(1);
    EXPECT_EQ(job(), "abc");
    EXPECT_TRUE(send(2, "def"));
    // The job file can't be written after the bytes were kept: they wait.
    std::filesystem::rename(name, name + ".printing-now");
    std::filesystem::create_directory(name);
    capture.closed(2);
    EXPECT_TRUE(send(3, "ghi"));
    capture.closed(3);
    EXPECT_EQ(errors.size(), 2u) << "a new failure after a success is news";
    EXPECT_EQ(capture.waiting(), 2u) << "and the stream after it waits behind it";
    std::filesystem::remove(name);
    std::filesystem::rename(name + ".printing-now", name);
    capture.tick(now);
    EXPECT_EQ(job(), "abcdefghi");
}

TEST_F(Endpoint, WhatARunThatWasKilledKeptReachesTheJobFileInTheOrderItCame) {
    // A job file named without a folder is in the one the program runs in.
    const auto was = std::filesystem::current_path();
    for (const std::string& jobFile : {name, std::string("spool.prn")}) {
        SCOPED_TRACE(jobFile);
        name = jobFile;
        std::filesystem::current_path(dir.path());
        CaptureEndpoint killed{files, [this] { return name; }, [this] { return quiet; }};
        killed.setCapture(true);
        EXPECT_EQ(killed.received(1, "first ", now), 6u);
        EXPECT_EQ(killed.received(2, "second ", now), 7u);
        // A second endpoint is the next start; this one is gone without a word.
        CaptureEndpoint next{files, [this] { return name; }, [this] { return quiet; }};
        next.recover();
        EXPECT_EQ(job(), "first second ");
        EXPECT_EQ(killed.waiting(), 2u);
        std::filesystem::current_path(was);
    }
}

TEST_F(Endpoint, WithTheSwitchOffNothingIsTakenAndAtTheEndEverythingGoes) {
    capture.setCapture(false);
    EXPECT_FALSE(send(1, "abc"));
    capture.setCapture(true);
    EXPECT_TRUE(send(1, "abc"));
    EXPECT_TRUE(send(2, "def"));
    capture.commitAll();
    EXPECT_EQ(job(), "abcdef");
    EXPECT_EQ(capture.waiting(), 0u);
}

} // namespace
} // namespace marlix
