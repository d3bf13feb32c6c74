// A second copy for the single-instance tests, in a process of its own.
//   si_client send TITLE REQUEST [TIMEOUT_MS]  prints the answer; exits 3 when nobody answered
//   si_client hold TITLE                       becomes the first copy until killed
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

using marlix::SingleInstance;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() >= 4 && args[1] == QLatin1String("send")) {
        const int timeoutMs = args.size() > 4 ? args[4].toInt() : 60'000;
        const auto answer = SingleInstance::send(args[2], args[3].toUtf8(), timeoutMs);
        if (!answer) return 3;
        std::fwrite(answer->constData(), 1, std::size_t(answer->size()), stdout);
        return 0;
    }
    if (args.size() == 3 && args[1] == QLatin1String("hold")) {
        SingleInstance channel(args[2]);
        if (!channel.listen()) return 4;
        channel.setHandler([](const QByteArray& request) { return "held:" + request; });
        std::puts("listening");
        std::fflush(stdout);
        // A test that dies before killing this copy must not leave it behind.
        QTimer::singleShot(120'000, &app, &QCoreApplication::quit);
        return QCoreApplication::exec();
    }
    std::fputs("usage: si_client send TITLE REQUEST [TIMEOUT_MS] | hold TITLE\n", stderr);
    return 2;
}
