// Every job printed exactly once, tried as an unlucky user would: the real
// service on its own settings, job file, PDF folder and capture port, while
// the folder vanishes, writers keep the job file open, signals stop it, a
// fault kills it and other copies start beside it.
#include "../support/Loopback.h"
#include "../support/Pdf.h"
#include "../support/TempDir.h"
#include "../support/WaitFor.h"
#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QLocalServer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace marlix::test;

namespace {

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = QString::fromStdString(dir.path().string());
        pdfFolder = home + "/pdf";
        spool = home + "/prnspl";
        QDir().mkpath(home + "/runtime");
        QFile::setPermissions(home + "/runtime",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setSettings("");
    }
    void TearDown() override {
        for (auto& p : processes)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
    }
    void setSettings(const QString& extra, const QString& file = {}) {
        QFile f(file.isEmpty() ? home + "/marlix.ini" : file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(("[General]\nTimeOut=1\nCapturePort=0\nPrinter=Print to PDF\nSpool=" + spool +
                 "\nPdfFolder=" + pdfFolder + "\n" + extra)
                    .toUtf8());
    }
    QProcessEnvironment environment(const QString& settings = {}) const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("MARLIX_SETTINGS"),
                   settings.isEmpty() ? home + "/marlix.ini" : settings);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                   runtime.isEmpty() ? home + "/runtime" : runtime);
        env.insert(QStringLiteral("CUPS_SERVER"), home + "/no-cups.sock");
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        return env;
    }
    QProcess& start(const QStringList& args, const QString& settings = {}) {
        processes.push_back(std::make_unique<QProcess>());
        QProcess& p = *processes.back();
        p.setProcessEnvironment(environment(settings));
        p.start(QStringLiteral(MARLIX_EXE), args);
        EXPECT_TRUE(p.waitForStarted());
        return p;
    }
    // The service, once it has said that it runs.
    QProcess& service() {
        QProcess& p = start({QStringLiteral("--service")});
        log.clear();
        EXPECT_TRUE(logged(QStringLiteral("started"))) << log.toStdString();
        return p;
    }
    bool logged(const QString& what, int count = 1, int ms = 20000) {
        return waitFor(
            [&] {
                for (auto& p : processes)
                    log += QString::fromUtf8(p->readAllStandardError());
                return log.count(what) >= count;
            },
            ms);
    }
    void stop(QProcess& p, int signal = SIGTERM) {
        ::kill(pid_t(p.processId()), signal);
        EXPECT_TRUE(p.waitForFinished(60000));
        log += QString::fromUtf8(p.readAllStandardError());
    }
    QStringList pdfs() const {
        QStringList found;
        for (const QString& name : QDir(pdfFolder).entryList({QStringLiteral("*.pdf")}))
            found << pdfFolder + "/" + name;
        return found;
    }
    QString printedText() const {
        QString all;
        for (const QString& pdf : pdfs())
            all += pdfText(pdf);
        return all;
    }
    bool leftovers() const {
        return !QDir(pdfFolder).entryList({QStringLiteral("*.part")}).isEmpty();
    }
    static QByteArray lines(const char* tag, int count) {
        QByteArray job;
        for (int i = 1; i <= count; ++i)
            job += QByteArray(tag) + " line " + QByteArray::number(i) + "\r\n";
        return job;
    }
    void append(const QByteArray& bytes) {
        QFile f(spool);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(bytes);
    }

    TempDir dir;
    QString home, pdfFolder, spool, log;
    QString runtime; // empty: a private one
    std::vector<std::unique_ptr<QProcess>> processes;
};

TEST_F(ServiceTest, AFolderThatFailsStopsNoPrintForGoodAndIsSaidOnce) {
    QFile blocker(pdfFolder); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QProcess& p = service();
    append("first job\r\n");
    ASSERT_TRUE(logged(QStringLiteral("Cannot create file"))) << log.toStdString();
    logged(QStringLiteral("Cannot create file"), 2, 4000);
    EXPECT_EQ(log.count(QStringLiteral("Cannot create file")), 1) << "said once, tried again\n"
                                                                  << log.toStdString();
    EXPECT_TRUE(QFile::exists(spool)) << "the job stays whole";

    ASSERT_TRUE(QFile::remove(pdfFolder));
    ASSERT_TRUE(QDir().mkpath(pdfFolder));
    ASSERT_TRUE(logged(QStringLiteral("printed 11 bytes"))) << log.toStdString();
    append("second job\r\n");
    ASSERT_TRUE(logged(QStringLiteral("printed 12 bytes"))) << log.toStdString();
    EXPECT_EQ(pdfs().size(), 2);
    stop(p);
}

TEST_F(ServiceTest, AJobThatKillsTheServiceIsSetAsideOnceAndTheJobsBehindItPrint) {
    QProcess& first = service();
    const QByteArray deadly = lines("deadly", 200000);
    append(deadly);
    // It dies of a fault while the job prints.
    ASSERT_TRUE(waitFor([&] { return QFile::exists(spool + ".printing"); }));
    stop(first, SIGSEGV);
    EXPECT_EQ(first.exitStatus(), QProcess::CrashExit);

    QProcess& second = service();
    ASSERT_TRUE(logged(QStringLiteral("stopped Marlix while it printed"))) << log.toStdString();
    EXPECT_FALSE(leftovers());
    const QStringList aside = QDir(home + "/failed").entryList(QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(home + "/failed/" + aside[0]);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), deadly) << "its bytes whole";
    EXPECT_TRUE(pdfs().isEmpty()) << "nothing of the cut-short print is left";

    append("next job\r\n");
    ASSERT_TRUE(logged(QStringLiteral("printed 10 bytes"))) << log.toStdString();
    stop(second);
}

TEST_F(ServiceTest, AWriterThatKeepsTheJobFileOpenHasEveryBurstPrintedOnce) {
    QProcess& p = service();
    const int writer = ::open(spool.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(writer, 0);
    for (const char* burst : {"burst one\r\n", "burst two\r\n"}) {
        ASSERT_EQ(::write(writer, burst, 11), 11);
        ASSERT_TRUE(logged(QStringLiteral("printed 11 bytes"), burst[6] == 'o' ? 1 : 2))
            << log.toStdString();
        QThread::msleep(2500); // longer than the time-out: a pause, not the end
    }
    ::close(writer);
    ASSERT_TRUE(waitFor([&] { return !QFile::exists(spool); })) << "goes once closed";
    const QString text = printedText();
    EXPECT_EQ(text.count(QStringLiteral("burst one")), 1) << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("burst two")), 1);
    EXPECT_EQ(pdfs().size(), 2);
    stop(p);
}

TEST_F(ServiceTest, AStopLosesNothingASenderWasAllowedToSendAndCutsNoJobInHalf) {
    QProcess& p = service();
    const auto port =
        QRegularExpression(QStringLiteral("capture on 127.0.0.1:(\\d+)")).match(log).captured(1);
    ASSERT_FALSE(port.isEmpty()) << log.toStdString();
    const QByteArray longJob = lines("long job", 300000);
    append(longJob);
    ASSERT_TRUE(waitFor([&] { return QFile::exists(spool + ".printing"); }));
    // While it prints, a second sender's bytes are accepted and held.
    std::atomic<std::size_t> sent{0};
    std::thread sender([&, port = port.toUShort()] {
        const int fd = connectLoopback(port);
        if (fd < 0) return;
        const QByteArray job = lines("sent", 100000);
        for (qsizetype at = 0; at < job.size();) {
            const ssize_t n =
                ::send(fd, job.constData() + at, std::size_t(job.size() - at), MSG_NOSIGNAL);
            if (n <= 0) break;
            at += n;
            sent += std::size_t(n);
        }
        // As a raw print queue, it waits until the port closes its end.
        ::shutdown(fd, SHUT_WR);
        char byte;
        ::recv(fd, &byte, 1, 0);
        ::close(fd);
    });
    waitFor([&] { return sent > 0; }, 2000);
    ::kill(pid_t(p.processId()), SIGTERM);
    // Asked again (a signal of its own, not one the system merges with the
    // first): the print is given up now.
    QThread::msleep(100);
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(60000));
    sender.join();
    log += QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("printed whole at the next start")))
        << log.toStdString();
    EXPECT_TRUE(pdfs().isEmpty()) << "no half of the long job";
    EXPECT_FALSE(leftovers());
    ASSERT_GT(sent.load(), 0u);

    QProcess& again = service();
    const QString all = QStringLiteral("printed %1 bytes").arg(longJob.size() + qsizetype(sent));
    ASSERT_TRUE(logged(all, 1, 60000)) << "every byte, once: " << log.toStdString();
    EXPECT_EQ(pdfs().size(), 1);
    stop(again);
}

TEST_F(ServiceTest, AFifoWhereAJobShouldBeHangsNothingAndIsSaidOnce) {
    ASSERT_EQ(::mkfifo(spool.toLocal8Bit().constData(), 0600), 0);
    QProcess& p = service();
    ASSERT_TRUE(logged(QStringLiteral("it is a FIFO, not a regular file; nothing is printed")))
        << log.toStdString();
    const auto port =
        QRegularExpression(QStringLiteral("capture on 127.0.0.1:(\\d+)")).match(log).captured(1);
    QTcpSocket sender;
    sender.connectToHost(QHostAddress::LocalHost, port.toUShort());
    ASSERT_TRUE(sender.waitForConnected(5000));
    sender.write("a job for the FIFO\r\n");
    sender.flush();
    ASSERT_TRUE(logged(QStringLiteral("capture: ") + spool + QStringLiteral(": it is a FIFO")))
        << log.toStdString();
    stop(p);
    EXPECT_EQ(log.count(QStringLiteral("nothing is printed")), 1) << log.toStdString();

    // Nor is one on the command line waited on.
    QProcess& print = start({spool});
    ASSERT_TRUE(print.waitForFinished(10000));
    EXPECT_EQ(print.exitCode(), 2);
    EXPECT_TRUE(print.readAllStandardError().contains("is not a regular file"));
}

TEST_F(ServiceTest, OneCopyPerUserWhateverItsLanguageAndOtherSettingsPrintByThemselves) {
    setSettings(QStringLiteral("Language=Russian\n"));
    QProcess& running = service();
    const QString other = home + "/other.ini";
    const QString otherFolder = home + "/other-pdf";
    setSettings(QStringLiteral("Language=English\nPdfFolder=") + otherFolder + "\n", other);
    QProcess& second = start({QStringLiteral("--service")}, other);
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("already running"));

    const QString job = QString::fromStdString(dir.write("job.prn", "handed over\r\n"));
    QProcess& same = start({job});
    ASSERT_TRUE(same.waitForFinished(20000));
    EXPECT_EQ(same.exitCode(), 0);
    EXPECT_TRUE(same.readAllStandardOutput().startsWith(pdfFolder.toUtf8()))
        << "the running copy printed it";
    QProcess& byItself = start({job}, other);
    ASSERT_TRUE(byItself.waitForFinished(20000));
    EXPECT_EQ(byItself.exitCode(), 0);
    EXPECT_TRUE(byItself.readAllStandardOutput().startsWith(otherFolder.toUtf8()))
        << "another settings file prints with its own settings";
    stop(running);
}

TEST_F(ServiceTest, AHandOverWaitsForTheJobThatPrintsAndAPlantedChannelIsNeverTrusted) {
    // A runtime folder anybody can write to, with another user's lock and
    // socket under the channel's names: none of it may count.
    runtime = home + "/shared";
    QDir().mkpath(runtime);
    ::chmod(runtime.toLocal8Bit().constData(), 0777);
    const QString name = marlix::SingleInstance::serverName({});
    QFile(runtime + "/" + name + ".lock").open(QIODevice::WriteOnly);
    QLocalServer planted;
    ASSERT_TRUE(planted.listen(runtime + "/" + name));

    QProcess& p = service();
    append(lines("long job", 300000));
    ASSERT_TRUE(waitFor([&] { return QFile::exists(spool + ".printing"); }));
    const QString job = QString::fromStdString(dir.write("job.prn", "handed over\r\n"));
    QProcess& handOver = start({job});
    ASSERT_TRUE(handOver.waitForFinished(60000));
    EXPECT_EQ(handOver.exitCode(), 0) << handOver.readAllStandardError().toStdString();
    EXPECT_TRUE(handOver.readAllStandardOutput().startsWith(pdfFolder.toUtf8()))
        << "the running service printed it, after the job it was printing";
    EXPECT_FALSE(planted.hasPendingConnections()) << "the planted socket heard nothing";
    stop(p);
}

TEST_F(ServiceTest, AJobNamedInItsDosCodePagePrintsByItselfAndHandedOver) {
    // "ПР.PRN" in code page 866, as a DOS program names its job; QProcess
    // passes only UTF-8, so a shell passes the bytes.
    dir.write("\x8f\x90.PRN", "named in 866\r\n");
    const auto marlixWith = [&](const QString& args) -> QProcess& {
        processes.push_back(std::make_unique<QProcess>());
        QProcess& p = *processes.back();
        p.setProcessEnvironment(environment());
        p.setWorkingDirectory(home);
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), "exec \"$0\" " + args,
                                            QStringLiteral(MARLIX_EXE)});
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return p;
    };
    const QString job = QStringLiteral("\"$(printf '\\217\\220.PRN')\"");

    QProcess& byItself = marlixWith("-o \"$(printf 'out\\377.pdf')\" " + job);
    EXPECT_EQ(byItself.readAllStandardOutput(), home.toUtf8() + "/out\xff.pdf\n");
    std::filesystem::rename(dir.path() / "out\xff.pdf", dir.path() / "out.pdf");
    EXPECT_EQ(pdfText(home + "/out.pdf").simplified(), QStringLiteral("named in 866"));

    QProcess& running = service();
    EXPECT_TRUE(marlixWith(job).readAllStandardOutput().startsWith(pdfFolder.toUtf8()));
    EXPECT_EQ(printedText().simplified(), QStringLiteral("named in 866"));
    stop(running);
}

TEST_F(ServiceTest, PrintsIntoOneFolderInTheSameSecondNeverShareAFile) {
    std::vector<QProcess*> prints;
    for (int i = 0; i < 6; ++i) {
        const QString job = QString::fromStdString(dir.write(
            "job" + std::to_string(i),
            lines(("job " + std::to_string(i)).c_str(), i % 2 ? 3 : 20000).toStdString()));
        prints.push_back(&start({QStringLiteral("-P"), QStringLiteral("Print to PDF"), job}));
    }
    for (QProcess* p : prints) {
        ASSERT_TRUE(p->waitForFinished(60000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    ASSERT_EQ(pdfs().size(), 6);
    for (const QString& pdf : pdfs())
        EXPECT_EQ(pdfText(pdf).count(QRegularExpression(QStringLiteral("job \\d line 1\\b"))), 1)
            << pdf.toStdString();
    EXPECT_FALSE(leftovers());
}

TEST_F(ServiceTest, ABusyPortLeavesTheServiceRunningAndItCapturesOnceThePortIsFree) {
    auto other = std::make_unique<QTcpServer>();
    ASSERT_TRUE(other->listen(QHostAddress::LocalHost, 0));
    const quint16 port = other->serverPort();
    setSettings(QStringLiteral("CapturePort=%1\n").arg(port));
    QProcess& p = service();
    EXPECT_TRUE(log.contains(QStringLiteral("port %1 is in use by another program").arg(port)))
        << log.toStdString();
    append("written job\r\n");
    ASSERT_TRUE(logged(QStringLiteral("printed 13 bytes"))) << "the job file still prints";

    other.reset();
    ASSERT_TRUE(logged(QStringLiteral("capture on 127.0.0.1:%1").arg(port))) << log.toStdString();
    ASSERT_TRUE(sendJob(port, "captured job\r\n"));
    ASSERT_TRUE(logged(QStringLiteral("printed 14 bytes"))) << log.toStdString();
    stop(p);
}

} // namespace
