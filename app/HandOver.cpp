#include "app/HandOver.h"

#include "core/Errors.h"
#include "platform/NativeName.h"

#include <exception>

namespace marlix::handover {

namespace {

const QByteArray kShow = "show\n";
const QByteArray kPrint = "print\n";

} // namespace

QByteArray request(const Request& r) {
    QByteArray bytes = (r.print ? kPrint : kShow) + toNativeName(r.settings);
    if (r.print) bytes += '\n' + toNativeName(r.file);
    return bytes;
}

Request parseRequest(const QByteArray& bytes) {
    Request r;
    r.print = bytes.startsWith(kPrint);
    const QList<QByteArray> lines = bytes.mid((r.print ? kPrint : kShow).size()).split('\n');
    r.settings = fromNativeName(lines.value(0));
    r.file = fromNativeName(lines.value(1));
    return r;
}

QByteArray answer(const std::function<QStringList(const QString& file)>& print, const Request& r,
                  const QString& settings) {
    if (r.settings != settings) return kOtherSettings;
    try {
        QByteArray out = "0\n";
        for (const QString& pdf : print(r.file))
            out += toNativeName(pdf) + '\n';
        return out;
    } catch (const std::exception& e) {
        return QByteArray("1\n") + QByteArray::fromStdString(oneLine(e.what())) + '\n';
    }
}

Answer parseAnswer(const QByteArray& bytes) {
    Answer a;
    if (bytes == kOtherSettings) {
        a.kind = Answer::Kind::OtherSettings;
    } else if (bytes.startsWith("0\n")) {
        a.kind = Answer::Kind::Printed;
        for (const QByteArray& pdf : bytes.mid(2).split('\n'))
            if (!pdf.isEmpty()) a.pdfs << fromNativeName(pdf);
    } else {
        // Anything but the two answers above is a failure: a copy that
        // answers nonsense has not printed the job.
        a.message = QString::fromUtf8(bytes.startsWith("1\n") ? bytes.mid(2) : bytes).trimmed();
        if (a.message.isEmpty())
            a.message =
                QStringLiteral("The running copy of Marlix did not say how the print went.");
    }
    return a;
}

} // namespace marlix::handover
