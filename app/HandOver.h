// What a later start and the running copy say to each other over the
// single-instance channel. A request is "show\n" or "print\n", then the
// sender's settings file, and for a print the job's name on a line of its
// own; names go as their bytes, since a job's name need not be UTF-8. The
// answer to a print is "0\n" and the PDF files written, a line each; "1\n"
// and the message when the job failed; "2\n" when the running copy uses
// other settings, so the sender prints by itself.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace marlix::handover {

inline const QByteArray kOtherSettings = "2\n";

struct Request {
    bool print = false;
    QString settings;
    QString file;
};

QByteArray request(const Request& r);
// Whatever the bytes: a request that is neither is a show request.
Request parseRequest(const QByteArray& bytes);

// The running copy's answer: print(file) returns the PDF files written, or
// throws with the message.
QByteArray answer(const std::function<QStringList(const QString& file)>& print, const Request& r,
                  const QString& settings);

struct Answer {
    enum class Kind { Printed, Failed, OtherSettings } kind = Kind::Failed;
    QStringList pdfs;
    QString message;
};
Answer parseAnswer(const QByteArray& bytes);

} // namespace marlix::handover
