// The job file on disk: what survives a print, and who may read it.
#include "capture/JobFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(__unix__)
#include <sys/stat.h>
#endif

namespace marlix {
namespace {

namespace fs = std::filesystem;

struct DiskFiles : ::testing::Test {
    fs::path dir = fs::temp_directory_path() /
                   ("marlix-jobs-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string job = (dir / "prnspl").string();
    DiskJobFiles files;

    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string read() {
        std::ifstream in(job, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void put(const std::string& bytes) {
        std::string error;
        ASSERT_EQ(files.append(job, bytes, error), bytes.size()) << error;
    }
};

TEST_F(DiskFiles, WhatCameAfterThePrintedBytesStaysAsTheNextJob) {
    put("printed part|");
    put("arrived while printing");
    files.removePrinted(job, 13);
    EXPECT_EQ(read(), "arrived while printing");
    files.removePrinted(job, 22);
    EXPECT_FALSE(files.size(job));
    EXPECT_FALSE(fs::exists(job + ".rest"));
}

TEST_F(DiskFiles, AppendCreatesTheFileForTheUserAloneAndReportsWhyItCannot) {
    put("a");
    put("b");
    EXPECT_EQ(read(), "ab");
    EXPECT_EQ(files.size(job), 2u);
#if defined(__unix__)
    struct stat st{};
    ASSERT_EQ(stat(job.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
    std::string error;
    EXPECT_EQ(files.append((dir / "no" / "such" / "dir").string(), "x", error), 0u);
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST_F(DiskFiles, TheTailIsTheLastBytesAndAbsentFilesHaveNone) {
    EXPECT_FALSE(files.size(job));
    EXPECT_FALSE(files.tail(job, 32));
    EXPECT_FALSE(files.size(dir.string())) << "a folder is no job";
    put(std::string(40, 'x') + "\f\r\n");
    EXPECT_EQ(files.tail(job, 32), std::string(29, 'x') + "\f\r\n");
    files.remove(job);
    files.remove(job); // a second time is no error
    EXPECT_FALSE(files.size(job));
}

} // namespace
} // namespace marlix
