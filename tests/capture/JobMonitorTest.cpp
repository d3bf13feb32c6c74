// The monitor's rules under a test clock, on real files: the two timers are
// simulated, so a minute of watching runs in no time.
#include "capture/JobMonitor.h"

#include "../support/TempDir.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace marlix {
namespace {

namespace fs = std::filesystem;
using Result = JobMonitor::Printed::Result;

struct Print {
    int at;            // ms
    std::string bytes; // what it printed
};

// The window (or, retrying by itself, the service) around the monitor, with
// Timer1 and Timer2 on a simulated clock.
class Window final : public JobMonitor::Host {
    fs::path folder_; // first: the job file's name is made from it

public:
    explicit Window(fs::path folder) : folder_(std::move(folder)) {
        setMonitorInterval(seconds * 1000);
    }

    JobFiles files;
    JobMonitor monitor{*this, files};
    std::string name = path("prnspl");
    bool autoPrintOn = true;
    bool endOfPage = false;
    bool service = false;
    int seconds = 3;
    bool controls = false;
    bool icon = false;
    Result result = Result::Printed; // of every print from now on
    std::vector<Print> prints;
    int tries = 0; // prints asked for, whatever came of them
    std::vector<std::string> reports;
    std::function<void()> duringPrint;

    int now = 0;
    int interval1 = 0; // Timer1, 0 = stopped
    int next1 = 0;
    int next2 = 100;

    std::string path(const char* file) const { return (folder_ / file).string(); }
    std::string jobFileName() override { return name; }
    bool autoPrint() override { return autoPrintOn; }
    bool printAtEndOfPage() override { return endOfPage; }
    int timeOut() override { return seconds; }
    JobMonitor::Printed print(const std::string& file, std::uint64_t from, std::uint64_t to,
                              PrintMarker&) override {
        setMonitorInterval(0);
        ++tries;
        if (result == Result::Failed) return {Result::Failed, "Cannot create file"};
        const std::string bytes = test::readFile(file).substr(from, to - from);
        if (duringPrint) duringPrint();
        prints.push_back({now, bytes});
        return {result, result == Result::JobFailed ? "Range check error" : ""};
    }
    void setJobControls(bool enabled) override { controls = enabled; }
    void setPendingIcon(bool shown) override { icon = shown; }
    void setMonitorInterval(int ms) override {
        interval1 = ms;
        next1 = now + ms;
    }
    bool retriesByItself() override { return service; }
    void report(const std::string& text) override { reports.push_back(text); }

    // Runs the clock to `until`, firing the timers as they come due.
    void runTo(int until) {
        while (true) {
            const int t1 = interval1 ? next1 : INT32_MAX;
            const int t = std::min(t1, next2);
            if (t > until) break;
            now = t;
            if (t == next2) {
                next2 += 100;
                monitor.Timer2Timer();
            } else {
                next1 += interval1;
                monitor.Timer1Timer();
            }
        }
        now = until;
    }
    void write(const std::string& bytes) {
        std::ofstream(name, std::ios::app | std::ios::binary) << bytes;
    }
    void replace(const std::string& bytes) { std::ofstream(name, std::ios::binary) << bytes; }
    bool jobThere() { return files.state(name).has_value(); }
};

struct Monitor : ::testing::Test {
    test::TempDir dir;
    Window w{dir.path()};
};

} // namespace

TEST(TimeOutRule, AJobPrintsBetweenOneAndTwoTimeOutsAfterItsLastByte) {
    for (int lastByte : {0, 1, 700, 2999, 3000, 4500}) {
        test::TempDir dir;
        Window w(dir.path());
        w.runTo(lastByte);
        w.write("page one\r\n\f");
        w.runTo(lastByte + 10'000);
        ASSERT_EQ(w.prints.size(), 1u) << lastByte;
        EXPECT_GE(w.prints[0].at - lastByte, 3000) << lastByte;
        EXPECT_LE(w.prints[0].at - lastByte, 6000) << lastByte;
        EXPECT_FALSE(w.jobThere()) << "deleted after printing";
        EXPECT_EQ(w.interval1, 3000) << "restarted after the print";
    }
}

TEST_F(Monitor, AFileThatGrowsAtEveryTickNeverPrintsUntilItStops) {
    for (int t = 0; t < 60'000; t += 1000) {
        w.runTo(t);
        w.write("x");
    }
    w.runTo(60'000);
    EXPECT_TRUE(w.prints.empty());
    w.runTo(66'000);
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_EQ(w.prints[0].bytes, std::string(60, 'x'));
}

TEST_F(Monitor, EmptyFilesWaitAndRenamesCountFromTheNextTick) {
    w.write("");
    w.runTo(20'000);
    EXPECT_TRUE(w.prints.empty()) << "an empty job never prints";
    EXPECT_TRUE(w.controls) << "but it keeps the job controls enabled";

    const std::string old = w.name;
    w.name = w.path("other");
    w.write("report");
    w.runTo(26'000);
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_EQ(w.prints[0].bytes, "report");
    EXPECT_TRUE(fs::exists(old)) << "the old file is left alone";
}

TEST_F(Monitor, ASecondJobOfTheSameSizeWaitsForItsOwnTimeOut) {
    // The size seen last starts anew after a print: a new job of the
    // printed one's size may still be on its way.
    w.write("12345");
    w.runTo(6000);
    ASSERT_EQ(w.prints.size(), 1u);
    w.runTo(7000);
    w.write("abcde");
    const int firstTick = w.next1;
    w.runTo(firstTick);
    EXPECT_EQ(w.prints.size(), 1u);
    w.runTo(firstTick + 3000);
    ASSERT_EQ(w.prints.size(), 2u);
    EXPECT_EQ(w.prints[1].bytes, "abcde");
}

TEST_F(Monitor, AFormFeedNearTheEndPrintsAtTheNextTickAndNothingElseDoes) {
    w.endOfPage = true;
    w.write("total 100\r\n\f\r\n");
    w.runTo(3000);
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_EQ(w.prints[0].at, 3000);

    w.write("no form feed here\r\n");
    w.runTo(60'000);
    EXPECT_EQ(w.prints.size(), 1u) << "the time-out does not apply";

    // A form feed 33 bytes from the end is outside the window.
    w.replace("\f" + std::string(32, 'y'));
    w.runTo(70'000);
    EXPECT_EQ(w.prints.size(), 1u);
    w.replace("\f" + std::string(31, 'y'));
    w.runTo(73'000);
    EXPECT_EQ(w.prints.size(), 2u);
}

TEST_F(Monitor, WithoutAutomaticPrintingThePendingIconOffersTheJobAndAClickPrintsIt) {
    w.autoPrintOn = false;
    w.runTo(1050);
    w.write("job");
    w.runTo(1150);
    EXPECT_TRUE(w.icon) << "shown within 100 ms";
    EXPECT_TRUE(w.controls);
    w.runTo(30'000);
    EXPECT_TRUE(w.prints.empty());

    w.monitor.pendingReleased(); // a release that began elsewhere
    EXPECT_TRUE(w.prints.empty());
    EXPECT_TRUE(w.icon);

    w.monitor.pendingPressed();
    w.monitor.pendingReleased();
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_FALSE(w.icon);
    EXPECT_FALSE(w.jobThere());
    EXPECT_EQ(w.interval1, 3000);

    w.runTo(30'100);
    EXPECT_FALSE(w.controls);
}

TEST_F(Monitor, SwitchingAutomaticPrintingOnLeavesTheIconUntilTheJobGoes) {
    w.autoPrintOn = false;
    w.write("job");
    w.runTo(200);
    ASSERT_TRUE(w.icon);
    w.autoPrintOn = true;
    w.runTo(2900);
    EXPECT_TRUE(w.icon);
    w.runTo(7000);
    ASSERT_EQ(w.prints.size(), 1u);
    w.runTo(7100);
    EXPECT_FALSE(w.icon);
}

TEST_F(Monitor, ClearThrowsTheJobAwayAndPrintNowPrintsIt) {
    w.controls = true;
    w.monitor.discard(); // no job file: only the controls change
    EXPECT_FALSE(w.controls);
    EXPECT_TRUE(w.prints.empty());

    w.write("unwanted");
    w.runTo(200);
    w.monitor.discard();
    EXPECT_FALSE(w.jobThere());
    EXPECT_TRUE(w.prints.empty());

    w.write("wanted");
    w.runTo(1400);
    w.monitor.printNow();
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_EQ(w.prints[0].bytes, "wanted");
    EXPECT_FALSE(w.controls);
    EXPECT_EQ(w.next1, 1400 + 3000) << "the monitor starts counting anew";
}

TEST_F(Monitor, AFailedPrintKeepsTheJobAndTheMonitorRunsOn) {
    w.write("job");
    w.result = Result::Failed;
    w.runTo(6000);
    EXPECT_TRUE(w.jobThere());
    EXPECT_EQ(w.interval1, 3000) << "the monitor runs on";
    EXPECT_EQ(w.tries, 1);
    w.runTo(60'000);
    EXPECT_TRUE(w.icon) << "the job waits for the user";
    EXPECT_EQ(w.tries, 1) << "and is not tried again by itself";

    w.result = Result::Printed;
    w.write(" and more"); // a job that grows is a job again
    w.runTo(66'000);
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_EQ(w.prints[0].bytes, "job and more");
    EXPECT_FALSE(w.jobThere());
}

TEST_F(Monitor, TheServiceTriesAFailedJobAgainAfterAPauseThatGrows) {
    w.service = true;
    w.seconds = 1;
    w.setMonitorInterval(1000);
    w.write("job");
    w.result = Result::Failed;
    std::vector<int> tries;
    for (int t = 0; t < 40'000; t += 1000) {
        const int before = w.tries;
        w.runTo(t);
        if (w.tries > before) tries.push_back(t);
    }
    EXPECT_EQ(tries, (std::vector<int>{2000, 3000, 5000, 9000, 17000, 33000}));
    w.result = Result::Printed;
    w.runTo(100'000);
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_EQ(w.prints[0].at, 65000) << "the pause after the fifth failure";
    EXPECT_FALSE(w.jobThere());
}

TEST_F(Monitor, BytesWrittenWhileAJobPrintsBecomeTheNextJob) {
    w.write("first");
    w.duringPrint = [&] { w.write("second"); };
    w.runTo(6000);
    w.duringPrint = nullptr;
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_EQ(w.prints[0].bytes, "first");
    w.runTo(12'000);
    ASSERT_EQ(w.prints.size(), 2u);
    EXPECT_EQ(w.prints[1].bytes, "second");
}

TEST_F(Monitor, AWriterThatKeepsTheFileOpenLosesNoBurstAndNoneIsPrintedTwice) {
    const int writer = ::open(w.name.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "burst one|", 10), 10);
    w.runTo(6000);
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_TRUE(w.jobThere()) << "its writer still holds it";
    w.runTo(30'000);
    EXPECT_EQ(w.prints.size(), 1u) << "printed bytes stay printed";
    EXPECT_FALSE(w.controls) << "nothing waits";

    ASSERT_EQ(::write(writer, "burst two", 9), 9);
    w.runTo(36'000);
    ASSERT_EQ(w.prints.size(), 2u);
    EXPECT_EQ(w.prints[1].bytes, "burst two");
    ::close(writer);
    w.runTo(40'000);
    EXPECT_FALSE(w.jobThere()) << "gone once its writer closed it";
}

TEST_F(Monitor, AJobThatFailsOnItsOwnBytesIsSetAsideAndTheNextOnePrints) {
    w.write("bad job");
    w.result = Result::JobFailed;
    w.runTo(6000);
    ASSERT_EQ(w.prints.size(), 1u) << "what came before the error printed";
    ASSERT_EQ(w.reports.size(), 1u);
    EXPECT_NE(w.reports[0].find("Range check error"), std::string::npos) << w.reports[0];
    const auto failed = fs::directory_iterator(fs::path(w.name).parent_path() / "failed");
    EXPECT_EQ(test::readFile(failed->path().string()), "bad job");
    EXPECT_FALSE(w.jobThere());

    w.result = Result::Printed;
    w.write("good job");
    w.runTo(12'000);
    ASSERT_EQ(w.prints.size(), 2u);
    EXPECT_EQ(w.prints[1].bytes, "good job");
}

TEST_F(Monitor, ACancelledPrintThrowsItsJobAwayButNotWhatCameMeanwhile) {
    w.write("unwanted");
    w.result = Result::Cancelled;
    w.duringPrint = [&] { w.write("wanted"); };
    w.runTo(6000);
    w.duringPrint = nullptr;
    w.result = Result::Printed;
    w.runTo(12'000);
    ASSERT_EQ(w.prints.size(), 2u);
    EXPECT_EQ(w.prints[1].bytes, "wanted");
}

// What a start finds of a print that never ended: the record beside the job
// file says how far it got.
TEST(Recovery, APrintCutShortIsPrintedAgainOnceButAJobThatKilledUsIsSetAside) {
    struct Case {
        const char* record; // after the "job" line
        int prints;         // of the job, at the next start
        bool setAside;
    };
    const Case cases[] = {
        {"attempt 1\n", 1, false},                     // killed from outside
        {"attempt 1\npart PART\npdf PDF\n", 1, false}, // its files go, it prints whole
        {"attempt 1\ncrashed\n", 0, true},             // a fault while it printed
        {"attempt 3\n", 0, true},                      // cut short three times
        {"attempt 1\ndone\n", 0, false},               // printed; its removal was cut short
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const std::string job = (dir.path() / "prnspl").string();
        std::ofstream(job) << "the job";
        const std::string part = (dir.path() / "x.pdf.part").string();
        const std::string pdf = (dir.path() / "x.pdf").string();
        std::ofstream(part) << "half";
        std::ofstream(pdf) << "whole";
        JobFiles probe;
        const auto st = probe.state(job);
        std::string record = c.record;
        for (const auto& [mark, file] : {std::pair{"PART", part}, std::pair{"PDF", pdf}})
            if (const auto at = record.find(mark); at != std::string::npos)
                record.replace(at, std::string_view(mark).size(), file);
        std::ofstream(job + ".printing")
            << "job " << st->id.device << ' ' << st->id.inode << " 0 7\n"
            << record;

        Window w(dir.path());
        w.runTo(10'000);
        EXPECT_EQ(int(w.prints.size()), c.prints) << c.record;
        EXPECT_EQ(fs::exists(dir.path() / "failed"), c.setAside) << c.record;
        EXPECT_FALSE(w.jobThere()) << c.record;
        EXPECT_FALSE(fs::exists(job + ".printing")) << c.record;
        const bool listed = std::string(c.record).find("part") != std::string::npos;
        EXPECT_NE(fs::exists(part), listed) << c.record;
        EXPECT_NE(fs::exists(pdf), listed) << c.record;
    }
}

} // namespace marlix
