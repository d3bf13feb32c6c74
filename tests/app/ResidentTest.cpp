// The resident program as a user meets it: a real X server (Xvfb) with a
// notification area (trayer), real marlix processes, the mouse on the tray
// icon. Each test has its own home, settings file and runtime folder.
#include "../support/TempDir.h"
#include "../support/WaitFor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

using namespace marlix::test;

// X11/Xlib.h defines macros that clash with the test framework's names.
bool sendWmDelete(const char* display, unsigned long window);

namespace {

// One X server with a tray host for the whole program.
class Desktop {
public:
    static Desktop& get() {
        static Desktop desktop;
        return desktop;
    }
    bool ready() const { return ready_; }
    QString problem() const { return problem_; }
    QString display() const { return display_; }

    ~Desktop() {
        for (QProcess* p : {&trayer_, &xvfb_}) {
            p->terminate();
            p->waitForFinished(3000);
        }
    }

private:
    Desktop() {
        for (const char* tool : {"Xvfb", "trayer", "xdotool"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
                problem_ = QStringLiteral("%1 is not installed").arg(QLatin1String(tool));
                return;
            }
        // A loaded machine (the sanitizer run) can take its time.
        constexpr int kStartMs = 60000;
        // The server picks a free display and says which.
        xvfb_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1024x768x24",
                                             "-dpi", "96", "-nolisten", "tcp"});
        QByteArray number;
        if (!waitFor(
                [&] {
                    xvfb_.waitForReadyRead(100);
                    number += xvfb_.readAllStandardOutput();
                    return number.contains('\n');
                },
                kStartMs)) {
            problem_ = QStringLiteral("Xvfb did not start: ") +
                       QString::fromUtf8(xvfb_.readAllStandardError());
            return;
        }
        display_ = QStringLiteral(":%1").arg(number.trimmed().toInt());
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        trayer_.setProcessEnvironment(env);
        trayer_.start(QStringLiteral("trayer"),
                      {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width",
                       "200", "--heighttype", "pixel", "--height", "24"});
        ready_ = trayer_.waitForStarted() && waitFor([&] {
                     return !xdotool({"search", "--name", "panel"}).isEmpty();
                 });
    }

public:
    QString xdotool(const QStringList& args) const {
        QProcess p;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), args);
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

private:
    QProcess xvfb_;
    QProcess trayer_;
    QString display_;
    QString problem_;
    bool ready_ = false;
};

class ResidentTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Desktop::get().ready()) GTEST_SKIP() << Desktop::get().problem().toStdString();
        home = QString::fromStdString(dir.path().string());
        ini = home + "/marlix.ini";
        pdfs = home + "/pdf";
        QDir().mkpath(home + "/runtime");
        QFile::setPermissions(home + "/runtime",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(("[General]\nCapturePort=0\nPdfFolder=" + pdfs + "\n").toUtf8());
    }
    void TearDown() override {
        for (auto& p : copies)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
    }

    QProcessEnvironment environment() const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), Desktop::get().display());
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("MARLIX_SETTINGS"), ini);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + "/runtime");
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.insert(QStringLiteral("CUPS_SERVER"), home + "/no-cups.sock");
        return env;
    }
    QProcess& startCopy(const QStringList& args = {}) {
        copies.push_back(std::make_unique<QProcess>());
        QProcess& p = *copies.back();
        p.setProcessEnvironment(environment());
        p.start(QStringLiteral(MARLIX_EXE), args);
        EXPECT_TRUE(p.waitForStarted());
        return p;
    }
    QString xdotool(const QStringList& args) const { return Desktop::get().xdotool(args); }
    // The program's visible windows by name: the settings window and the tray icon.
    QString window(const QString& name) const {
        const QStringList ids = xdotool({"search", "--onlyvisible", "--classname", "marlix"})
                                    .split('\n', Qt::SkipEmptyParts);
        for (const QString& id : ids)
            if (xdotool({"getwindowname", id}).startsWith(name)) return id;
        return {};
    }
    QString trayIcon() const { return window(QStringLiteral("Marlix")); }
    QString settingsWindow() const { return window(QStringLiteral("DOS console print settings")); }
    void clickTrayIcon(int button, int times) {
        const QString icon = trayIcon();
        ASSERT_FALSE(icon.isEmpty());
        xdotool({"mousemove", "--window", icon, "11", "11", "sleep", "0.2", "click", "--repeat",
                 QString::number(times), "--delay", "80", QString::number(button)});
    }
    // What a window manager's close button does: WM_DELETE_WINDOW.
    void closeWindow(const QString& id) {
        ASSERT_TRUE(sendWmDelete(Desktop::get().display().toLatin1().constData(), id.toULong()));
    }

    TempDir dir;
    QString home, ini, pdfs;
    std::vector<std::unique_ptr<QProcess>> copies;
};

TEST_F(ResidentTest, StartsInTheTrayOpensOnDoubleClickAndSavesWhenClosed) {
    startCopy();
    ASSERT_TRUE(waitFor([&] { return !trayIcon().isEmpty(); })) << "the tray icon shows";
    EXPECT_TRUE(settingsWindow().isEmpty()) << "a first start only shows the tray icon";

    clickTrayIcon(1, 2);
    ASSERT_TRUE(waitFor([&] { return !settingsWindow().isEmpty(); }));
    // While the window is up the tray icon offers no menu.
    clickTrayIcon(3, 1);
    EXPECT_FALSE(waitFor(
        [&] {
            const QString all = xdotool({"search", "--onlyvisible", "--classname", "marlix"});
            return all.split('\n', Qt::SkipEmptyParts).size() > 2;
        },
        1000));

    closeWindow(settingsWindow());
    ASSERT_TRUE(waitFor([&] { return settingsWindow().isEmpty(); })) << "closing hides it";
    EXPECT_EQ(copies[0]->state(), QProcess::Running);
    QSettings s(ini, QSettings::IniFormat);
    EXPECT_EQ(s.value("TimeOut").toInt(), 3);
    EXPECT_EQ(s.value("AutoPrint").toInt(), 1);
    EXPECT_EQ(s.value("Spool").toString(), home + "/prnspl");
    EXPECT_EQ(s.value("Minimize").toInt(), 1);
    EXPECT_EQ(s.value("Language").toString(), QStringLiteral("English"));
    EXPECT_EQ(s.value("Printer").toString(), QStringLiteral("Print to PDF"));
    int values = 0;
    for (const QString& key : s.childKeys())
        values += key != QStringLiteral("PdfFolder") && key != QStringLiteral("Sequence") &&
                  key != QStringLiteral("CapturePort");
    EXPECT_EQ(values, 27);
}

TEST_F(ResidentTest, ASecondStartRaisesTheFirstAndEndsAtOnce) {
    startCopy();
    ASSERT_TRUE(waitFor([&] { return !trayIcon().isEmpty(); }));
    QElapsedTimer t;
    t.start();
    QProcess& second = startCopy();
    ASSERT_TRUE(second.waitForFinished(10000));
    const qint64 took = t.elapsed();
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    RecordProperty("second start ms", int(took));
#ifndef MARLIX_SANITIZED
    EXPECT_LT(took, 1000);
#endif
    EXPECT_TRUE(waitFor([&] { return !settingsWindow().isEmpty(); }))
        << "the first copy shows itself";
}

TEST_F(ResidentTest, WithAutomaticPrintingOffAWaitingJobGetsAnIconThatPrintsItWhenClicked) {
    const QString job = home + "/prnspl";
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(("AutoPrint=0\nTimeOut=1\nSpool=" + job + "\n").toUtf8());
    f.close();
    startCopy();
    ASSERT_TRUE(waitFor([&] { return !trayIcon().isEmpty(); }));
    const QString appIcon = trayIcon();
    auto pendingIcon = [&]() -> QString {
        const QStringList ids = xdotool({"search", "--onlyvisible", "--classname", "marlix"})
                                    .split('\n', Qt::SkipEmptyParts);
        for (const QString& id : ids)
            if (id != appIcon && xdotool({"getwindowname", id}).startsWith("Marlix")) return id;
        return {};
    };
    EXPECT_TRUE(pendingIcon().isEmpty());
    dir.write("prnspl", "Waiting job\r\n");
    ASSERT_TRUE(waitFor([&] { return !pendingIcon().isEmpty(); })) << "a job waits: its icon shows";
    QThread::msleep(2500);
    EXPECT_TRUE(QFile::exists(job)) << "nothing prints by itself";
    xdotool({"mousemove", "--window", pendingIcon(), "11", "11", "sleep", "0.2", "click", "1"});
    ASSERT_TRUE(waitFor([&] { return !QFile::exists(job); })) << "a click prints the job";
    EXPECT_EQ(QDir(pdfs).entryList({"*.pdf"}, QDir::Files).size(), 1);
    EXPECT_TRUE(waitFor([&] { return pendingIcon().isEmpty(); }));
}

TEST_F(ResidentTest, ASecondStartWithAJobFileHasTheRunningCopyPrintIt) {
    startCopy();
    ASSERT_TRUE(waitFor([&] { return !trayIcon().isEmpty(); }));
    const QString job = QString::fromStdString(dir.write("job.prn", "Handed over\r\n"));
    QProcess& second = startCopy({job});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    const QString out = QString::fromUtf8(second.readAllStandardOutput()).trimmed();
    EXPECT_TRUE(out.startsWith(pdfs)) << out.toStdString();
    EXPECT_TRUE(QFile::exists(out));
    EXPECT_TRUE(QFile::exists(job)) << "a handed-over file is not deleted";
    EXPECT_TRUE(settingsWindow().isEmpty()) << "printing does not open the window";

    QProcess& third = startCopy({home + "/missing.prn"});
    ASSERT_TRUE(third.waitForFinished(10000));
    EXPECT_EQ(third.exitCode(), 0) << "a name that is no file only asks to be shown";
}

TEST_F(ResidentTest, ExitFromTheTrayMenuAsksSavesAndEnds) {
    QProcess& first = startCopy();
    ASSERT_TRUE(waitFor([&] { return !trayIcon().isEmpty(); }));
    const QString icon = trayIcon();
    clickTrayIcon(3, 1);
    QString menu;
    ASSERT_TRUE(waitFor([&] {
        const QStringList ids = xdotool({"search", "--onlyvisible", "--classname", "marlix"})
                                    .split('\n', Qt::SkipEmptyParts);
        for (const QString& id : ids)
            if (id != icon) menu = id;
        return !menu.isEmpty();
    })) << "the tray menu opens while the window is hidden";
    // Exit is the last item.
    const QString geometry = xdotool({"getwindowgeometry", "--shell", menu});
    int height = 0;
    for (const QString& line : geometry.split('\n'))
        if (line.startsWith(QStringLiteral("HEIGHT="))) height = line.mid(7).toInt();
    // A menu takes a click on the item under the pointer once it saw it there.
    xdotool({"mousemove", "--window", menu, "30", QString::number(height - 10), "sleep", "0.3",
             "click", "1"});
    QString box;
    ASSERT_TRUE(waitFor([&] {
        box = xdotool({"search", "--onlyvisible", "--name", "^Warning"});
        return !box.isEmpty();
    })) << "the question";
    xdotool({"windowfocus", box.section('\n', 0, 0)});
    xdotool({"key", "--window", box.section('\n', 0, 0), "alt+y"});
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_EQ(first.exitCode(), 0);
    QSettings s(ini, QSettings::IniFormat);
    EXPECT_EQ(s.value("Printer").toString(), QStringLiteral("Print to PDF"));
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
