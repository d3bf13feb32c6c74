// The capture over real loopback sockets: what senders see and what lands in
// the job file.
#include "platform/TVxD.h"

#include "../support/Loopback.h"
#include "../support/WaitFor.h"
#include "capture/JobFiles.h"
#include "core/Errors.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace marlix {
namespace {

using test::waitFor;

struct Capture : ::testing::Test {
    QTemporaryDir dir;
    std::string job = dir.filePath(QStringLiteral("prnspl")).toStdString();
    JobFiles files;
    std::unique_ptr<TVxD> vxd;

    void start(std::uint16_t port = 0) {
        CaptureSettings settings;
        settings.jobFileName = [this] { return job; };
        settings.port = port;
        vxd = std::make_unique<TVxD>(files, settings);
        vxd->setCapture(true);
    }
    QByteArray content() {
        QFile f(QString::fromStdString(job));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    std::unique_ptr<QTcpSocket> sender(const char* host = "127.0.0.1") {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QString::fromLatin1(host), vxd->port());
        EXPECT_TRUE(s->waitForConnected(5000)) << host;
        return s;
    }
};

TEST_F(Capture, EachStreamIsAppendedWholeInTheOrderTheyCame) {
    start();
    auto first = sender();
    auto second = sender("::1");
    first->write("first 1;");
    first->flush();
    ASSERT_TRUE(waitFor([&] { return content() == "first 1;"; }))
        << "bytes reach the file as they arrive";
    second->write("second;");
    second->flush();
    first->write("first 2;");
    first->flush();
    ASSERT_TRUE(waitFor([&] { return content() == "first 1;first 2;"; }));
    first->disconnectFromHost();
    ASSERT_TRUE(waitFor([&] { return content() == "first 1;first 2;second;"; }))
        << "the second stream follows once the first has ended";
    second->disconnectFromHost();
    EXPECT_TRUE(waitFor([&] { return vxd->streams() == 0; }));
}

TEST_F(Capture, ASenderThatWaitsItsTurnIsHeldBackAndLosesNothing) {
    start();
    auto first = sender(); // has the job file until it ends
    first->write("first|");
    first->flush();
    ASSERT_TRUE(waitFor([&] { return content() == "first|"; }));
    const std::size_t total = 64u << 20; // far more than the system buffers
    std::atomic<std::size_t> sent{0};
    const std::uint16_t port = vxd->port();
    std::thread writer([&] {
        const int fd = test::connectLoopback(port);
        if (fd < 0) return;
        std::string chunk(1 << 16, '\0');
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = char('a' + i % 26);
        while (sent < total) {
            const ssize_t n = ::send(fd, chunk.data(), std::min(chunk.size(), total - sent), 0);
            if (n <= 0) break;
            sent += std::size_t(n);
        }
        ::close(fd);
    });
    waitFor([] { return false; }, 700);
    EXPECT_LT(sent.load(), total) << "flow control holds the sender";
    EXPECT_EQ(content(), "first|") << "nothing of it is written before its turn";
    first->disconnectFromHost();
    const qint64 all = qint64(total) + 6;
    const bool done =
        waitFor([&] { return QFile(QString::fromStdString(job)).size() == all; }, 60'000);
    writer.join();
    ASSERT_TRUE(done) << QFile(QString::fromStdString(job)).size();
    const QByteArray bytes = content();
    EXPECT_EQ(bytes.mid(6, 3), "abc");
    EXPECT_EQ(bytes[qsizetype(all - 1)], char('a' + (total - 1) % (1 << 16) % 26));
}

// Another account on this machine, to send as; made when the test runs as
// root, else the test is skipped.
std::optional<passwd> otherUser() {
    if (::geteuid() != 0) return std::nullopt;
    const char* name = "marlix-probe";
    if (!::getpwnam(name))
        QProcess::execute(QStringLiteral("useradd"),
                          {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                           QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"),
                           QString::fromLatin1(name)});
    const passwd* entry = ::getpwnam(name);
    return entry ? std::optional(*entry) : std::nullopt;
}

TEST_F(Capture, AnotherUsersSenderIsTurnedAwayAndToldOfOnce) {
    const auto other = otherUser();
    if (!other) GTEST_SKIP() << "needs root, to send as a second user";
    start();
    std::vector<std::string> errors;
    vxd->onError = [&](const std::string& e) { errors.push_back(e); };
    auto bash = [&](const QStringList& as, const QString& script) {
        QProcess p;
        p.start(
            as.isEmpty() ? QStringLiteral("bash") : QStringLiteral("setpriv"),
            as + QStringList{QStringLiteral("bash"), QStringLiteral("-c"), script.arg(vxd->port())}
                     .mid(as.isEmpty() ? 1 : 0));
        // The port takes the connection while the sender waits on it.
        EXPECT_TRUE(waitFor([&] { return p.state() == QProcess::NotRunning; }));
    };
    const QStringList asOther{QStringLiteral("--reuid=%1").arg(other->pw_uid),
                              QStringLiteral("--regid=%1").arg(other->pw_gid),
                              QStringLiteral("--clear-groups")};
    for (int i = 0; i < 2; ++i)
        bash(asOther,
             QStringLiteral("exec 3<>/dev/tcp/127.0.0.1/%1; echo intruder >&3; sleep 0.5"));
    // A sender gone before its connection was taken can't be told apart from
    // another user's, so it is not taken either.
    QProcess::execute(QStringLiteral("bash"),
                      {QStringLiteral("-c"),
                       QStringLiteral("echo gone >/dev/tcp/127.0.0.1/%1").arg(vxd->port())});
    waitFor([] { return false; }, 300);
    auto own = sender();
    own->write("own job");
    ASSERT_TRUE(waitFor([&] { return content() == "own job"; })) << content().toStdString();
    ASSERT_EQ(errors.size(), 2u) << "once for the user, however often it tries";
    EXPECT_NE(errors[0].find("of user marlix-probe"), std::string::npos) << errors[0];
    EXPECT_NE(errors[1].find("closed it before it was taken"), std::string::npos) << errors[1];
}

TEST_F(Capture, ATakenPortIsAStateThatIsTriedAgainUntilThePortIsFree) {
    auto other = std::make_unique<QTcpServer>();
    ASSERT_TRUE(other->listen(QHostAddress::LocalHost, 0));
    const std::uint16_t port = other->serverPort();
    start(port);
    const std::string busy = "port " + std::to_string(port) + " is in use by another program";
    EXPECT_EQ(vxd->problem(), busy);
    std::vector<std::string> problems;
    vxd->onProblem = [&](const std::string& p) { problems.push_back(p); };
    other.reset();
    ASSERT_TRUE(waitFor([&] { return vxd->problem().empty(); }, 2 * TVxD::kRetryPortMs))
        << "captures as soon as the port is free";
    EXPECT_EQ(problems, std::vector<std::string>{""});
    EXPECT_TRUE(sender()->state() == QAbstractSocket::ConnectedState);

    vxd.reset();
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_FALSE(late.waitForConnected(2000)) << "stopping closes the port";
}

TEST_F(Capture, AtTheEndEveryByteASenderWasAllowedToSendIsInTheJobFile) {
    start();
    const std::uint16_t port = vxd->port();
    auto first = sender();
    first->write("the job that prints|");
    first->flush();
    ASSERT_TRUE(waitFor([&] { return !content().isEmpty(); }));
    vxd->jobPrinting(); // a long job prints; the next sender waits its turn
    std::atomic<std::size_t> sent{0};
    std::thread writer([&] {
        const int fd = test::connectLoopback(port);
        if (fd < 0) return;
        const std::string chunk(1 << 16, 'x');
        for (int i = 0; i < 32; ++i) {
            const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += std::size_t(n);
        }
        // As a raw print queue, it waits until the port closes its end.
        ::shutdown(fd, SHUT_WR);
        char byte;
        ::recv(fd, &byte, 1, 0);
        ::close(fd);
    });
    waitFor([] { return false; }, 500);
    vxd->flush(3000);
    writer.join();
    EXPECT_EQ(content().size(), qsizetype(20 + sent.load()));
    EXPECT_EQ(sent.load(), 2u << 20) << "accepted to the last byte";
}

TEST_F(Capture, ABrokenJobFileIsReportedOnceAndItsBytesWait) {
    start();
    std::vector<std::string> errors;
    vxd->onError = [&](const std::string& e) { errors.push_back(e); };
    const std::string good = job;
    job = dir.filePath(QStringLiteral("missing/prnspl")).toStdString();
    auto s = sender();
    s->write("kept");
    s->flush();
    ASSERT_TRUE(waitFor([&] { return !errors.empty(); }));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("missing")));
    ASSERT_TRUE(waitFor([&] {
        QFile f(QString::fromStdString(job));
        return f.open(QIODevice::ReadOnly) && f.readAll() == "kept";
    })) << "offered again after a second";
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("No such file"), std::string::npos) << errors[0];
    job = good;
}

} // namespace
} // namespace marlix
