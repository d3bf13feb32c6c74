// The job file on disk: what survives a print, what a writer that holds the
// file open keeps, and who may read it.
#include "capture/JobFiles.h"

#include "../support/TempDir.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marlix {
namespace {

namespace fs = std::filesystem;

struct JobFilesTest : ::testing::Test {
    test::TempDir dir;
    std::string job = (dir.path() / "prnspl").string();
    JobFiles files;

    std::string read(const std::string& name) { return test::readFile(name); }
    std::string read() { return read(job); }
    void put(const std::string& bytes) {
        std::string error;
        ASSERT_EQ(files.append(job, bytes, error), bytes.size()) << error;
    }
    JobFiles::State state() { return files.state(job).value_or(JobFiles::State{}); }
};

TEST_F(JobFilesTest, WhatCameAfterThePrintedBytesStaysAsTheNextJob) {
    put("printed part|");
    const JobFiles::State printed = state();
    put("arrived while printing");
    files.removePrinted(job, printed.id, printed.size);
    EXPECT_EQ(read(), "arrived while printing");
    EXPECT_EQ(files.printedTo(job, state()), 0u);
    files.removePrinted(job, state().id, 22);
    EXPECT_FALSE(files.state(job));
    EXPECT_FALSE(fs::exists(job + ".rest"));
}

TEST_F(JobFilesTest, AFileAWriterHoldsOpenStaysAndLaterBytesAreTheNextJobAlsoAfterARestart) {
    const int writer = ::open(job.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "first burst", 11), 11);
    files.removePrinted(job, state().id, 11);
    ASSERT_TRUE(files.state(job)) << "a writer still holds it: it must keep its name";
    EXPECT_EQ(files.printedTo(job, state()), 11u);

    ASSERT_EQ(::write(writer, "|second", 7), 7);
    JobFiles restarted;
    EXPECT_EQ(restarted.printedTo(job, *restarted.state(job)), 11u) << "remembered beside it";
    restarted.removePrinted(job, restarted.state(job)->id, 18);
    EXPECT_EQ(restarted.printedTo(job, *restarted.state(job)), 18u);

    ::close(writer);
    restarted.removePrinted(job, restarted.state(job)->id, 18);
    EXPECT_FALSE(fs::exists(job)) << "gone once nobody writes it";
    EXPECT_FALSE(fs::exists(job + ".printed"));

    put("a new file");
    EXPECT_EQ(restarted.printedTo(job, state()), 0u) << "another file is another job";
}

TEST_F(JobFilesTest, AJobSetAsideKeepsItsBytesWholeBesideTheJobFile) {
    put("printed|bad bytes|next");
    const std::string copy = files.setAside(job, state().id, 7, 17);
    EXPECT_EQ(fs::path(copy).parent_path(), dir.path() / "failed");
    EXPECT_EQ(fs::path(copy).filename().string().rfind("prnspl ", 0), 0u) << copy;
    EXPECT_EQ(read(copy), "|bad bytes");
    EXPECT_EQ(read(), "|next");
    const std::string second = files.setAside(job, state().id, 0, 5);
    EXPECT_NE(second, copy) << "never one file for two jobs";
    EXPECT_FALSE(fs::exists(job));
}

TEST_F(JobFilesTest, AppendCreatesTheFileForTheUserAloneAndReportsWhyItCannot) {
    put("a");
    put("b");
    EXPECT_EQ(read(), "ab");
    EXPECT_EQ(state().size, 2u);
    struct stat st {};
    ASSERT_EQ(stat(job.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Nothing that could hang it or send the job elsewhere: a FIFO nobody
    // reads, a link planted in the job file's place.
    const std::string fifo = (dir.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = (dir.path() / "link").string();
    ASSERT_EQ(::symlink(job.c_str(), link.c_str()), 0);
    const std::pair<std::string, const char*> refused[] = {
        {(dir.path() / "no" / "such" / "dir").string(), "No such file"},
        {fifo, "it is a FIFO"},
        {link, "symbolic link"}};
    for (const auto& [name, why] : refused) {
        std::string error;
        EXPECT_EQ(files.append(name, "x", error), 0u) << name;
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
    EXPECT_EQ(read(), "ab");
    EXPECT_FALSE(files.tail(fifo, 32)) << "nor read";
}

TEST_F(JobFilesTest, TheTailIsTheLastBytesAndAbsentFilesHaveNone) {
    EXPECT_FALSE(files.state(job));
    EXPECT_FALSE(files.tail(job, 32));
    EXPECT_FALSE(files.state(dir.path().string())) << "a folder is no job";
    put(std::string(40, 'x') + "\f\r\n");
    EXPECT_EQ(files.tail(job, 32), std::string(29, 'x') + "\f\r\n");
    files.discard(job);
    files.discard(job); // a second time is no error
    EXPECT_FALSE(files.state(job));
}

} // namespace
} // namespace marlix
