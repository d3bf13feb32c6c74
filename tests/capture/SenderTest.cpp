// Real senders against a real resident marlix with its print port on: a DOS
// program in an emulator writing to COM1, a print server's raw queue, and a
// program that appends to the job file by itself. Each test has its own
// home, settings file, port, job file and PDF folder.
#include "../support/Pdf.h"
#include "../support/TempDir.h"
#include "../support/WaitFor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <set>

using namespace marlix::test;

namespace {

// A port free on both loopback addresses, as the program listens on both.
quint16 freePort() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        QTcpServer v4;
        if (!v4.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0)) continue;
        const quint16 port = v4.serverPort();
        QTcpServer v6;
        if (!v6.listen(QHostAddress(QStringLiteral("::1")), port) &&
            v6.serverError() == QAbstractSocket::AddressInUseError)
            continue;
        return port;
    }
    return 0;
}

// The local addresses that listen on the port, as the system reports them.
std::set<QString> listenersOn(quint16 port) {
    const QString table = run(QStringLiteral("ss"), {QStringLiteral("-ltnH")});
    const QString suffix = QLatin1Char(':') + QString::number(port);
    std::set<QString> found;
    for (const QString& line : table.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList cols = line.simplified().split(QLatin1Char(' '));
        if (cols.size() >= 4 && cols[3].endsWith(suffix)) found.insert(cols[3]);
    }
    return found;
}

// Admin tools live in sbin, which a user's PATH may leave out.
QString tool(const char* name) {
    QString path = QStandardPaths::findExecutable(QLatin1String(name));
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            QLatin1String(name), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return path;
}

bool installed(const char* name) {
    return !tool(name).isEmpty();
}

// A few distinct lines of plain text, DOS line ends, as a report program writes them.
std::string reportJob(const char* sender, int lines) {
    std::string job;
    for (int i = 1; i <= lines; ++i)
        job += std::string(sender) + " line " + std::to_string(i) + " of " + std::to_string(lines) +
               "\r\n";
    return job;
}

class SenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = QString::fromStdString(dir.path().string());
        ini = home + "/marlix.ini";
        pdfFolder = home + "/pdf";
        jobFile = home + "/" + jobFileName;
        QDir().mkpath(QFileInfo(jobFile).path());
        QDir().mkpath(pdfFolder);
        QDir().mkpath(home + "/runtime");
        QFile::setPermissions(home + "/runtime",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        port = freePort();
        ASSERT_NE(port, 0);
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[General]\nTimeOut=1\nCapture=1\nCapturePort=%1\nSpool=%2\n"
                               "PdfFolder=%3\nPrinter=Print to PDF\nAutoPrint=1\n"
                               "Language=English\n")
                    .arg(port)
                    .arg(jobFile, pdfFolder)
                    .toUtf8());
        f.close();

        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("MARLIX_SETTINGS"), ini);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + "/runtime");
        env.insert(QStringLiteral("MARLIX_DATA"), QStringLiteral(MARLIX_SOURCE_DATA));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.remove(QStringLiteral("DISPLAY"));
        // PDFs only: the program must never reach a real printer.
        env.insert(QStringLiteral("CUPS_SERVER"), home + "/no-cups.sock");
        marlix = &child(env);
        marlix->start(QStringLiteral(MARLIX_EXE), marlixArguments);
        ASSERT_TRUE(marlix->waitForStarted());
        ASSERT_TRUE(waitFor([&] { return !listenersOn(port).empty(); }, 20000))
            << "the print port listens; stderr: " << marlix->readAllStandardError().toStdString();
    }

    void TearDown() override {
        // Every child ends here, whatever path the test took.
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            QProcess& p = **it;
            if (p.state() != QProcess::NotRunning) {
                p.kill();
                p.waitForFinished(5000);
            }
        }
    }

    QProcess& child(const QProcessEnvironment& env) {
        children.push_back(std::make_unique<QProcess>());
        children.back()->setProcessEnvironment(env);
        children.back()->setProcessChannelMode(QProcess::MergedChannels);
        return *children.back();
    }

    QStringList pdfs() const {
        QStringList found;
        for (const QString& name :
             QDir(pdfFolder).entryList({QStringLiteral("*.pdf")}, QDir::Files))
            found << pdfFolder + QLatin1Char('/') + name;
        return found;
    }

    // The first PDF that is complete: one that poppler reads to the end.
    QString waitForPdf(int ms) const {
        QString done;
        waitFor(
            [&] {
                const QStringList all = pdfs();
                if (!all.isEmpty() && pdfPages(all.front()) > 0) done = all.front();
                return !done.isEmpty();
            },
            ms);
        return done;
    }

    void expectLoopbackOnly() const {
        const std::set<QString> expected{QStringLiteral("127.0.0.1:%1").arg(port),
                                         QStringLiteral("[::1]:%1").arg(port)};
        const std::set<QString> found = listenersOn(port);
        std::string seen;
        for (const QString& s : found)
            seen += s.toStdString() + " ";
        // A system without IPv6 has no ::1 to listen on.
        if (found.size() == 1)
            EXPECT_EQ(*found.begin(), *expected.begin()) << seen;
        else
            EXPECT_EQ(found, expected) << seen;
    }

    std::string stderrOfMarlix() { return marlix->readAll().toStdString(); }

    // Runs DOSBox headless on drive C, the folder drive-c, with these DOS
    // commands. It must not end its session with "exit", which would drop
    // what still waits in its serial buffer.
    QProcess& startDosbox(const std::string& commands) {
        const QString drive = home + "/drive-c";
        QDir().mkpath(drive);
        EXPECT_TRUE(QFile::copy(QStringLiteral(MARLIX_SAMPLES "/report.prn"), drive + "/JOB.PRN"));
        const QString conf = home + "/dosbox.conf";
        {
            std::ofstream c(conf.toStdString());
            c << "[sdl]\nfullscreen=false\noutput=surface\n"
                 "[dosbox]\nmemsize=16\n"
                 "[cpu]\ncycles=max\n"
                 "[mixer]\nnosound=true\n"
                 "[speaker]\npcspeaker=false\ntandy=off\ndisney=false\n"
                 "[midi]\nmpu401=none\nmididevice=none\n"
                 "[serial]\nserial1=nullmodem server:127.0.0.1 port:"
              << port
              << " transparent:1\nserial2=disabled\n"
                 "[autoexec]\nmount c \""
              << drive.toStdString() << "\"\nc:\n"
              << commands << "\n";
        }
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("SDL_VIDEODRIVER"), QStringLiteral("dummy"));
        env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
        env.remove(QStringLiteral("DISPLAY"));
        QProcess& dosbox = child(env);
        dosbox.start(tool("dosbox"), {QStringLiteral("-conf"), conf});
        EXPECT_TRUE(dosbox.waitForStarted());
        return dosbox;
    }

    // Waits for the sample's PDF, stops DOSBox and checks the page.
    void expectTheReportPrinted(QProcess& dosbox) {
        const QString pdf = waitForPdf(20000);
        const std::string emulator = dosbox.readAll().toStdString();
        dosbox.kill();
        dosbox.waitForFinished(5000);
        ASSERT_FALSE(pdf.isEmpty()) << "no PDF within 20 s\ndosbox:\n" << emulator;
        const QString text = pdfText(pdf);
        EXPECT_TRUE(text.contains(QStringLiteral("MONTHLY STOCK REPORT"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("End of report.")))
            << "the whole job came through";
        EXPECT_EQ(pdfs().size(), 1);
        EXPECT_TRUE(waitFor([&] { return !QFile::exists(jobFile); }, 5000))
            << "the printed job is deleted";
    }

    QStringList marlixArguments;    // the resident program unless a test says
    QString jobFileName = "prnspl"; // in the test's home
    TempDir dir;
    QString home, ini, pdfFolder, jobFile;
    quint16 port = 0;
    QProcess* marlix = nullptr;
    std::vector<std::unique_ptr<QProcess>> children;
};

TEST_F(SenderTest, ThePortListensOnTheLoopbackAddressesOnly) {
    expectLoopbackOnly();
    for (const QString& local : listenersOn(port)) {
        EXPECT_FALSE(local.startsWith(QStringLiteral("0.0.0.0"))) << local.toStdString();
        EXPECT_FALSE(local.startsWith(QStringLiteral("*"))) << local.toStdString();
        EXPECT_FALSE(local.startsWith(QStringLiteral("[::]"))) << local.toStdString();
    }
}

TEST_F(SenderTest, ADosProgramCopyingToCom1IsPrintedByItself) {
    if (!installed("dosbox")) GTEST_SKIP() << "dosbox is not installed";
    expectTheReportPrinted(startDosbox("copy /b C:\\JOB.PRN COM1"));
    expectLoopbackOnly();
}

// The headless service, and a DOS program that prints to a file in a folder
// DOSBox mounts: the job file is that file.
class ServiceSenderTest : public SenderTest {
protected:
    ServiceSenderTest() {
        marlixArguments = {QStringLiteral("--service")};
        jobFileName = QStringLiteral("drive-c/PRNSPL"); // DOS names are upper case
    }
};

TEST_F(ServiceSenderTest, ADosProgramPrintingToAFileIsPrintedByTheService) {
    if (!installed("dosbox")) GTEST_SKIP() << "dosbox is not installed";
    expectTheReportPrinted(startDosbox("copy /b C:\\JOB.PRN C:\\PRNSPL"));
    std::string log;
    EXPECT_TRUE(waitFor(
        [&] {
            log += stderrOfMarlix();
            return log.find(" printed ") != std::string::npos;
        },
        5000))
        << "one line for the job: " << log;
}

// Deletes the queue whichever way the test leaves.
struct Queue {
    QString server, name;
    ~Queue() {
        if (!name.isEmpty())
            run(tool("lpadmin"), {QStringLiteral("-h"), server, QStringLiteral("-x"), name});
    }
};

TEST_F(SenderTest, ARawPrintQueueOfThePrintServerDeliversAJob) {
    const QString server = qEnvironmentVariable("CUPS_SERVER");
    if (server.isEmpty()) GTEST_SKIP() << "no private print server (CUPS_SERVER)";
    if (!installed("lpadmin") || !installed("lp")) GTEST_SKIP() << "lpadmin or lp is missing";

    Queue queue{server, QStringLiteral("MarlixCapture")};
    // No driver: the queue passes the bytes on as they are.
    QProcess admin;
    admin.setProcessChannelMode(QProcess::MergedChannels);
    admin.start(tool("lpadmin"), {QStringLiteral("-h"), server, QStringLiteral("-p"), queue.name,
                                  QStringLiteral("-E"), QStringLiteral("-v"),
                                  QStringLiteral("socket://127.0.0.1:%1").arg(port)});
    ASSERT_TRUE(admin.waitForFinished(30000));
    ASSERT_EQ(admin.exitCode(), 0) << admin.readAll().toStdString();

    const std::string job = reportJob("Queued", 12);
    const QString file = QString::fromStdString(dir.write("queued.prn", job));
    QProcess lp;
    lp.setProcessChannelMode(QProcess::MergedChannels);
    lp.start(tool("lp"), {QStringLiteral("-h"), server, QStringLiteral("-d"), queue.name,
                          QStringLiteral("-o"), QStringLiteral("raw"), file});
    ASSERT_TRUE(lp.waitForFinished(30000));
    ASSERT_EQ(lp.exitCode(), 0) << lp.readAll().toStdString();

    const QString pdf = waitForPdf(20000);
    ASSERT_FALSE(pdf.isEmpty())
        << "no PDF within 20 s; queue: "
        << run(tool("lpstat"), {QStringLiteral("-h"), server, QStringLiteral("-t")}).toStdString();
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("Queued line 1 of 12"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Queued line 12 of 12"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("%!"))) << "no driver turned it into PostScript";
    EXPECT_EQ(pdfs().size(), 1);
    expectLoopbackOnly();
}

TEST_F(SenderTest, AWriterThatPausesLessThanTheTimeOutMakesOneJob) {
    constexpr int kChunks = 10;
    for (int i = 1; i <= kChunks; ++i) {
        {
            std::ofstream out(jobFile.toStdString(), std::ios::binary | std::ios::app);
            out << "Chunk " << i << " of " << kChunks << " from the writer\r\n";
        }
        ASSERT_TRUE(pdfs().isEmpty()) << "printed while the writer was still busy, at chunk " << i;
        if (i < kChunks) QThread::msleep(300);
    }
    const QString pdf = waitForPdf(15000);
    ASSERT_FALSE(pdf.isEmpty()) << stderrOfMarlix();
    // Time for a second, wrong print to show up.
    QThread::msleep(2500);
    EXPECT_EQ(pdfs().size(), 1);

    const QString text = pdfText(pdf);
    qsizetype at = 0;
    for (int i = 1; i <= kChunks; ++i) {
        const QString line = QStringLiteral("Chunk %1 of %2 from the writer").arg(i).arg(kChunks);
        const qsizetype found = text.indexOf(line, at);
        ASSERT_GE(found, 0) << line.toStdString() << " missing or out of order in\n"
                            << text.toStdString();
        at = found + line.size();
    }
    EXPECT_TRUE(waitFor([&] { return !QFile::exists(jobFile); }, 5000));
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
