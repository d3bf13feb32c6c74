// Which stream writes when: senders never interleave, nothing is written
// while a job prints, and a failed write loses nothing.
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
    CaptureEndpoint capture{files, [this] { return name; }};
    int resumes = 0;
    std::vector<std::string> errors;

    void SetUp() override {
        capture.resume = [this] { ++resumes; };
        capture.onError = [this](const std::string& e) { errors.push_back(e); };
        capture.setCapture(true);
    }
    // What a transport does: ask, then hand over what it may.
    bool send(CaptureEndpoint::StreamId id, std::string_view bytes) {
        if (!capture.mayRead(id)) return false;
        return capture.received(id, bytes) == bytes.size();
    }
    std::string path(const char* file) { return (dir.path() / file).string(); }
    std::string read(const std::string& file) { return test::readFile(file); }
    std::string job() { return read(name); }
};

TEST_F(Endpoint, ASecondSenderWaitsUntilTheFirstHasEnded) {
    EXPECT_TRUE(send(1, "AAA"));
    EXPECT_FALSE(send(2, "bbb"));
    EXPECT_FALSE(send(3, "ccc"));
    EXPECT_TRUE(send(1, "AAA"));
    capture.closed(1);
    EXPECT_FALSE(send(3, "ccc")) << "first come, first served";
    EXPECT_TRUE(send(2, "bbb"));
    capture.closed(2);
    EXPECT_TRUE(send(3, "ccc"));
    EXPECT_EQ(job(), "AAAAAAbbbccc");
}

TEST_F(Endpoint, WhileAJobPrintsItsSenderGoesOnAndThePrintEndsOnlyAQuietSendersTurn) {
    EXPECT_TRUE(send(1, "job one|"));
    capture.hold();
    EXPECT_TRUE(send(1, "more")) << "on disk at once, after the bytes that print";
    EXPECT_FALSE(send(2, "job two"));
    const int before = resumes;
    capture.release(true);
    EXPECT_GT(resumes, before) << "the waiting streams are offered again";
    EXPECT_FALSE(send(2, "job two")) << "a sender that went on keeps its turn";
    EXPECT_EQ(job(), "job one|more");

    capture.hold(); // its next job prints, and it sent nothing meanwhile
    capture.release(true);
    EXPECT_FALSE(send(1, "late")) << "the stream that waited gets the next job";
    EXPECT_TRUE(send(2, "|job two"));
    EXPECT_EQ(job(), "job one|more|job two");
}

TEST_F(Endpoint, AFailedPrintLetsTheSameSenderGoOn) {
    EXPECT_TRUE(send(1, "part one "));
    capture.hold();
    EXPECT_FALSE(send(2, "other"));
    capture.release(false);
    EXPECT_TRUE(send(1, "part two"));
    EXPECT_EQ(job(), "part one part two");
}

TEST_F(Endpoint, TheJobFileIsNamedAnewForEveryJob) {
    EXPECT_TRUE(send(1, "to the old name"));
    name = path("renamed");
    EXPECT_TRUE(send(1, " still"));
    EXPECT_EQ(read(path("prnspl")), "to the old name still") << "a job is not split";
    capture.closed(1);
    EXPECT_TRUE(send(2, "new"));
    EXPECT_EQ(read(path("renamed")), "new");
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
    EXPECT_FALSE(send(2, "x")) << "the failing stream keeps its turn";
    failing(false);
    EXPECT_TRUE(send(1, "abc"));
    failing(true);
    EXPECT_FALSE(send(1, "def"));
    EXPECT_EQ(errors.size(), 2u) << "a new failure after a success is news";
}

TEST_F(Endpoint, WithTheSwitchOffNothingIsTaken) {
    capture.setCapture(false);
    EXPECT_FALSE(send(1, "abc"));
    EXPECT_FALSE(files.state(name));
    capture.setCapture(true);
    EXPECT_TRUE(send(1, "abc"));
}

} // namespace
} // namespace marlix
