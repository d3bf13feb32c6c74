// The marlix program run as a user runs it: a job file on the command line,
// its own settings file, PDFs in a folder of the test's.
#include "../support/Loopback.h"
#include "../support/Pdf.h"
#include "../support/TempDir.h"
#include "../support/WaitFor.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSettings>
#include <algorithm>
#include <gtest/gtest.h>

using namespace marlix::test;

namespace {

struct Result {
    int exitCode;
    QStringList pdfs;
    QString err;
};

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings = QString::fromStdString((dir.path() / "marlix.ini").string());
        pdfFolder = QString::fromStdString((dir.path() / "pdf").string());
        setSettings("");
    }
    void setSettings(const QString& extra) {
        QFile f(settings);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(("[General]\nCapturePort=0\nPdfFolder=" + pdfFolder + "\n" + extra).toUtf8());
    }
    QProcessEnvironment environment() {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MARLIX_SETTINGS"), settings);
        // The user's own folders stay out of it: "Documents" is the test's.
        env.insert(QStringLiteral("HOME"), QString::fromStdString(dir.path().string()));
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        // No print server: these tests must never reach a real printer.
        env.insert(QStringLiteral("CUPS_SERVER"),
                   QString::fromStdString((dir.path() / "no-cups.sock").string()));
        // A resident copy of another test must not take this test's requests.
        const auto runtime = dir.path() / "runtime";
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime.string()));
        return env;
    }
    Result marlix(const QStringList& args, const QByteArray& input = {}) {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QStringLiteral(MARLIX_EXE), args);
        p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(60000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        return {p.exitCode(), out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                QString::fromUtf8(p.readAllStandardError())};
    }
    QString job(std::string_view bytes) { return QString::fromStdString(dir.write("job", bytes)); }

    TempDir dir;
    QString settings;
    QString pdfFolder;
};

TEST_F(CommandLineTest, PrintsAFileToPdfAndSaysWhere) {
    const Result r = marlix({job("AB\r\nCD\fEF")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(r.pdfs.size(), 1);
    EXPECT_TRUE(r.pdfs[0].startsWith(pdfFolder));
    EXPECT_EQ(pdfPages(r.pdfs[0]), 2);
    const QString text = pdfText(r.pdfs[0]);
    EXPECT_TRUE(text.contains(QStringLiteral("AB"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("EF")));
}

TEST_F(CommandLineTest, StoredSettingsShapeThePage) {
    setSettings(QStringLiteral("PageFeed=0\nLeftMargin=10\nTopMargin=10\nCPI=10\nLPI=6\n"
                               "DefaultFont=0\nOrientation=1\n"));
    const Result r = marlix({job("AB\r\nCD\fEF")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(r.pdfs.size(), 1);
    EXPECT_EQ(pdfPages(r.pdfs[0]), 1);
    EXPECT_TRUE(run(QStringLiteral("pdfinfo"), {r.pdfs[0]}).contains(QStringLiteral("842 x 595")));
    const auto words = pdfWords(r.pdfs[0]);
    ASSERT_FALSE(words.empty());
    EXPECT_NEAR(words[0].xMin, 236 * 72.0 / 600, 0.05);
    EXPECT_NEAR(words[0].xMax - words[0].xMin, 2 * 60 * 72.0 / 600, 0.1);
}

TEST_F(CommandLineTest, ACp866ReportPrintsItsLettersAndFrames) {
    const Result r = marlix({QStringLiteral(MARLIX_SAMPLES "/cp866-report.prn")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(r.pdfs.size(), 1);
    const QString text = pdfText(r.pdfs[0]);
    EXPECT_TRUE(text.contains(QStringLiteral("СКЛАДСКОЙ ОТЧЁТ ЗА ДЕКАБРЬ"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Петли дверные")));
    EXPECT_FALSE(text.contains(QChar(0x2550))) << "frames are drawn as lines, not as text";
}

TEST_F(CommandLineTest, AMissingCodePageFileIsAnErrorNotAnEmptyPrint) {
    setSettings(QStringLiteral("CodePage=nosuch\n"));
    const Result r = marlix({job("AB")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Cannot open file")) &&
                r.err.contains(QStringLiteral("nosuch.cp")))
        << r.err.toStdString();
    EXPECT_TRUE(r.pdfs.isEmpty());
}

TEST_F(CommandLineTest, TheEpsonSampleShowsEveryCommandOnThePage) {
    setSettings(QStringLiteral("Sequence=Epson Matrix\n"));
    const Result r = marlix({QStringLiteral(MARLIX_SAMPLES "/epson.prn")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(r.pdfs.size(), 1);
    const QString fonts = run(QStringLiteral("pdffonts"), {r.pdfs[0]});
    for (const char* face : {"LiberationMono-Bold", "LiberationMono-Italic", "LiberationMono "})
        EXPECT_TRUE(fonts.contains(QLatin1String(face))) << face;

    const auto words = pdfWords(r.pdfs[0]);
    auto word = [&](const char* text) {
        for (const PdfWord& w : words)
            if (w.text == QLatin1String(text)) return w;
        ADD_FAILURE() << "no word " << text;
        return PdfWord{};
    };
    // ESC $ positions count from the printable edge (100 dots, 12 pt, in).
    EXPECT_NEAR(word("|2\"").xMin, 12 + 2 * 72, 0.1);
    EXPECT_NEAR(word("|6\"").xMin, 12 + 6 * 72, 0.1);
    // 10 CPI is 7.2 pt a character, condensed 33 dots, double width 14.4 pt.
    EXPECT_NEAR(word("Bold:").xMax - word("Bold:").xMin, 5 * 7.2, 0.2);
    EXPECT_NEAR(word("condensed").xMax - word("condensed").xMin, 9 * 33 * 72.0 / 600, 0.2);
    EXPECT_NEAR(word("WIDE").xMax - word("WIDE").xMin, 4 * 14.4, 0.2);
    // The script characters are smaller than the line they stand on.
    EXPECT_LT(word("n+1").yMax - word("n+1").yMin, word("Scripts:").yMax - word("Scripts:").yMin);
    // Nothing of the escape sequences reaches the paper.
    EXPECT_FALSE(pdfText(r.pdfs[0]).contains(QStringLiteral("-1")));
}

TEST_F(CommandLineTest, UnderlineStartsUnderTheFirstUnderlinedCharacter) {
    setSettings(QStringLiteral("Sequence=Epson Matrix\nDefaultFont=0\nCPI=10\nLPI=6\n"
                               "LeftMargin=10\nTopMargin=10\n"));
    const Result r = marlix({job("plain text here \x1b-1UNDERLINED\x1b-0 plain")});
    ASSERT_EQ(r.pdfs.size(), 1);
    const QImage page = pdfPicture(r.pdfs[0], 100);
    ASSERT_FALSE(page.isNull());
    // At 100 dpi a cell is 10 dots; the underlined text starts 16 cells in.
    const int left = int((10 / 25.4 + 16 / 10.0) * 100);
    int longest = 0, longestStart = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0, run = 0; x < page.width(); ++x) {
            run = qGray(page.pixel(x, y)) < 128 ? run + 1 : 0;
            if (run > longest) {
                longest = run;
                longestStart = x - run + 1;
            }
        }
    EXPECT_GE(longest, 90) << "an underline under 10 characters";
    EXPECT_NEAR(longestStart, left, 3);
}

TEST_F(CommandLineTest, TheHpSampleEndsInALandscapeDocument) {
    setSettings(QStringLiteral("Sequence=HP PCL\n"));
    const Result r = marlix({QStringLiteral(MARLIX_SAMPLES "/hp-pcl.prn")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(r.pdfs.size(), 2);
    EXPECT_TRUE(run(QStringLiteral("pdfinfo"), {r.pdfs[0]}).contains(QStringLiteral("595 x 842")));
    EXPECT_TRUE(run(QStringLiteral("pdfinfo"), {r.pdfs[1]}).contains(QStringLiteral("842 x 595")));
    EXPECT_TRUE(pdfText(r.pdfs[1]).contains(QStringLiteral("landscape document")));
    const auto words = pdfWords(r.pdfs[0]);
    const auto at = std::find_if(words.begin(), words.end(),
                                 [](const PdfWord& w) { return w.text == QLatin1String("At"); });
    ASSERT_NE(at, words.end());
    EXPECT_NEAR(at->xMin, 12 + 72, 0.1);
    EXPECT_NEAR(at->yMin + (at->yMax - at->yMin), 12 + 5 * 72 + (at->yMax - at->yMin), 2.5);
}

TEST_F(CommandLineTest, AJobThatFailsOnItsOwnBytesKeepsItsPagesAndMarginsWithoutRoomPrintNothing) {
    const Result failed = marlix({QStringLiteral("--scheme"), QStringLiteral("epson matrix"),
                                  job("page one\fpage two\x1br\x07")});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.err.contains(QStringLiteral("Range check error")))
        << failed.err.toStdString();
    ASSERT_EQ(failed.pdfs.size(), 1) << "what came before the error is printed";
    EXPECT_EQ(pdfPages(failed.pdfs[0]), 2);

    setSettings(QStringLiteral("TopMargin=150\nBottomMargin=150\n"));
    const Result noRoom = marlix({job("AB")});
    EXPECT_EQ(noRoom.exitCode, 1);
    EXPECT_TRUE(
        noRoom.err.contains(QStringLiteral("no room for a line: top 150 mm, bottom 150 mm")))
        << noRoom.err.toStdString();
    EXPECT_TRUE(noRoom.pdfs.isEmpty());
}

TEST_F(CommandLineTest, AFirstRunWritesTheDefaultSchemes) {
    ASSERT_EQ(marlix({job("A")}).exitCode, 0);
    QSettings stored(settings, QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("Sequence")).toString(), QStringLiteral("Default"));
    EXPECT_EQ(stored.value(QStringLiteral("Sequences/HP PCL/Reset")).toString(),
              QStringLiteral("[#27]E"));
}

TEST_F(CommandLineTest, AnUnwritableSettingsStoreStillPrints) {
    settings = QString::fromStdString((dir.path() / "folder.ini").string());
    std::filesystem::create_directories(settings.toStdString());
    const Result r = marlix({job("\x1b"
                                 "Bbold")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("The settings file ") + settings +
                               QStringLiteral(" cannot be read")))
        << r.err.toStdString();
    EXPECT_EQ(r.err.count(QStringLiteral("settings file")), 1) << "said once";
    ASSERT_EQ(r.pdfs.size(), 1);
    EXPECT_TRUE(r.pdfs[0].startsWith(QString::fromStdString((dir.path() / "Documents").string())))
        << "no PdfFolder: the documents folder";
}

TEST_F(CommandLineTest, AJobOfOnlyControlCodesWritesNothing) {
    const Result r = marlix({job("\r\n\f\f")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.pdfs.isEmpty());
}

TEST_F(CommandLineTest, ANameThatIsNoFileStartsTheProgramWhichSavesWhenTheSessionEnds) {
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral(MARLIX_EXE), {QStringLiteral("/nonexistent/job.prn")});
    ASSERT_TRUE(p.waitForStarted());
    QString err;
    for (int i = 0; i < 300 && !err.contains(QStringLiteral("is no file")); ++i) {
        p.waitForReadyRead(100);
        err += QString::fromUtf8(p.readAllStandardError());
    }
    EXPECT_TRUE(err.contains(QStringLiteral("/nonexistent/job.prn is no file")))
        << err.toStdString();
    EXPECT_FALSE(p.waitForFinished(1500)) << "the program runs on";
    p.terminate(); // SIGTERM, as a log-out sends it
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    QSettings stored(settings, QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("TimeOut")).toInt(), 3);
    EXPECT_EQ(stored.value(QStringLiteral("Printer")).toString(), QStringLiteral("Print to PDF"));
}

TEST_F(CommandLineTest, AnUnwritablePdfFolderFailsAndKeepsTheJobFile) {
    const QString file = job("AB");
    pdfFolder = QString::fromStdString(dir.write("blocker", "x")) + "/pdf";
    setSettings("");
    const Result r = marlix({file});
    EXPECT_NE(r.exitCode, 0);
    // The program's text, then why, on the same line for a terminal.
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("Cannot create file ") + pdfFolder +
                                 QStringLiteral(": Not a directory")))
        << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(file));
}

TEST_F(CommandLineTest, WithoutAPrintServerOnlyPrintToPdfIsThereAndIsCurrent) {
    setSettings(QStringLiteral("Printer=MarlixTest\n"));
    const Result r = marlix({QStringLiteral("--list-printers")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.pdfs, QStringList{QStringLiteral("* Print to PDF")});
    const Result printed = marlix({job("still prints")});
    EXPECT_EQ(printed.exitCode, 0);
    EXPECT_EQ(printed.pdfs.size(), 1);
}

// The options of one run: what they print, and that they change nothing stored.
TEST_F(CommandLineTest, HelpListsEveryOptionAndAWrongOneExitsWithTwo) {
    const Result help = marlix({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    const QString text = help.pdfs.join('\n');
    for (const char* option :
         {"-h, --help", "-v, --version", "--list-printers", "-o, --output", "-P, --printer",
          "--code-page", "--scheme", "--settings", "--service", "FILE"})
        EXPECT_TRUE(text.contains(QLatin1String(option))) << option;
    EXPECT_TRUE(text.startsWith(QStringLiteral("Usage: marlix")));
    EXPECT_TRUE(marlix({QStringLiteral("-v")}).pdfs.value(0).startsWith(QStringLiteral("marlix ")));

    const QString report = QStringLiteral(MARLIX_SAMPLES "/report.prn");
    const QString out = QString::fromStdString((dir.path() / "out.pdf").string());
    const QStringList wrong[] = {{"--bogus"},
                                 {"--output"},
                                 {"-o", out},
                                 {"-o", out, "/nonexistent/job.prn"},
                                 {"--scheme", "Nope", "-o", out, report},
                                 {"--code-page", "999", "-o", out, report},
                                 {"-P", "No such printer", report},
                                 {"-P", "Print to PDF", "-o", out, report},
                                 {"--service", report}};
    for (const QStringList& args : wrong) {
        const Result r = marlix(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("marlix: "))) << r.err.toStdString();
        EXPECT_EQ(r.err.trimmed().count(QLatin1Char('\n')), 0)
            << "one line: " << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(out));
    }
}

TEST_F(CommandLineTest, OutputWritesExactlyThatFileFromAFileOrStandardInput) {
    const QString out = QString::fromStdString((dir.path() / "out.pdf").string());
    marlix({job("first run")}); // the schemes are written once
    QFile f(settings);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray stored = f.readAll();
    f.close();

    const Result r =
        marlix({QStringLiteral("-o"), out, QStringLiteral(MARLIX_SAMPLES "/cp866-report.prn")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.pdfs, QStringList{out});
    EXPECT_TRUE(pdfText(out).contains(QStringLiteral("Склад")) ||
                pdfText(out).contains(QStringLiteral("СКЛАД")))
        << pdfText(out).toStdString();

    // A second run writes the same file again; standard input is a job too.
    const Result piped =
        marlix({QStringLiteral("--output"), out, QStringLiteral("-")}, "From a pipe\r\n");
    ASSERT_EQ(piped.exitCode, 0) << piped.err.toStdString();
    EXPECT_EQ(pdfText(out).simplified(), QStringLiteral("From a pipe"));
    EXPECT_EQ(QDir(pdfFolder).entryList(QDir::Files).size(), 1) << "only the first run's";

    // A job that turns to landscape midway writes its second document beside it.
    const Result hp = marlix({"--scheme", "HP PCL", "-o", out, MARLIX_SAMPLES "/hp-pcl.prn"});
    const QString second = QString::fromStdString((dir.path() / "out (2).pdf").string());
    ASSERT_EQ(hp.pdfs, (QStringList{out, second})) << hp.err.toStdString();
    EXPECT_TRUE(run(QStringLiteral("pdfinfo"), {second}).contains(QStringLiteral("842 x 595")));

    // The code page and the scheme are this run's, and nothing is saved.
    const Result cp437 = marlix({"--code-page", "437", "-o", out, "-"}, "\x80");
    ASSERT_EQ(cp437.exitCode, 0) << cp437.err.toStdString();
    EXPECT_EQ(pdfText(out).simplified(), QStringLiteral("Ç"));
    marlix({"--code-page", "866", "--scheme", "Epson Matrix", "-o", out, "-"}, "A\x1b"
                                                                               "EB");
    EXPECT_EQ(pdfText(out).simplified(), QStringLiteral("AB"));
    marlix({"--scheme", "No sequences", "-o", out, "-"}, "A\x1b"
                                                         "EB");
    EXPECT_TRUE(pdfText(out).contains(QStringLiteral("EB")));
    // The built-in emulation takes what no scheme knows: ESC @, ESC x 1, ESC 3 n.
    marlix({"--scheme", "Epson ESC/P2", "-o", out, "-"}, "\x1b@\x1bx\x01\x1b"
                                                         "3\x1eHello");
    EXPECT_EQ(pdfText(out).simplified(), QStringLiteral("Hello"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), stored);
}

TEST_F(CommandLineTest, TheServicePrintsCapturedAndWrittenJobsAndStopsAfterTheJobInHand) {
    const QString spool = QString::fromStdString((dir.path() / "prnspl").string());
    setSettings(QStringLiteral("TimeOut=1\nSpool=%1\n").arg(spool));
    QProcess service;
    service.setProcessEnvironment(environment());
    service.start(QStringLiteral(MARLIX_EXE), {QStringLiteral("--service")});
    ASSERT_TRUE(service.waitForStarted());
    QString log;
    auto logged = [&](const QString& what, int count, int ms = 15000) {
        return waitFor(
            [&] {
                log += QString::fromUtf8(service.readAllStandardError());
                return log.count(what) >= count;
            },
            ms);
    };
    ASSERT_TRUE(logged(QStringLiteral("started"), 1)) << log.toStdString();
    const QRegularExpression endpoint(QStringLiteral("capture on 127.0.0.1:(\\d+)"));
    const auto port = endpoint.match(log).captured(1).toUShort();
    ASSERT_NE(port, 0) << log.toStdString();

    // A second one is refused while this one runs.
    const Result second = marlix({QStringLiteral("--service")});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(second.err.contains(QStringLiteral("already running"))) << second.err.toStdString();

    ASSERT_TRUE(sendJob(port, "Captured line\r\n"));
    ASSERT_TRUE(logged(QStringLiteral("printed 15 bytes, 1 pages on Print to PDF: "), 1))
        << log.toStdString();

    dir.write("prnspl", "Written line\r\n");
    ASSERT_TRUE(logged(QStringLiteral("printed 14 bytes, 1 pages"), 1)) << log.toStdString();
    EXPECT_FALSE(QFile::exists(spool)) << "printed and deleted";

    // A long job: SIGTERM while it prints lets it finish, then the service ends.
    std::string big;
    for (int line = 0; line < 60000; ++line)
        big += "A long job's line of text, printed to the end before the service stops.\r\n";
    dir.write("prnspl", big);
    ASSERT_TRUE(waitFor([&] { return QDir(pdfFolder).entryList(QDir::Files).size() == 3; }));
    service.terminate();
    // The service gives a job 40 s after a signal; a slow build may need them.
    ASSERT_TRUE(logged(QStringLiteral("printed %1 bytes").arg(big.size()), 1, 40000))
        << log.toStdString();
    QElapsedTimer sincePrinted;
    sincePrinted.start();
    // It may have ended while the log was read.
    ASSERT_TRUE(service.state() == QProcess::NotRunning || service.waitForFinished(2000))
        << log.toStdString();
    EXPECT_LT(sincePrinted.elapsed(), 2000);
    EXPECT_EQ(service.exitCode(), 0);
    log += QString::fromUtf8(service.readAllStandardError());
    EXPECT_TRUE(log.contains(QStringLiteral("stopped")));
    EXPECT_EQ(log.count(QStringLiteral(" printed ")), 3) << log.toStdString();
}

// The Epson ESC/P2 samples, printed to PDF as a user would and read back:
// text where the commands put it, images at their true size.
class EpsonSampleTest : public CommandLineTest {
protected:
    void SetUp() override {
        CommandLineTest::SetUp();
        setSettings(QStringLiteral("DefaultFont=0\nCPI=10\nLPI=6\n"));
    }
    QString print(const char* sample) {
        const QString pdf = QString::fromStdString((dir.path() / "out.pdf").string());
        const Result r = marlix({QStringLiteral("--scheme"), QStringLiteral("Epson ESC/P2"),
                                 QStringLiteral("-o"), pdf,
                                 QStringLiteral(MARLIX_SAMPLES "/") + QLatin1String(sample)});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        words = pdfWords(pdf);
        return pdf;
    }
    // The n-th word of that text (0 the first).
    PdfWord word(const char* text, int n = 0) {
        for (const PdfWord& w : words)
            if (w.text == QString::fromUtf8(text) && n-- == 0) return w;
        ADD_FAILURE() << "no word " << text;
        return PdfWord{};
    }
    // Boxes of the dark pixels in region, one per stretch of rows (or
    // columns) with dark pixels, split where a light gap is wider than 2.
    static std::vector<QRect> blobs(const QImage& image, QRect region, bool across = false) {
        std::vector<QRect> out;
        const int outer = across ? region.width() : region.height();
        const int inner = across ? region.height() : region.width();
        int gap = 99;
        for (int i = 0; i < outer; ++i) {
            QRect found;
            for (int j = 0; j < inner; ++j) {
                const int x = region.left() + (across ? i : j);
                const int y = region.top() + (across ? j : i);
                if (qGray(image.pixel(x, y)) < 128) found |= QRect(x, y, 1, 1);
            }
            if (found.isNull()) {
                ++gap;
                continue;
            }
            if (gap > 2 || out.empty())
                out.push_back(found);
            else
                out.back() |= found;
            gap = 0;
        }
        return out;
    }

    std::vector<PdfWord> words;
};

TEST_F(EpsonSampleTest, StylesSetTheCellOfEachLine) {
    const QString pdf = print("escp2-styles.prn");
    EXPECT_EQ(words.at(0).text, QStringLiteral("STYLES.")) << "ESC @ and ESC x 1 print nothing";
    // 10 CPI is 7.2 pt a character at 600 dpi; the others are whole dots.
    EXPECT_NEAR(word("Plain").xMax - word("Plain").xMin, 5 * 7.2, 0.2);
    EXPECT_NEAR(word("Double").xMax - word("Double").xMin, 6 * 14.4, 0.3);
    EXPECT_NEAR(word("Elite,").xMax - word("Elite,").xMin, 6 * 6.0, 0.2);
    EXPECT_NEAR(word("Condensed,").xMax - word("Condensed,").xMin, 10 * 33 * 0.12, 0.3);
    EXPECT_NEAR(word("15").xMax - word("15").xMin, 2 * 4.8, 0.2);
    EXPECT_NEAR(word("normal").xMax - word("normal").xMin, 6 * 7.2, 0.2) << "SO ends with its line";
    EXPECT_GT(word("20").yMax - word("20").yMin, 1.7 * (word("10", 1).yMax - word("10", 1).yMin))
        << "ESC X: 20 point";
    const QString fonts = run(QStringLiteral("pdffonts"), {pdf});
    for (const char* face :
         {"LiberationMono-Bold", "LiberationMono-Italic", "LiberationMono-BoldItalic"})
        EXPECT_TRUE(fonts.contains(QLatin1String(face))) << face;
}

TEST_F(EpsonSampleTest, SpacingAndFormsPlaceTheLines) {
    const QString pdf = print("escp2-spacing.prn");
    EXPECT_EQ(pdfPages(pdf), 3);
    const std::pair<const char*, double> groups[] = {
        {"1/8", 9}, {"1/6", 12}, {"1/5", 14.4}, {"1/3", 24}, {"1/4", 18}};
    for (auto [name, points] : groups) {
        EXPECT_NEAR(word(name, 1).yMin - word(name, 0).yMin, points, 0.1) << name;
        EXPECT_NEAR(word(name, 2).yMin - word(name, 1).yMin, points, 0.1) << name;
    }
    EXPECT_NEAR(word("here.").yMin - word("Next,").yMin, 12 + 36, 0.1) << "ESC J 90: half an inch";
    // The form of 4 lines is a page: line 5 opens the next one.
    EXPECT_EQ(word("Form").page, 2);
    int lastOfPage2 = 0;
    for (const PdfWord& w : words)
        if (w.page == 2 && w.text == QStringLiteral("Form")) ++lastOfPage2;
    EXPECT_EQ(lastOfPage2, 4);
    EXPECT_EQ(word("5").page, 3);
}

TEST_F(EpsonSampleTest, TabsAndMarginsStandInTheirColumns) {
    print("escp2-tabs.prn");
    const double left = word("TABS").xMin, top = word("TABS").yMin, cell = 7.2;
    EXPECT_NEAR(word("HT:").xMin - left, 8 * cell, 0.1);
    EXPECT_NEAR(word("|21").xMin - left, 21 * cell, 0.1);
    EXPECT_NEAR(word("|41").xMin - left, 41 * cell, 0.1);
    EXPECT_NEAR(word("|20").xMin - left, 144, 0.1) << "ESC $ 120: two inches";
    EXPECT_NEAR(word("|26.5").xMin - left, 24 * cell + 18, 0.1) << "ESC \\ 30: a quarter inch";
    EXPECT_NEAR(word("ock").xMin - left, 10 * cell, 0.1) << "ESC l 10";
    for (const PdfWord& w : words)
        if (w.yMin > word("ock").yMin - 40 && w.yMin <= word("ock").yMin && w.xMin > left + 1) {
            EXPECT_LE(w.xMax - left, 40 * cell + 0.1) << "ESC Q 40: " << w.text.toStdString();
        }
    EXPECT_NEAR(word("30.").yMin - top, 30 * 12, 0.1) << "VT to the stop of ESC B";
    EXPECT_NEAR(word("35.", 1).yMin - top, 35 * 12, 0.1);
}

TEST_F(EpsonSampleTest, CharacterTablesSwitchMidJob) {
    const QString pdf = print("escp2-tables.prn");
    const QString text = pdfText(pdf);
    for (const char* shown : {"Çüéâ", "Привет, мир!", "ø Ø Á È", "ů č ž š", "Italic and upright",
                              "# $ § Ä Ö Ü ^ ` ä ö ü ß", "£ $ @", "₧ $ @ ¡ Ñ ¿ ^ ` ¨ ñ } ~",
                              "# $ § ° ' \" ¶ ` © ® † ™", "☺☻♥♦♣♠►◄▲▼"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(shown))) << shown;
    EXPECT_TRUE(run(QStringLiteral("pdffonts"), {pdf}).contains(QLatin1String("Italic")));
}

TEST_F(EpsonSampleTest, BitImagesHaveTheirTrueSize) {
    const QString pdf = print("escp2-images.prn");
    const QImage page = pdfPicture(pdf, 150);
    ASSERT_FALSE(page.isNull());
    const double px = 150 / 72.0;
    const int left = int(word("BIT").xMin * px) - 2;
    const int from = int(word("the").yMax * px) + 4, to = int(word("Above:").yMin * px) - 4;
    const auto rows = blobs(page, QRect(left, from, page.width() - left, to - from));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_NEAR(rows[0].width(), 150, 2) << "the logo: an inch across";
    EXPECT_NEAR(rows[0].height(), 150, 2);
    EXPECT_NEAR(rows[1].width(), 300, 2) << "the barcode: two inches";
    EXPECT_NEAR(rows[1].height(), 60, 2) << "three bands of 8/60 inch";
    const auto blocks = blobs(page, rows[2], true);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_NEAR(blocks[0].width(), 50, 2) << "60 dpi";
    EXPECT_NEAR(blocks[1].width(), 25, 2) << "120 dpi";
    EXPECT_NEAR(blocks[2].width(), 12.5, 2) << "240 dpi";
    for (const QRect& b : blocks)
        EXPECT_NEAR(b.height(), 20, 2);
    EXPECT_NEAR(blocks[1].left() - blocks[0].right(), 24 * 150 / 120.0, 2) << "ESC \\ 24";
}

TEST_F(EpsonSampleTest, RasterImagesHaveTheirTrueSize) {
    const QString pdf = print("escp2-raster.prn");
    const QImage page = pdfPicture(pdf, 150);
    ASSERT_FALSE(page.isNull());
    const double px = 150 / 72.0;
    const int left = int(word("RASTER").xMin * px) - 2;
    const int from = int(word("checkerboard").yMax * px) + 4;
    const auto rows = blobs(page, QRect(left, from, page.width() - left, page.height() - from));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NEAR(rows[0].width(), 150, 2) << "the disc: an inch at 360 dpi";
    EXPECT_NEAR(rows[0].height(), 150, 2) << "compressed and plain bands meet";
    EXPECT_NEAR(rows[1].width(), 150, 2);
    EXPECT_NEAR(rows[1].height(), 75, 2);
    EXPECT_NEAR(rows[1].top() - rows[0].bottom(), 15, 2) << "ESC ( v 36: a tenth of an inch";
}

} // namespace
