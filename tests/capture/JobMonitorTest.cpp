// The monitor's rules under a test clock: the two timers are simulated, so a
// minute of watching runs in no time.
#include "FakeJobFiles.h"
#include "capture/JobMonitor.h"
#include "core/Errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace marlix {
namespace {

struct Print {
    int at;           // ms
    std::string bytes; // what the job file held
};

// The window around the monitor, with Timer1 and Timer2 on a simulated clock.
class Window final : public JobMonitor::Host {
public:
    test::FakeJobFiles files;
    JobMonitor monitor{*this, files};
    std::string name = "prnspl";
    bool autoPrintOn = true;
    bool endOfPage = false;
    int seconds = 3;
    bool controls = false;
    bool icon = false;
    bool failPrints = false;
    std::vector<Print> prints;
    std::vector<bool> jobsDone;
    std::function<void()> duringPrint;

    int now = 0;
    int interval1 = 0; // Timer1, 0 = stopped
    int next1 = 0;
    int next2 = 100;

    Window() { setMonitorInterval(seconds * 1000); }

    std::string jobFileName() override { return name; }
    bool autoPrint() override { return autoPrintOn; }
    bool printAtEndOfPage() override { return endOfPage; }
    int timeOut() override { return seconds; }
    std::uint64_t PrintOut(const std::string& file) override {
        setMonitorInterval(0);
        if (failPrints) throw Error("Cannot open file " + file);
        const std::string bytes = files.files.at(file);
        if (duringPrint) duringPrint();
        prints.push_back({now, bytes});
        return bytes.size();
    }
    void setJobControls(bool enabled) override { controls = enabled; }
    void setPendingIcon(bool shown) override { icon = shown; }
    void setMonitorInterval(int ms) override {
        interval1 = ms;
        next1 = now + ms;
    }
    void jobDone(bool ended) override { jobsDone.push_back(ended); }

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
    void write(const std::string& bytes) { files.files[name] += bytes; }
};

TEST(TimeOutRule, AJobPrintsBetweenOneAndTwoTimeOutsAfterItsLastByte) {
    for (int lastByte : {0, 1, 700, 2999, 3000, 4500}) {
        Window w;
        w.runTo(lastByte);
        w.write("page one\r\n\f");
        w.runTo(lastByte + 10'000);
        ASSERT_EQ(w.prints.size(), 1u) << lastByte;
        EXPECT_GE(w.prints[0].at - lastByte, 3000) << lastByte;
        EXPECT_LE(w.prints[0].at - lastByte, 6000) << lastByte;
        EXPECT_FALSE(w.files.size("prnspl")) << "deleted after printing";
        EXPECT_EQ(w.interval1, 3000) << "restarted after the print";
    }
}

TEST(TimeOutRule, AFileThatGrowsAtEveryTickNeverPrintsUntilItStops) {
    Window w;
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

TEST(TimeOutRule, EmptyFilesWaitAndRenamesCountFromTheNextTick) {
    Window w;
    w.files.files["prnspl"] = "";
    w.runTo(20'000);
    EXPECT_TRUE(w.prints.empty()) << "an empty job never prints";
    EXPECT_TRUE(w.controls) << "but it keeps the job controls enabled";

    w.files.files["other"] = "report";
    w.name = "other";
    w.runTo(26'000);
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_EQ(w.prints[0].bytes, "report");
    EXPECT_TRUE(w.files.size("prnspl")) << "the old file is left alone";
}

TEST(TimeOutRule, ASecondJobOfTheSameSizePrintsAtItsFirstTick) {
    // The size seen last is kept across prints: a job of the same size looks
    // settled at once. That is how the monitor has always behaved.
    Window w;
    w.write("12345");
    w.runTo(6000);
    ASSERT_EQ(w.prints.size(), 1u);
    w.runTo(7000);
    w.write("abcde");
    const int firstTick = w.next1;
    w.runTo(firstTick);
    ASSERT_EQ(w.prints.size(), 2u);
    EXPECT_EQ(w.prints[1].at, firstTick);
}

TEST(EndOfPageRule, AFormFeedNearTheEndPrintsAtTheNextTickAndNothingElseDoes) {
    Window w;
    w.endOfPage = true;
    w.write("total 100\r\n\f\r\n");
    w.runTo(3000);
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_EQ(w.prints[0].at, 3000);

    w.write("no form feed here\r\n");
    w.runTo(60'000);
    EXPECT_EQ(w.prints.size(), 1u) << "the time-out does not apply";

    // A form feed 33 bytes from the end is outside the window.
    w.files.files["prnspl"] = "\f" + std::string(32, 'y');
    w.runTo(70'000);
    EXPECT_EQ(w.prints.size(), 1u);
    w.files.files["prnspl"] = "\f" + std::string(31, 'y');
    w.runTo(73'000);
    EXPECT_EQ(w.prints.size(), 2u);
}

TEST(AutomaticPrintingOff, ThePendingIconOffersTheJobAndAClickPrintsIt) {
    Window w;
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
    EXPECT_FALSE(w.files.size("prnspl"));
    EXPECT_EQ(w.interval1, 3000);

    w.runTo(30'100);
    EXPECT_FALSE(w.controls);
}

TEST(AutomaticPrintingOff, SwitchingItOnLeavesTheIconUntilTheJobGoes) {
    Window w;
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

TEST(Commands, ClearThrowsTheJobAwayAndPrintNowPrintsIt) {
    Window w;
    w.controls = true;
    w.monitor.discard(); // no job file: only the controls change
    EXPECT_FALSE(w.controls);
    EXPECT_TRUE(w.prints.empty());

    w.write("unwanted");
    w.runTo(200);
    w.monitor.discard();
    EXPECT_FALSE(w.files.size("prnspl"));
    EXPECT_TRUE(w.prints.empty());

    w.write("wanted");
    w.runTo(1400);
    w.monitor.printNow();
    ASSERT_EQ(w.prints.size(), 1u);
    EXPECT_EQ(w.prints[0].bytes, "wanted");
    EXPECT_FALSE(w.controls);
    EXPECT_EQ(w.next1, 1400 + 3000) << "the monitor starts counting anew";
}

TEST(Failures, AFailedPrintKeepsTheJobAndStopsTheMonitor) {
    Window w;
    w.write("job");
    w.failPrints = true;
    EXPECT_THROW(w.runTo(6000), Error);
    EXPECT_TRUE(w.files.size("prnspl"));
    EXPECT_EQ(w.interval1, 0);
    ASSERT_EQ(w.jobsDone.size(), 1u);
    EXPECT_FALSE(w.jobsDone[0]) << "the capture keeps adding to the waiting job";

    w.failPrints = false;
    w.monitor.printNow();
    EXPECT_EQ(w.prints.size(), 1u);
    EXPECT_EQ(w.jobsDone.back(), true);
}

TEST(Failures, BytesWrittenWhileAJobPrintsBecomeTheNextJob) {
    Window w;
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

} // namespace
} // namespace marlix
