// Reading back the PDFs the program wrote, with poppler's tools.
#pragma once

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace marlix::test {

inline QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Every PDF a test reads back must be sound: qpdf finds nothing wrong with
// its structure, streams or fonts.
inline void expectSoundPdf(const QString& pdf) {
    static std::set<QString> checked;
    if (!checked.insert(pdf).second) return;
    QProcess p;
    p.start(QStringLiteral("qpdf"), {QStringLiteral("--check"), pdf});
    p.waitForFinished(60000);
    EXPECT_TRUE(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        << pdf.toStdString() << ": " << p.readAllStandardOutput().toStdString()
        << p.readAllStandardError().toStdString();
}

inline int pdfPages(const QString& pdf) {
    expectSoundPdf(pdf);
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                       .match(run(QStringLiteral("pdfinfo"), {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

inline QString pdfText(const QString& pdf) {
    expectSoundPdf(pdf);
    return run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
}

// The first page as a greyscale picture at dpi dots per inch.
inline QImage pdfPicture(const QString& pdf, int dpi) {
    expectSoundPdf(pdf);
    QProcess p;
    p.start(QStringLiteral("pdftoppm"),
            {QStringLiteral("-gray"), QStringLiteral("-r"), QString::number(dpi),
             QStringLiteral("-singlefile"), QStringLiteral("-png"), pdf});
    p.waitForFinished(60000);
    return QImage::fromData(p.readAllStandardOutput(), "PNG");
}

struct PdfWord {
    int page;
    double xMin, yMin, xMax, yMax;
    QString text;
};

// Every word with its box in points, from pdftotext -bbox.
inline std::vector<PdfWord> pdfWords(const QString& pdf) {
    expectSoundPdf(pdf);
    const QString html =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    std::vector<PdfWord> words;
    int page = 0;
    static const QRegularExpression re(
        QStringLiteral("<page |<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" "
                       "yMax=\"([\\d.]+)\">([^<]*)</word>"));
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith(QStringLiteral("<page"))) {
            ++page;
            continue;
        }
        QString text = m.captured(5);
        text.replace(QStringLiteral("&quot;"), QStringLiteral("\""))
            .replace(QStringLiteral("&apos;"), QStringLiteral("'"))
            .replace(QStringLiteral("&lt;"), QStringLiteral("<"))
            .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
            .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        words.push_back({page, m.captured(1).toDouble(), m.captured(2).toDouble(),
                         m.captured(3).toDouble(), m.captured(4).toDouble(), text});
    }
    return words;
}

} // namespace marlix::test
