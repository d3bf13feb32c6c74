// The single-instance channel between real processes: this test is the first
// copy, si_client the later start (or, killed, the crashed first copy).
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QUuid>
#include <QtEndian>
#include <gtest/gtest.h>
#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/stat.h>
#endif

using namespace marlix;

namespace {

// Each test its own channel, so ctest -j can run them side by side.
QString uniqueTitle(const QString& what) {
    return what + QLatin1Char(' ') + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Serves the event loop until done() holds; the deadline only ends a hung test.
bool pollUntil(const std::function<bool()>& done, int ms = 60'000) {
    const QDeadlineTimer deadline(ms);
    QTimer tick;
    tick.start(10);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Gives the server a moment to take in what is already on its sockets.
void settle(int ms = 300) {
    const QDeadlineTimer deadline(ms);
    pollUntil([&] { return deadline.hasExpired(); });
}

// A message whose header claims length (its own length by default).
QByteArray framed(const QByteArray& body, qint64 length = -1) {
    QByteArray header(4, Qt::Uninitialized);
    qToBigEndian(quint32(length < 0 ? body.size() : length), header.data());
    return header + body;
}

// A client written by hand, to send what send() never would.
std::unique_ptr<QLocalSocket> rawClient(const SingleInstance& si) {
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(si.address());
    EXPECT_TRUE(socket->waitForConnected(10'000));
    return socket;
}
void writeAll(QLocalSocket& socket, const QByteArray& bytes) {
    socket.write(bytes);
    EXPECT_TRUE(pollUntil([&] { return socket.bytesToWrite() == 0; }));
}
QByteArray answerOf(QLocalSocket& socket) {
    const auto whole = [&] {
        const QByteArray b = socket.peek(socket.bytesAvailable());
        return b.size() >= 4 && b.size() >= 4 + qFromBigEndian<quint32>(b.constData());
    };
    if (!pollUntil(whole)) return "(no answer)";
    return socket.readAll().mid(4);
}
bool dropped(QLocalSocket& socket) {
    return pollUntil([&] { return socket.state() == QLocalSocket::UnconnectedState; });
}

// si_client sending one request while this process keeps serving.
struct Sender {
    Sender(const QString& title, const QString& request) {
        process.start(QStringLiteral(MARLIX_SI_CLIENT),
                      {QStringLiteral("send"), title, request, QStringLiteral("60000")});
    }
    QByteArray answer() {
        if (!pollUntil([&] { return process.state() == QProcess::NotRunning; }))
            return "(still running)";
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return "(exit " + QByteArray::number(process.exitCode()) + ")";
        return process.readAllStandardOutput();
    }
    QProcess process;
};

SingleInstance::Handler recordingInto(std::vector<QByteArray>& seen) {
    return [&seen](const QByteArray& r) {
        seen.push_back(r);
        return "ok:" + r;
    };
}

TEST(SingleInstanceName, IsAFileNameWhateverTheUserAndTitle) {
    const QRegularExpression safe(QStringLiteral("^marlix-[A-Za-z0-9._-]+-[0-9a-f]{16}$"));
    EXPECT_EQ(SingleInstance::serverName(QString()), SingleInstance::serverName("Marlix"));
    EXPECT_NE(SingleInstance::serverName("Печать DOS"), SingleInstance::serverName("Marlix"));
    EXPECT_TRUE(safe.match(SingleInstance::serverName("a/b\\c: Печать")).hasMatch());

    const QByteArray savedUser = qgetenv("USER");
    qputenv("USER", "../../etc/x y");
    const QString hostile = SingleInstance::serverName("t");
    qputenv("USER", ".._.._etc_x_y");
    const QString lookalike = SingleInstance::serverName("t");
    qputenv("USER", savedUser);
    EXPECT_TRUE(safe.match(hostile).hasMatch()) << hostile.toStdString();
    EXPECT_NE(hostile, lookalike);
}

TEST(SingleInstance, TheFirstListenWinsUntilItGoes) {
    const QString title = uniqueTitle("first");
    auto first = std::make_unique<SingleInstance>(title);
    ASSERT_TRUE(first->listen()) << first->errorString().toStdString();
#ifdef Q_OS_UNIX
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(first->address()).constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & (S_IRWXG | S_IRWXO), 0u) << std::oct << st.st_mode;
#endif
    SingleInstance second(title);
    EXPECT_FALSE(second.listen());
    EXPECT_TRUE(second.errorString().isEmpty()) << second.errorString().toStdString();
    first.reset();
    EXPECT_FALSE(QFileInfo::exists(second.address()));
    EXPECT_TRUE(second.listen()) << second.errorString().toStdString();
}

TEST(SingleInstance, AnotherProcessIsAnsweredOnItsTitlesChannel) {
    EXPECT_EQ(SingleInstance::send(uniqueTitle("nobody"), "x", 200), std::nullopt);
    const QString titleA = uniqueTitle("Печать");
    const QString titleB = uniqueTitle("other");
    SingleInstance a(titleA);
    ASSERT_TRUE(a.listen());
    a.setHandler([](const QByteArray& r) { return "A:" + r; });
    // B's sender starts before B listens: it must keep trying.
    Sender toB(titleB, QStringLiteral("файл.prn"));
    Sender toA(titleA, QStringLiteral("отчёт.prn"));
    EXPECT_EQ(toA.answer(), "A:" + QStringLiteral("отчёт.prn").toUtf8());
    SingleInstance b(titleB);
    ASSERT_TRUE(b.listen());
    b.setHandler([](const QByteArray& r) { return "B:" + r; });
    EXPECT_EQ(toB.answer(), "B:" + QStringLiteral("файл.prn").toUtf8());
}

TEST(SingleInstance, RequestsWaitForTheHandlerButNotForASenderThatLeft) {
    SingleInstance si(uniqueTitle("early"));
    ASSERT_TRUE(si.listen());
    auto left = rawClient(si);
    writeAll(*left, framed("left"));
    left->abort();
    auto waiting = rawClient(si);
    writeAll(*waiting, framed("waiting"));
    settle();
    std::vector<QByteArray> seen;
    si.setHandler(recordingInto(seen));
    EXPECT_EQ(answerOf(*waiting), "ok:waiting");
    EXPECT_EQ(seen, std::vector<QByteArray>{"waiting"});
}

TEST(SingleInstance, ALongHandlerIsNotReenteredByItsNestedEventLoop) {
    SingleInstance si(uniqueTitle("nested"));
    ASSERT_TRUE(si.listen());
    auto first = rawClient(si);
    auto second = rawClient(si);
    std::vector<QByteArray> order;
    int depth = 0;
    int deepest = 0;
    si.setHandler([&](const QByteArray& r) {
        deepest = std::max(deepest, ++depth);
        order.push_back(r);
        // Like a print job: events keep flowing while another request comes in.
        if (r == "first") {
            writeAll(*second, framed("second"));
            settle();
        }
        --depth;
        return "ok:" + r;
    });
    writeAll(*first, framed("first"));
    EXPECT_EQ(answerOf(*first), "ok:first");
    EXPECT_EQ(answerOf(*second), "ok:second");
    EXPECT_EQ(order, (std::vector<QByteArray>{"first", "second"}));
    EXPECT_EQ(deepest, 1);
}

TEST(SingleInstance, ACopyAtARequestSaysSoAndASilentCopyIsGivenUp) {
    const QString title = uniqueTitle("busy");
    SingleInstance si(title);
    ASSERT_TRUE(si.listen());
    // Busy for three and a half seconds, as a copy printing a long job is.
    QElapsedTimer busy;
    busy.start();
    si.setHandler([&busy](const QByteArray& r) -> std::optional<QByteArray> {
        if (busy.elapsed() < 3500) return std::nullopt;
        return "done:" + r;
    });
    QProcess patient;
    patient.start(QStringLiteral(MARLIX_SI_CLIENT),
                  {QStringLiteral("send"), title, QStringLiteral("job"), QStringLiteral("2000")});
    ASSERT_TRUE(pollUntil([&] { return patient.state() == QProcess::NotRunning; }));
    EXPECT_EQ(patient.exitCode(), 0) << "two seconds of silence at most, though it took longer";
    EXPECT_EQ(patient.readAllStandardOutput(), "done:job");

#ifdef Q_OS_UNIX
    const QString stopped = uniqueTitle("stopped");
    QProcess held;
    held.start(QStringLiteral(MARLIX_SI_CLIENT), {QStringLiteral("hold"), stopped});
    ASSERT_TRUE(held.waitForReadyRead(60'000));
    ::kill(pid_t(held.processId()), SIGSTOP); // hung: it never answers
    QElapsedTimer waited;
    waited.start();
    EXPECT_EQ(SingleInstance::send(stopped, "ping", 1000), std::nullopt);
    EXPECT_LT(waited.elapsed(), 5000);
    ::kill(pid_t(held.processId()), SIGKILL);
    held.waitForFinished();
#endif
}

TEST(SingleInstance, BadClientsDoNotStopTheNextRealRequest) {
    const QString title = uniqueTitle("bad");
    SingleInstance si(title);
    ASSERT_TRUE(si.listen());
    std::vector<QByteArray> seen;
    si.setHandler(recordingInto(seen));
    auto huge = rawClient(si);
    writeAll(*huge, framed("x", 0xFFFFFFFF));
    auto overCap = rawClient(si);
    writeAll(*overCap, framed(QByteArray(100, 'x'), SingleInstance::kMaxRequest + 1));
    auto garbage = rawClient(si);
    writeAll(*garbage, "GET / HTTP/1.0\r\n\r\n");
    auto silent = rawClient(si);
    writeAll(*silent, QByteArray(2, '\0'));
    EXPECT_TRUE(dropped(*huge));
    EXPECT_TRUE(dropped(*overCap));
    EXPECT_TRUE(dropped(*garbage));

    // The longest allowed request, in pieces that split the header too.
    const QByteArray big(SingleInstance::kMaxRequest, 'b');
    const QByteArray bytes = framed(big);
    auto pieces = rawClient(si);
    for (qsizetype at = 0, step = 1; at < bytes.size(); at += step, step *= 7) {
        writeAll(*pieces, bytes.mid(at, step));
        settle(20);
    }
    EXPECT_EQ(answerOf(*pieces), "ok:" + big);

    // The silent client still has its 10 s; the others need not wait for it.
    EXPECT_EQ(Sender(title, QStringLiteral("real")).answer(), "ok:real");
    EXPECT_EQ(seen, (std::vector<QByteArray>{big, "real"}));
}

TEST(SingleInstance, IdleConnectionsAreDropped) {
    SingleInstance si(uniqueTitle("idle"));
    si.setIdleTimeout(500);
    ASSERT_TRUE(si.listen());
    si.setHandler([](const QByteArray&) { return QByteArray("answer"); });
    auto silent = rawClient(si);
    auto partial = rawClient(si);
    writeAll(*partial, framed("half").left(6));
    auto lingering = rawClient(si);
    writeAll(*lingering, framed("q"));
    EXPECT_EQ(answerOf(*lingering), "answer");
    EXPECT_TRUE(dropped(*silent));
    EXPECT_TRUE(dropped(*partial));
    EXPECT_TRUE(dropped(*lingering));
}

#ifdef Q_OS_UNIX
TEST(SingleInstance, ACopyKilledWithItsLockAndSocketDoesNotBlockTheNextStart) {
    const QString title = uniqueTitle("killed");
    QProcess held;
    held.start(QStringLiteral(MARLIX_SI_CLIENT), {QStringLiteral("hold"), title});
    ASSERT_TRUE(held.waitForReadyRead(60'000)) << held.readAllStandardError().toStdString();
    SingleInstance si(title);
    EXPECT_FALSE(si.listen());
    EXPECT_EQ(SingleInstance::send(title, "ping", 60'000), "held:ping");

    held.kill();
    ASSERT_TRUE(held.waitForFinished(60'000));
    ASSERT_TRUE(QFileInfo::exists(si.address() + QStringLiteral(".lock")));
    ASSERT_TRUE(QFileInfo::exists(si.address()));
    ASSERT_TRUE(si.listen()) << si.errorString().toStdString();
    si.setHandler([](const QByteArray& r) { return "ok:" + r; });
    EXPECT_EQ(Sender(title, QStringLiteral("after")).answer(), "ok:after");
}
#endif

} // namespace
