// The real main window on a settings file of the test's; the boxes it would
// open are answered in advance and recorded.
#pragma once

#include "../support/Pdf.h"
#include "../support/TempDir.h"
#include "app/TForm1.h"
#include "platform/SettingsRegistry.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>
#include <optional>

namespace marlix::test {

// The shipped data plus a few odd language files, for every test here; and
// no print server, so that "Print to PDF" is the default printer even where
// the integration tests run one.
inline const bool environmentSet = [] {
    qputenv("MARLIX_DATA", MARLIX_TEST_DATA);
    qputenv("CUPS_SERVER", "/nonexistent/marlix-no-cups.sock");
    return true;
}();

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ini = QString::fromStdString((dir.path() / "marlix.ini").string());
        pdfs = QString::fromStdString((dir.path() / "pdf").string());
        qputenv("HOME", dir.path().c_str());
    }
    void TearDown() override { window.reset(); }

    // Starts the window on a settings file holding these [General] lines.
    void start(const QString& values = {}, std::function<void(TForm1&)> beforeCreate = {}) {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(("[General]\nPdfFolder=" + pdfs + "\n" + values).toUtf8());
        f.close();
        store = std::make_unique<SettingsRegistry>(ini);
        WindowDialogs d;
        d.error = [this](QWidget*, const QString& text) { errors << text; };
        d.inform = [this](QWidget*, const QString& text) { errors << text; };
        d.question = [this](QWidget*, const QString& title, const QString& text) {
            questions << title + "|" + text;
            return answerYes;
        };
        d.input = [this](QWidget*, const QString& title, const QString& prompt) {
            questions << title + "|" + prompt;
            if (answers.isEmpty()) return std::optional<QString>();
            return std::optional<QString>(answers.takeFirst());
        };
        d.openFile = [this](QWidget*) { return fileToOpen; };
        d.printerSetup = [this](QWidget*, QtPrinter&) {
            ++setups;
            return false;
        };
        window = std::make_unique<TForm1>(*store, d);
        if (beforeCreate) beforeCreate(*window);
        ASSERT_TRUE(window->FormCreate());
    }
    Ui::TForm1& ui() { return *window->form(); }
    QVariant stored(const char* name) {
        QSettings s(ini, QSettings::IniFormat);
        return s.value(QLatin1String(name));
    }
    QAction* item(const char* name) { return window->findChild<QAction*>(QLatin1String(name)); }
    QStringList written() {
        QStringList files = QDir(pdfs).entryList({QStringLiteral("*.pdf")}, QDir::Files);
        for (QString& f : files)
            f = QDir(pdfs).filePath(f);
        return files;
    }

    // Prints a job through the window and reads back the text of its PDF.
    QString printedText(const std::string& bytes) {
        for (const QString& pdf : written())
            QFile::remove(pdf);
        window->PrintOut(QString::fromStdString(dir.write("job.prn", bytes)));
        EXPECT_EQ(written().size(), 1);
        return pdfText(written().value(0)).simplified();
    }

    TempDir dir;
    QString ini;
    QString pdfs;
    std::unique_ptr<SettingsRegistry> store;
    std::unique_ptr<TForm1> window;
    QStringList errors;
    QStringList questions;
    bool answerYes = false;
    QStringList answers; // for the one-line input box, in turn; then Cancel
    QString fileToOpen;
    int setups = 0;
};

} // namespace marlix::test
