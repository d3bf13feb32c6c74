// The real main window on a settings file of the test's, driven through its
// controls by objectName; the boxes it would open are answered in advance.
#include "app/TForm1.h"

#include "../support/Pdf.h"
#include "../support/TempDir.h"
#include "../support/WaitFor.h"
#include "WindowFixture.h"
#include "app/Links.h"
#include "app/PrinterSetupDialog.h"
#include "core/Errors.h"
#include "platform/SettingsRegistry.h"
#include "platform/TVxD.h"
#include "ui_TForm1.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QLibraryInfo>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace marlix;
using namespace marlix::test;

namespace {

TEST_F(WindowTest, AFirstStartHasTheDefaultsAndSavesAllOfThemOnClose) {
    start();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(ui().TrackBar1->value(), 3);
    EXPECT_EQ(window->monitorTimer().interval(), 3000);
    EXPECT_TRUE(ui().CheckBox1->isChecked());
    EXPECT_EQ(ui().Edit1->text(), QDir::home().filePath(QStringLiteral("prnspl")));
    EXPECT_TRUE(ui().RadioButton1->isChecked());
    EXPECT_TRUE(ui().CheckBox7->isChecked() && ui().CheckBox2->isChecked());
    EXPECT_TRUE(ui().CheckBox10->isChecked());
    EXPECT_EQ(ui().Label18->text(), QStringLiteral("Courier New"));
    EXPECT_EQ(ui().ComboBox1->currentText(), QStringLiteral("10"));
    EXPECT_TRUE(ui().CheckBox8->isChecked());
    EXPECT_FALSE(ui().CheckBox9->isChecked());
    EXPECT_EQ(window->languageName(), QStringLiteral("English"));
    EXPECT_EQ(window->codePageName(), QStringLiteral("866"));
    EXPECT_TRUE(window->sizeMode());
    // No capture transport yet: the box can't be used.
    EXPECT_FALSE(ui().CheckBox11->isChecked());
    EXPECT_FALSE(ui().CheckBox11->isEnabled());
    // "Print to PDF" leaves 100 dots of 600 dpi unprinted: 4 mm.
    for (QSpinBox* m : {ui().SpinEdit1, ui().SpinEdit2, ui().SpinEdit3, ui().SpinEdit4})
        EXPECT_EQ(m->value(), 4);
    EXPECT_EQ(ui().Label24->text(), QStringLiteral("Print to PDF"));
    // English.lng is applied before anything shows.
    EXPECT_EQ(ui().Label2->text(), QStringLiteral("3 s"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("DOS console print settings"));
    // Without a notification area the window shows although it starts minimised.
    EXPECT_TRUE(window->isVisible());

    window->close();
    EXPECT_TRUE(window->isMinimized()) << "closing keeps the program running";
    QSettings s(ini, QSettings::IniFormat);
    const QStringList names{"TimeOut",    "AutoPrint",     "Spool",         "Orientation",
                            "LineWrap",   "PageFeed",      "MonoSpace",     "TopMargin",
                            "LeftMargin", "FontName",      "FontSize",      "FontBold",
                            "FontItalic", "FontUnderline", "FontStrikeout", "Minimize",
                            "FormFeed",   "End",           "Language",      "CodePage",
                            "Capture",    "BottomMargin",  "RightMargin",   "DefaultFont",
                            "LPI",        "CPI",           "Printer"};
    for (const QString& n : names)
        EXPECT_TRUE(s.contains(n)) << n.toStdString();
    EXPECT_EQ(s.value("TimeOut").toInt(), 3);
    EXPECT_EQ(s.value("Spool").toString(), ui().Edit1->text());
    EXPECT_EQ(s.value("FontName").toString(), QStringLiteral("Courier New"));
    EXPECT_EQ(s.value("FontSize").toInt(), 10);
    EXPECT_EQ(s.value("Language").toString(), QStringLiteral("English"));
    EXPECT_EQ(s.value("CodePage").toString(), QStringLiteral("866"));
    EXPECT_EQ(s.value("Capture").toInt(), 0);
    EXPECT_EQ(s.value("Minimize").toInt(), 1);
    EXPECT_EQ(s.value("DefaultFont").toInt(), 1);
    EXPECT_EQ(s.value("Printer").toString(), QStringLiteral("Print to PDF"));

    // A second save without changes writes the same file.
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray first = f.readAll();
    f.close();
    window->saveSettings();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), first);
}

TEST_F(WindowTest, StoredValuesReachTheControlsInTheOrderTheirHandlersNeed) {
    QSignalSpy* landscape = nullptr;
    start("TimeOut=42\nOrientation=0\nFontBold=1\nFontItalic=0\nPrinter=print TO pdf\n"
          "Capture=1\nEnd=300\nLanguage=Klingon\nFontSize=12\n",
          [&](TForm1& w) {
              landscape = new QSignalSpy(w.form()->RadioButton2, &QRadioButton::toggled);
          });
    EXPECT_EQ(landscape->count(), 0) << "a stored portrait runs no orientation handler";
    delete landscape;
    EXPECT_EQ(ui().TrackBar1->value(), 10) << "clamped by the slider";
    EXPECT_EQ(window->monitorTimer().interval(), 10000);
    EXPECT_TRUE(ui().Label17->font().bold());
    EXPECT_FALSE(ui().Label17->font().italic());
    EXPECT_TRUE(ui().CheckBox3->isChecked()) << "the layout checks the style it finds";
    EXPECT_EQ(ui().Label24->text(), QStringLiteral("Print to PDF"));
    EXPECT_FALSE(ui().CheckBox11->isChecked());
    EXPECT_EQ(window->languageName(), QStringLiteral("English"));

    // The size box takes 12 only after the size handler measured the form's 10.
    EXPECT_EQ(ui().ComboBox1->currentText(), QStringLiteral("12"));
    const int cpiAt10 = ui().SpinEdit5->value();
    ui().ComboBox1->lineEdit()->setText(QStringLiteral("12"));
    emit ui().ComboBox1->lineEdit()->textEdited(QStringLiteral("12"));
    EXPECT_LT(ui().SpinEdit5->value(), cpiAt10);

    window->saveSettings();
    EXPECT_EQ(stored("Capture").toInt(), 0);
    EXPECT_FALSE(stored("End").isValid() && stored("End").toInt() != 0)
        << "End above 255 reads as absent";
    EXPECT_EQ(stored("Language").toString(), QStringLiteral("English"));
}

TEST_F(WindowTest, AStoredLandscapePageSwitchesPicturesMenuAndLayout) {
    start("Orientation=1\n");
    EXPECT_TRUE(ui().RadioButton2->isChecked());
    EXPECT_FALSE(ui().Image4->isHidden());
    EXPECT_TRUE(ui().Image1->isHidden());
    EXPECT_TRUE(item("N10")->isChecked());
    EXPECT_FALSE(item("N9")->isChecked());
    EXPECT_EQ(window->printer().orientation(), Orientation::Landscape);
}

TEST_F(WindowTest, TrayLandscapeWhileTheWindowIsHidden) {
    start();
    window->hide();
    const QString portraitLines = ui().Label15->text();
    item("N10")->trigger();
    EXPECT_TRUE(ui().RadioButton2->isChecked());
    EXPECT_FALSE(ui().Image3->isHidden());
    EXPECT_FALSE(ui().Image4->isHidden());
    EXPECT_TRUE(ui().Image2->isHidden());
    EXPECT_TRUE(item("N10")->isChecked());
    EXPECT_FALSE(item("N9")->isChecked());
    EXPECT_EQ(item("N8")->icon().cacheKey(), item("N10")->icon().cacheKey());
    EXPECT_LT(ui().Label15->text().toInt(), portraitLines.toInt());
    // Choosing what is already chosen keeps the mark.
    item("N10")->trigger();
    EXPECT_TRUE(item("N10")->isChecked());
}

TEST_F(WindowTest, TheSizeBoxSavesTenForTextThatIsNoNumber) {
    start();
    ui().ComboBox1->setEditText(QStringLiteral("abc"));
    emit ui().ComboBox1->lineEdit()->textEdited(QStringLiteral("abc"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], QStringLiteral("'abc' is not a valid integer value"));
    window->saveSettings();
    EXPECT_EQ(stored("FontSize").toInt(), 10);
}

TEST_F(WindowTest, PitchModeFollowsCpiAndLpiAndSizeModeClampsThem) {
    start();
    ui().SpinEdit5->setValue(10);
    ui().SpinEdit6->setValue(6);
    EXPECT_FALSE(window->sizeMode());
    // A 96 dpi screen: 9.6 dots round to 10, 16 stay 16.
    EXPECT_EQ(window->logicalDpiX(), 96);
    EXPECT_EQ(window->sampleCell(), QSize(10, 16));
    EXPECT_EQ(window->engine().charHeight(), 100) << "600 dpi at 6 lines per inch";

    ui().ComboBox1->setEditText(QStringLiteral("2"));
    emit ui().ComboBox1->lineEdit()->textEdited(QStringLiteral("2"));
    EXPECT_TRUE(window->sizeMode());
    EXPECT_EQ(ui().SpinEdit5->value(), 25);
    EXPECT_EQ(ui().SpinEdit6->value(), 15);
}

TEST_F(WindowTest, AFailedLayoutShowsItsErrorUntilALayoutWorks) {
    start();
    // A margin box has no limits; a page edge beyond 32 bits is no page.
    ui().SpinEdit3->setValue(2000000000);
    EXPECT_EQ(ui().StaticText1->text(),
              "Range check error\nthe margins: top 4 mm, bottom 4 mm, left 2000000000 mm, right "
              "4 mm");
    ui().SpinEdit3->setValue(10);
    EXPECT_TRUE(ui().StaticText1->text().isEmpty());
}

TEST_F(WindowTest, LanguageFilesReplaceEveryTextAndNothingElse) {
    start();
    const int dotted = ui().ComboBox2->findText(QStringLiteral("a"));
    EXPECT_GE(dotted, 0) << "a.b.lng is listed by its name up to the first dot";
    ui().CheckBox9->setChecked(true);
    ui().TrackBar1->setValue(5);

    ui().ComboBox2->setCurrentIndex(ui().ComboBox2->findText(QStringLiteral("Only")));
    window->ComboBox2Change();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("X"));
    EXPECT_TRUE(ui().CheckBox1->text().isEmpty());
    EXPECT_TRUE(ui().GroupBox1->title().isEmpty());
    EXPECT_TRUE(item("N2")->text().isEmpty());
    EXPECT_TRUE(item("N1")->text().isEmpty());
    EXPECT_TRUE(window->message("ExitTitle").isEmpty());
    EXPECT_EQ(ui().Label2->text(), QStringLiteral("5 "));
    EXPECT_EQ(ui().Label20->text(), QStringLiteral("Interface language")) << "no key names it";
    EXPECT_TRUE(ui().CheckBox9->isChecked()) << "values stay";

    ui().ComboBox2->setCurrentIndex(ui().ComboBox2->findText(QStringLiteral("Mixed")));
    window->ComboBox2Change();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("A=B"));
    EXPECT_EQ(ui().SpeedButton1->text(), QStringLiteral("One")) << "the first definition wins";
    EXPECT_EQ(window->pendingJobIcon()->toolTip(), QStringLiteral("One"));
    EXPECT_EQ(ui().Label2->text(), QStringLiteral("5 s"));
    EXPECT_TRUE(ui().Button2->text().isEmpty()) << "Sequences without Esc";

    // a.b.lng is offered as "a", and a.lng does not exist.
    ui().ComboBox2->setCurrentIndex(dotted);
    EXPECT_THROW(window->ComboBox2Change(), Error);
    EXPECT_EQ(window->languageName(), QStringLiteral("a"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("A=B")) << "no text changed";

    // Back to the shipped Russian file: the built-in texts.
    ui().ComboBox2->setCurrentIndex(ui().ComboBox2->findText(QStringLiteral("Russian")));
    window->ComboBox2Change();
    EXPECT_EQ(ui().CheckBox1->text(), QStringLiteral("А&втоматическая печать"));
    EXPECT_EQ(item("N2")->text(), QStringLiteral("Распечатать"));
    window->FormActivate();
    EXPECT_EQ(ui().ComboBox2->currentText(), QStringLiteral("Russian"));
    // Qt's own buttons follow, where its translations are installed.
    if (QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ru.qm")) {
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Да"));
    }
}

TEST(Links, TheRegionalAddressesAreForRussiaOnly) {
    EXPECT_EQ(links::forCountry(QStringLiteral("RUSSIA")).homePage, links::regional().homePage);
    EXPECT_EQ(links::forCountry(QStringLiteral("Ukraine")).supportMail,
              links::international().supportMail);
    EXPECT_TRUE(links::international().supportMail.startsWith(QStringLiteral("mailto:")));
    EXPECT_TRUE(links::regional().supportMail.contains(QStringLiteral("subject=")));
}

TEST_F(WindowTest, TheFontListShowsFixedPitchFacesOnDemand) {
    start();
    EXPECT_TRUE(window->fullFontList().isEmpty()) << "nothing is scanned at start";
    ui().PageControl1->setCurrentIndex(1);
    ASSERT_FALSE(window->fullFontList().isEmpty());
    const QStringList fixed = window->fixedFontList();
    EXPECT_TRUE(fixed.contains(QStringLiteral("DejaVu Sans Mono")));
    EXPECT_FALSE(fixed.contains(QStringLiteral("DejaVu Sans")));
    EXPECT_EQ(ui().ListBox1->count(), fixed.size());
    EXPECT_EQ(ui().Label23->text(), QStringLiteral("Monospaced font."));

    ui().CheckBox10->setChecked(false);
    EXPECT_EQ(ui().ListBox1->count(), window->fullFontList().size());
    auto found = ui().ListBox1->findItems(QStringLiteral("DejaVu Sans"), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    ui().ListBox1->setCurrentItem(found[0]);
    window->ListBox1Click();
    EXPECT_EQ(ui().Label18->text(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(ui().Label23->text(), QStringLiteral("Proportional font. Not recommended."));
    EXPECT_TRUE(ui().Label16->isHidden());
    EXPECT_FALSE(ui().Label15->isHidden());

    ui().CheckBox10->setChecked(true);
    EXPECT_EQ(window->fixedFontList(), fixed) << "no second scan";
    EXPECT_EQ(ui().ListBox1->currentItem(), nullptr) << "the proportional face is not listed";
}

TEST_F(WindowTest, PrintAFileKeepsTheMonitorIntervalWhateverHappens) {
    start();
    ui().TrackBar1->setValue(5);
    window->SpeedButton3Click(); // cancelled: no file chosen
    EXPECT_EQ(window->monitorTimer().interval(), 5000);
    EXPECT_TRUE(window->monitorTimer().isActive());

    fileToOpen = QString::fromStdString(dir.write("job.prn", "AB\r\nCD\fEF"));
    window->SpeedButton3Click();
    EXPECT_EQ(written().size(), 1);
    EXPECT_TRUE(QFile::exists(fileToOpen)) << "a chosen file is not deleted";
    EXPECT_EQ(window->monitorTimer().interval(), 5000);

    fileToOpen = QString::fromStdString((dir.path() / "gone.prn").string());
    EXPECT_THROW(window->SpeedButton3Click(), Error);
    EXPECT_EQ(window->monitorTimer().interval(), 5000);
    EXPECT_TRUE(window->monitorTimer().isActive());
}

TEST_F(WindowTest, PrintNowPrintsAndDeletesTheJobFile) {
    start();
    const QString job = QString::fromStdString(dir.write("prnspl", "Hello"));
    ui().Edit1->setText(job);
    ui().SpeedButton1->setEnabled(true);
    window->SpeedButton1Click();
    ASSERT_EQ(written().size(), 1);
    EXPECT_TRUE(pdfText(written()[0]).contains(QStringLiteral("Hello")));
    EXPECT_FALSE(QFile::exists(job));
    EXPECT_FALSE(ui().SpeedButton1->isEnabled());
    EXPECT_FALSE(item("N2")->isEnabled());
    EXPECT_EQ(window->monitorTimer().interval(), 3000);
}

TEST_F(WindowTest, ALongJobKeepsTheWindowAliveAndRefusesASecondOne) {
    start();
    std::string bytes;
    for (int page = 0; page < 300; ++page)
        bytes += std::string(60 * 80, 'x') + "\f";
    const QString job = QString::fromStdString(dir.write("long.prn", bytes));
    const QString other = QString::fromStdString(dir.write("other.prn", "other"));
    int ticks = 0;
    std::set<qint64> trayPictures;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        trayPictures.insert(window->trayIcon()->icon().cacheKey());
    });
    const qint64 appIcon = window->trayIcon()->icon().cacheKey();
    ticker.start(10);
    bool refused = false;
    QTimer::singleShot(0, [&] {
        try {
            window->printHandedOver(other);
        } catch (const Error& e) {
            refused = std::string(e.what()) == "Printing in progress";
        }
    });
    const QStringList files = window->printHandedOver(job);
    EXPECT_TRUE(refused);
    EXPECT_GT(ticks, 0) << "timers ran while the job printed";
    trayPictures.erase(appIcon);
    EXPECT_FALSE(trayPictures.empty()) << "the tray icon shows the progress";
    EXPECT_EQ(window->trayIcon()->icon().cacheKey(), appIcon) << "and its own picture at the end";
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(pdfPages(files[0]), 300);
}

TEST_F(WindowTest, WhileAJobPrintsOnlyCancelIsOfferedAndItLeavesWhatCameMeanwhile) {
    const QString job = QString::fromStdString((dir.path() / "prnspl").string());
    start("TimeOut=1\nSpool=" + job + "\n");
    std::string bytes;
    for (int page = 0; page < 300; ++page)
        bytes += std::string(60 * 80, 'x') + "\f";
    dir.write("prnspl", bytes);
    std::map<QString, bool> during;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (!window->session().printing() || !during.empty()) return;
        for (QWidget* w : std::initializer_list<QWidget*>{
                 ui().SpeedButton1, ui().SpeedButton2, ui().SpeedButton3, ui().SpeedButton6,
                 ui().GroupBox3, ui().PageControl1->widget(1)})
            during[w->objectName()] = w->isEnabled();
        for (const char* name : {"N2", "N5", "N7", "N12"})
            during[name] = item(name)->isEnabled() && item(name)->isVisible();
        // A sender's job arrives meanwhile; the user cancels the long one.
        QFile f(job);
        f.open(QIODevice::Append);
        f.write("wanted\r\n");
        f.close();
        window->SpeedButton6Click();
    });
    probe.start(5);
    ASSERT_TRUE(waitFor([&] { return !during.empty() && !window->session().printing(); }, 20000));
    const std::map<QString, bool> expected{{"SpeedButton1", false}, {"SpeedButton2", false},
                                           {"SpeedButton3", false}, {"SpeedButton6", true},
                                           {"GroupBox3", false},    {"TabSheet2", false},
                                           {"N2", false},           {"N5", false},
                                           {"N7", false},           {"N12", true}};
    EXPECT_EQ(during, expected);
    ASSERT_TRUE(waitFor([&] { return written().size() == 1; }, 10000)) << "the next job prints";
    EXPECT_EQ(pdfText(written()[0]).simplified(), QStringLiteral("wanted"))
        << "nothing of the cancelled job, all of what came meanwhile";
    EXPECT_TRUE(QDir(pdfs).entryList({QStringLiteral("*.part")}).isEmpty());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_TRUE(ui().SpeedButton3->isEnabled() && !ui().SpeedButton6->isEnabled());
}

TEST_F(WindowTest, PrinterSetupCancelledStillRefreshesFontsAndOrientation) {
    start();
    window->printer().setOrientation(Orientation::Landscape);
    window->SpeedButton4Click();
    EXPECT_EQ(setups, 1);
    EXPECT_TRUE(ui().RadioButton2->isChecked()) << "read back from the printer";
    EXPECT_FALSE(window->fullFontList().isEmpty());
    EXPECT_TRUE(window->fixedFontList().isEmpty());
}

TEST_F(WindowTest, PrinterSetupListsEveryPrinterWithOptionsOnlyForSystemOnes) {
    start();
    PrinterSetupDialog dialog(window->printer());
    auto* list = dialog.findChild<QComboBox*>(QStringLiteral("printerList"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->currentText(), QStringLiteral("Print to PDF"));
    EXPECT_EQ(list->count(), QtPrinter::printerNames().size());
    EXPECT_FALSE(dialog.findChild<QPushButton*>(QStringLiteral("optionsButton"))->isEnabled())
        << "the built-in printer has no options of its own";
}

TEST_F(WindowTest, ExitAsksAndSavesOnlyOnYes) {
    start();
    ui().TrackBar1->setValue(7);
    window->N1Click();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0],
              QStringLiteral("Warning|After exit, printing from\nDOS programs stops. Exit?"));
    EXPECT_FALSE(stored("TimeOut").isValid());
    answerYes = true;
    window->N1Click();
    EXPECT_EQ(stored("TimeOut").toInt(), 7);
}

TEST_F(WindowTest, TheTrayMenuHasItsItemsInOrderWithOpenAsDefault) {
    start();
    QStringList names;
    for (QAction* a : window->trayMenu()->actions())
        names << a->objectName();
    EXPECT_EQ(names, QStringList({"N3", "N5", "N2", "N12", "N8", "N11", "N7", "N4", "N6", "N1"}));
    EXPECT_FALSE(item("N12")->isVisible()) << "Cancel printing, while a job prints";
    EXPECT_EQ(window->trayMenu()->defaultAction(), item("N3"));
    EXPECT_FALSE(item("N11")->isVisible());
    EXPECT_TRUE(item("N6")->isSeparator());
    EXPECT_EQ(window->trayIcon()->toolTip(), QStringLiteral("DOS console printing"));
}

std::uint16_t portOf(const CaptureDriver& vxd) {
    const std::string at = vxd.endpoint();
    return std::uint16_t(std::stoi(at.substr(at.rfind(':') + 1)));
}

TEST_F(WindowTest, ACapturedJobPrintsByItselfAndTheControlsFollowTheJobFile) {
    const QString job = QString::fromStdString((dir.path() / "prnspl").string());
    start("TimeOut=1\nCapture=1\nCapturePort=0\nSpool=" + job + "\n",
          [](TForm1& w) { w.setCaptureFactory(loopbackCapture()); });
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    ASSERT_NE(window->captureDriver(), nullptr);
    QTcpSocket sender;
    sender.connectToHost(QHostAddress::LocalHost, portOf(*window->captureDriver()));
    ASSERT_TRUE(sender.waitForConnected(5000));
    sender.write("Captured line\r\n\f");
    // Closed once taken: a sender gone before its connection is taken is nobody's.
    ASSERT_TRUE(waitFor([&] { return QFile::exists(job); }, 5000));
    sender.disconnectFromHost();
    EXPECT_TRUE(waitFor([&] { return ui().SpeedButton2->isEnabled(); }, 1000))
        << "the presence tick enables the job controls";
    ASSERT_TRUE(waitFor([&] { return written().size() == 1; }, 5000)) << "printed by itself";
    EXPECT_TRUE(pdfText(written()[0]).contains(QStringLiteral("Captured line")));
    EXPECT_FALSE(QFile::exists(job));
    EXPECT_TRUE(
        waitFor([&] { return !ui().SpeedButton1->isEnabled() && !item("N7")->isEnabled(); }, 1000));

    // Clearing the box closes the port; ticking it again listens anew.
    const std::uint16_t port = portOf(*window->captureDriver());
    ui().CheckBox11->setChecked(false);
    EXPECT_EQ(window->captureDriver(), nullptr);
    QTcpSocket refused;
    refused.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_FALSE(refused.waitForConnected(2000));
    ui().CheckBox11->setChecked(true);
    EXPECT_NE(window->captureDriver(), nullptr);
}

TEST_F(WindowTest, ATakenCapturePortIsAStateShownBesideTheBoxAndNeverSaved) {
    auto other = std::make_unique<QTcpServer>();
    ASSERT_TRUE(other->listen(QHostAddress::LocalHost, 0));
    const QString port = QString::number(other->serverPort());
    start("Capture=1\nCapturePort=" + port + "\n",
          [](TForm1& w) { w.setCaptureFactory(loopbackCapture()); });
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_TRUE(ui().CheckBox11->isChecked());
    EXPECT_TRUE(ui().Label25->isVisibleTo(window.get()));
    EXPECT_EQ(ui().Label25->text(), "port " + port + " is in use by another program");
    EXPECT_TRUE(window->isVisible()) << "the rest of the start ran";
    window->saveSettings();
    EXPECT_EQ(stored("Capture").toInt(), 1);

    other.reset();
    EXPECT_TRUE(waitFor([&] { return ui().Label25->isHidden(); }, 2 * TVxD::kRetryPortMs))
        << "captures as soon as the port is free";
}

TEST_F(WindowTest, TheTimeOutAndClearCommandsDriveTheMonitor) {
    start();
    ui().TrackBar1->setValue(7);
    EXPECT_EQ(ui().Label2->text(), "7 " + window->message("Sec"));
    EXPECT_EQ(window->monitorTimer().interval(), 7000);
    EXPECT_TRUE(window->monitorTimer().isActive());

    const QString job = QString::fromStdString(dir.write("prnspl", "unwanted"));
    ui().Edit1->setText(job);
    ASSERT_TRUE(waitFor([&] { return item("N7")->isEnabled(); }, 1000));
    item("N7")->trigger();
    EXPECT_FALSE(QFile::exists(job));
    EXPECT_FALSE(ui().SpeedButton1->isEnabled());
    EXPECT_TRUE(written().isEmpty());
}

} // namespace
