// Fuzzes what the running copy reads from later starts: the input is sent,
// as it is, over a real connection to a listening single-instance channel,
// whose handler takes it apart as a hand-over request and answers it.
//
// - A frame whose length is within the limit and whose body is all there
//   reaches the handler exactly, once, and its answer comes back framed; a
//   longer one is dropped at once, and one cut short is dropped after the
//   idle time. Nothing the sender does keeps the connection forever.
// - A request taken apart and put together again is the same request, so a
//   job's name, whatever its bytes, is the name the sender gave; the answer
//   brings back the PDFs' names as they were.
#include "app/HandOver.h"
#include "platform/NativeName.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdint>
#include <cstdlib>
#include <optional>

using namespace marlix;

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

constexpr int kIdleMs = 20;
const QString kSettings = QStringLiteral("/home/user/.config/Obre/Marlix.ini");

struct Channel {
    QTemporaryDir runtime;
    std::unique_ptr<SingleInstance> instance;
    std::optional<QByteArray> heard; // what the handler was given
    QByteArray answered;
};
Channel* channel = nullptr;

// The names a print of this request writes: a PDF beside the job, named
// after it, so the answer carries the job's own bytes back.
QStringList fakePrint(const QString& file) {
    if (file.isEmpty()) throw std::runtime_error("Cannot open file ");
    return {file + QStringLiteral(".pdf"), file + QStringLiteral(" (2).pdf")};
}

std::optional<QByteArray> handle(const QByteArray& bytes) {
    channel->heard = bytes;
    const handover::Request r = handover::parseRequest(bytes);
    // Put together again and taken apart, it is the same request.
    const handover::Request again = handover::parseRequest(handover::request(r));
    check(again.print == r.print && again.settings == r.settings &&
          (!r.print || again.file == r.file));
    channel->answered = r.print ? handover::answer(fakePrint, r, kSettings) : "0\n";
    if (r.print) {
        const handover::Answer a = handover::parseAnswer(channel->answered);
        if (r.settings != kSettings) {
            check(a.kind == handover::Answer::Kind::OtherSettings);
        } else if (r.file.isEmpty()) {
            check(a.kind == handover::Answer::Kind::Failed && !a.message.isEmpty());
        } else {
            // A name with a line break in it cannot go back on a line of its
            // own; every other name comes back as it went.
            check(a.kind == handover::Answer::Kind::Printed);
            if (!r.file.contains(QLatin1Char('\n'))) check(a.pdfs == fakePrint(r.file));
        }
    }
    return channel->answered;
}

// Runs the event loop until done() or the time is up.
template <typename Done> bool spin(Done done, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    channel = new Channel;
    check(channel->runtime.isValid());
    QFile::setPermissions(channel->runtime.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(channel->runtime.path()));
    channel->instance = std::make_unique<SingleInstance>(QStringLiteral("fuzz"));
    channel->instance->setIdleTimeout(kIdleMs);
    check(channel->instance->listen());
    channel->instance->setHandler(handle);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The bytes of a name, whatever they are, come back from a QString.
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    check(toNativeName(fromNativeName(input)) == input);

    channel->heard.reset();
    channel->answered.clear();
    QLocalSocket sender;
    sender.connectToServer(channel->instance->address());
    check(sender.waitForConnected(2000));
    sender.write(input);
    sender.flush();

    const quint32 length = size >= 4 ? qFromBigEndian<quint32>(data) : 0;
    const bool tooLong = size >= 4 && length > quint32(SingleInstance::kMaxRequest);
    const bool whole = size >= 4 && !tooLong && size - 4 >= length;
    if (!whole) {
        // Dropped, at once or after the idle time, and never handled. Most
        // senders of a part give up by themselves, which is quicker to try.
        if (size % 4 != 0) sender.disconnectFromServer();
        check(spin(
            [&] {
                return sender.state() == QLocalSocket::UnconnectedState &&
                       channel->instance->findChildren<QLocalSocket*>().isEmpty();
            },
            2000));
        check(!channel->heard);
        return 0;
    }
    QByteArray reply;
    check(spin(
        [&] {
            reply += sender.readAll();
            return reply.size() >= 4 &&
                   reply.size() >= 4 + qsizetype(qFromBigEndian<quint32>(reply.constData()));
        },
        2000));
    check(channel->heard == input.mid(4, qsizetype(length)));
    check(reply.mid(4) == channel->answered);
    sender.disconnectFromServer();
    return 0;
}
