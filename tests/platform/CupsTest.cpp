// Jobs through a real print server: the private CUPS server that tools/test
// starts, with its PDF queue "MarlixTest". Skipped when no such server runs.
#include "../support/Pdf.h"
#include "../support/TempDir.h"
#include "engine/PrintEngine.h"
#include "platform/QtPrinter.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <cups/cups.h>
#include <gtest/gtest.h>

using namespace marlix;
using namespace marlix::test;

namespace {

const QString kQueue = QStringLiteral("MarlixTest");

class CupsTest : public ::testing::Test {
protected:
    void SetUp() override {
        out = qEnvironmentVariable("MARLIX_TEST_CUPS_OUT");
        if (out.isEmpty()) GTEST_SKIP() << "no test print server; tools/test starts one";
        before = pdfs();
    }

    QStringList pdfs() const {
        QStringList files;
        for (const QString& f : QDir(out).entryList({QStringLiteral("*.pdf")}, QDir::Files))
            files << QDir(out).filePath(f);
        return files;
    }

    // The PDFs the queue wrote since the test started, once there are n of them.
    QStringList arrived(int n) {
        QDeadlineTimer deadline(60000);
        QStringList fresh;
        while (!deadline.hasExpired()) {
            fresh.clear();
            for (const QString& f : pdfs())
                if (!before.contains(f)) fresh << f;
            // cups-pdf writes the file in place: wait until the job is done with it.
            if (fresh.size() >= n && jobsPending() == 0) break;
            QThread::msleep(50);
        }
        fresh.sort();
        return fresh;
    }

    static int jobsPending() {
        cups_job_t* jobs = nullptr;
        const int n =
            cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, "MarlixTest", 0, CUPS_WHICHJOBS_ACTIVE);
        cupsFreeJobs(n, jobs);
        return n;
    }

    static std::string newestJobTitle() {
        cups_job_t* jobs = nullptr;
        const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, "MarlixTest", 0, CUPS_WHICHJOBS_ALL);
        std::string title;
        int newest = -1;
        for (int i = 0; i < n; ++i)
            if (jobs[i].id > newest) {
                newest = jobs[i].id;
                title = jobs[i].title;
            }
        cupsFreeJobs(n, jobs);
        return title;
    }

    // Landscape pages reach the portrait sheet turned: words run down the page.
    static bool turned(const QString& pdf, const QString& word) {
        for (const PdfWord& w : pdfWords(pdf))
            if (w.text == word) return (w.yMax - w.yMin) > (w.xMax - w.xMin);
        ADD_FAILURE() << "no word " << word.toStdString();
        return false;
    }

    void print(PrintSettings settings, std::string_view bytes) {
        QtPrinter printer(kQueue);
        ASSERT_EQ(printer.name(), kQueue);
        PrintEngine engine(printer);
        engine.settings = settings;
        engine.checksize();
        engine.PrintOut(dir.write("job", bytes));
    }

    // Runs the program on a job with a settings file of these values.
    void marlix(const std::string& settings, std::string_view job) {
        const QString ini =
            QString::fromStdString(dir.write("marlix.ini", "[General]\n" + settings));
        QProcess p;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MARLIX_SETTINGS"), ini);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(MARLIX_EXE), {QString::fromStdString(dir.write("job", job))});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty()) << "no PDF of its own for a real queue";
        EXPECT_FALSE(p.readAllStandardError().contains("No Such")) << "falls back silently";
    }

    QString out;
    QStringList before;
    TempDir dir;
};

TEST_F(CupsTest, TheQueueIsListedAndChosenWithoutRegardToCase) {
    EXPECT_TRUE(QtPrinter::printerNames().contains(kQueue));
    EXPECT_TRUE(QtPrinter::printerNames().contains(kPdfPrinterName));
    EXPECT_EQ(QtPrinter::findPrinter(QStringLiteral("marlixtest")), kQueue);
    EXPECT_EQ(QtPrinter::defaultPrinterName(), kQueue);
}

TEST_F(CupsTest, AJobArrivesAsOneDocumentTitledDosConsoleTask) {
    QElapsedTimer clock;
    clock.start();
    print({}, "FIRST PAGE\r\n\fSECOND PAGE\r\n");
    const QStringList files = arrived(1);
    ASSERT_EQ(files.size(), 1);
    std::printf("job printed and written by the queue in %lld ms\n", clock.elapsed());
    EXPECT_EQ(pdfPages(files[0]), 2);
    const QString text = pdfText(files[0]);
    EXPECT_TRUE(text.contains(QStringLiteral("FIRST PAGE"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("SECOND PAGE")));
    EXPECT_EQ(newestJobTitle(), "DOS-console task");
}

TEST_F(CupsTest, OrientationIsSetBetweenDocuments) {
    PrintSettings landscape;
    landscape.landscape = true;
    print(landscape, "WIDE\r\n");
    print({}, "TALL\r\n");
    const QStringList files = arrived(2);
    ASSERT_EQ(files.size(), 2);
    EXPECT_TRUE(turned(files[0], QStringLiteral("WIDE")));
    EXPECT_FALSE(turned(files[1], QStringLiteral("TALL")));
}

TEST_F(CupsTest, TheCommandLinePrintsOnTheStoredPrinterOrFallsBackToTheDefault) {
    for (const char* stored : {"marlixtest", "No Such Printer"}) {
        before = pdfs();
        const QString ini = QString::fromStdString(
            dir.write("marlix.ini", std::string("[General]\nPrinter=") + stored + "\n"));
        QProcess p;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MARLIX_SETTINGS"), ini);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(MARLIX_EXE), {QString::fromStdString(dir.write("job", "CLI JOB"))});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty()) << "no PDF of its own for a real queue";
        EXPECT_FALSE(p.readAllStandardError().contains("No Such")) << "falls back silently";
        const QStringList files = arrived(1);
        ASSERT_EQ(files.size(), 1) << stored;
        EXPECT_TRUE(pdfText(files[0]).contains(QStringLiteral("CLI JOB")));
    }
}

TEST_F(CupsTest, ALandscapeSequenceMidJobSplitsTheJobIntoTwoDocuments) {
    marlix("Printer=MarlixTest\nSequence=Default\n", "UPRIGHT\r\n\x1bOLTURNED\r\n");
    const QStringList files = arrived(2);
    ASSERT_EQ(files.size(), 2);
    EXPECT_FALSE(turned(files[0], QStringLiteral("UPRIGHT")));
    EXPECT_TRUE(turned(files[1], QStringLiteral("TURNED")));
}

} // namespace
