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
#include <QTimer>
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

TEST_F(Capture, EachStreamReachesTheJobFileWholeWhenItEnds) {
    start();
    auto first = sender();
    auto second = sender("::1");
    first->write("first 1;");
    second->write("second;");
    first->flush();
    second->flush();
    waitFor([] { return false; }, 300);
    first->write("first 2;");
    first->flush();
    waitFor([] { return false; }, 300);
    EXPECT_EQ(content(), "") << "nothing before its sender is done";
    second->disconnectFromHost();
    ASSERT_TRUE(waitFor([&] { return content() == "second;"; }))
        << "the second is done first and goes first";
    first->disconnectFromHost();
    ASSERT_TRUE(waitFor([&] { return content() == "second;first 1;first 2;"; }));
    EXPECT_TRUE(waitFor([&] { return vxd->streams() == 0; }));
}

TEST_F(Capture, IdleConnectionsATricklerAndAFloodHoldNobodyOffAndLoseNothing) {
    start();
    // Connected while the port takes them: more than the system queues.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 300; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QStringLiteral("127.0.0.1"), vxd->port());
    }
    ASSERT_TRUE(waitFor([&] { return vxd->streams() == 300; })) << vxd->streams();
    auto trickler = sender();
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, [&] {
        trickler->write("t");
        trickler->flush();
    });
    trickle.start(200);
    // A flood, from a thread of its own, as a raw print queue sends.
    const std::size_t total = 16u << 20;
    const std::string flood = [&] {
        std::string chunk(total, '\0');
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = char('a' + i % 26);
        return chunk;
    }();
    std::atomic<bool> taken{false};
    const std::uint16_t port = vxd->port();
    std::thread flooder([&] { taken = test::sendJob(port, flood, 60); });
    auto small = sender();
    small->write("small job");
    ASSERT_TRUE(waitFor([&] { return vxd->streams() == 303; }));
    small->disconnectFromHost();
    ASSERT_TRUE(waitFor([&] { return content().startsWith("small job"); }))
        << "printed while the others idle, trickle and flood";
    // The port runs as the program's loop would, with no pauses between turns.
    const QDeadlineTimer deadline(60'000);
    while (!taken && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_TRUE(taken.load());
    flooder.join();
    trickle.stop();
    trickler->disconnectFromHost();
    ASSERT_TRUE(waitFor([&] { return content().endsWith("t"); }));
    const QByteArray bytes = content();
    EXPECT_EQ(bytes.indexOf(QByteArray::fromStdString(flood)), bytes.indexOf("abc"))
        << "the flood whole, in one piece";
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
    first->write("the job that prints|"); // and it keeps its connection
    first->flush();
    waitFor([] { return false; }, 300);
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
    waitFor([] { return false; }, 500); // offered again, and kept this time
    s->disconnectFromHost();
    ASSERT_TRUE(waitFor([&] {
        QFile f(QString::fromStdString(job));
        return f.open(QIODevice::ReadOnly) && f.readAll() == "kept";
    })) << "nothing lost";
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("No such file"), std::string::npos) << errors[0];
    job = good;
}

} // namespace
} // namespace marlix
