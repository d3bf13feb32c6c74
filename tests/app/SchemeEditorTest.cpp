// The scheme editor, the initialisation submenu and the ASCII chart, opened
// from the real main window on a settings file of the test's and driven by
// objectName.
#include "../support/Pdf.h"
#include "../support/WaitFor.h"
#include "WindowFixture.h"
#include "app/TForm3.h"
#include "app/TForm4.h"
#include "charset/AsciiChart.h"
#include "schemes/SchemeStore.h"
#include "ui_TForm1.h"
#include "ui_TForm3.h"

#include <QAbstractItemView>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTest>

using namespace marlix;
using namespace marlix::test;

namespace {

constexpr int kPicaRow = 10; // the eleventh command

class SchemeEditorTest : public WindowTest {
protected:
    TForm3& editor() { return *window->schemeEditor(); }
    Ui::TForm3& eui() { return *editor().form(); }
    void open() {
        window->Button2Click();
        ASSERT_TRUE(editor().isVisible());
        // The window's activation reloads it: let that happen before the test acts.
        waitFor([&] { return editor().isActiveWindow(); }, 1000);
        QCoreApplication::processEvents();
    }
    // The user picks a scheme in the list.
    void pick(const QString& name) {
        const int index = eui().ComboBox1->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        eui().ComboBox1->setCurrentIndex(index);
        emit eui().ComboBox1->activated(index);
    }
    // Types into a pattern cell through the grid's own editor and leaves it.
    void type(int row, const QString& text) {
        QTableWidget* grid = eui().StringGrid1;
        grid->setCurrentCell(row, 1);
        grid->editItem(grid->item(row, 1));
        auto* line = grid->findChild<QLineEdit*>();
        ASSERT_NE(line, nullptr);
        line->selectAll();
        QTest::keyClicks(line, text);
        QTest::keyClick(line, Qt::Key_Return);
        // The view takes the edit after the key and drops its editor later.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QVariant schemeValue(const QString& scheme, const QString& name) {
        QSettings s(ini, QSettings::IniFormat);
        return s.value(QStringLiteral("Sequences/%1/%2").arg(scheme, name));
    }
    QStringList schemeKeys() {
        QSettings s(ini, QSettings::IniFormat);
        s.beginGroup(QStringLiteral("Sequences"));
        return s.childGroups();
    }
    QByteArray settingsFile() {
        QFile f(ini);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList comboItems() {
        QStringList items;
        for (int i = 0; i < eui().ComboBox1->count(); ++i)
            items << eui().ComboBox1->itemText(i);
        return items;
    }
    QImage cellPicture(int row) {
        QImage image(400, 18, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        editor().StringGrid1DrawCell(p, QRect(0, 0, 400, 18), row, 1);
        p.end();
        return image;
    }
};

// Which colours a band of columns holds: blue, black, other dark.
struct Inks {
    bool blue = false, black = false, white = false, yellow = false, grey = false;
};
Inks inks(const QImage& image, int from, int to) {
    Inks found;
    for (int x = from; x < to; ++x)
        for (int y = 0; y < image.height(); ++y) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() > 200 && c.red() < 80 && c.green() < 80) found.blue = true;
            if (c.red() < 60 && c.green() < 60 && c.blue() < 60) found.black = true;
            if (c.red() > 200 && c.green() > 200 && c.blue() < 80) found.yellow = true;
            if (std::abs(c.red() - 128) < 20 && std::abs(c.green() - 128) < 20 &&
                std::abs(c.blue() - 128) < 20)
                found.grey = true;
        }
    return found;
}

TEST_F(SchemeEditorTest, ControlBytesAreDrawnAsNumbersInBlueAndTheRestInBlack) {
    start();
    open();
    pick(QStringLiteral("Epson Matrix"));
    EXPECT_EQ(editor().cellBytes(0), QByteArray("\x1b"
                                                "E||\x1bG"));
    const QFontMetrics m(eui().StringGrid1->font());
    const int esc = m.horizontalAdvance(QStringLiteral("[#27]"));
    int e = 0;
    for (const char* piece : {"E", "|", "|"})
        e += m.horizontalAdvance(QLatin1String(piece));
    const QImage cell = cellPicture(0);
    // The cell's text starts two dots in; a band's edges may share a glyph's
    // antialiased pixels, so each band is looked at a dot inside.
    const int x0 = 2, x1 = x0 + esc, x2 = x1 + e, x3 = x2 + esc;
    Inks first = inks(cell, x0 + 1, x1 - 1), second = inks(cell, x1 + 1, x2 - 1),
         third = inks(cell, x2 + 1, x3 - 1), last = inks(cell, x3 + 1, x3 + 8);
    EXPECT_TRUE(first.blue && !first.black);
    EXPECT_TRUE(second.black && !second.blue);
    EXPECT_TRUE(third.blue && !third.black);
    EXPECT_TRUE(last.black && !last.blue) << "G";

    // The selected cell: white and yellow on the selection colour.
    eui().StringGrid1->setCurrentCell(0, 1);
    const QImage selected = cellPicture(0);
    first = inks(selected, x0 + 1, x1 - 1);
    second = inks(selected, x1 + 1, x2 - 1);
    EXPECT_TRUE(!first.blue && !first.black);
    EXPECT_TRUE(second.yellow && !second.black);

    // A read-only scheme's characters are grey; its control bytes stay blue.
    pick(QStringLiteral("Default"));
    eui().StringGrid1->setCurrentCell(1, 1);
    const QImage readOnly = cellPicture(0); // "[#27]E"
    EXPECT_TRUE(inks(readOnly, x0 + 1, x1 - 1).blue);
    EXPECT_TRUE(inks(readOnly, x1 + 1, x1 + m.horizontalAdvance('E') - 1).grey);
    EXPECT_FALSE(inks(readOnly, x1 + 1, x1 + m.horizontalAdvance('E') - 1).black);
}

TEST_F(SchemeEditorTest, OnlySchemesOfTheUserAndTheSharedOnesCanBeEditedOrDeleted) {
    start();
    open();
    EXPECT_EQ(comboItems(),
              (QStringList{"Default", "Epson Matrix", "HP PCL", "No sequences", "Epson ESC/P2"}));
    EXPECT_EQ(eui().ComboBox1->currentText(), QStringLiteral("Default"));
    EXPECT_EQ(eui().StringGrid1->rowCount(), 31);
    EXPECT_EQ(eui().StringGrid1->item(kPicaRow, 0)->text(), QStringLiteral("Pica (10 CPI)"));
    EXPECT_EQ(eui().StringGrid1->columnWidth(0), 105);
    EXPECT_EQ(eui().StringGrid1->columnWidth(1), 300);
    EXPECT_EQ(eui().StringGrid1->rowHeight(5), 18);
    EXPECT_EQ(editor().size(), QSize(427, 454));
    const std::pair<const char*, bool> schemes[] = {{"Default", false},
                                                    {"No sequences", false},
                                                    {"Epson ESC/P2", false},
                                                    {"Epson Matrix", true},
                                                    {"HP PCL", true}};
    for (auto [name, editable] : schemes) {
        pick(QLatin1String(name));
        EXPECT_EQ(editor().gridEditable(), editable) << name;
        EXPECT_EQ(eui().StringGrid1->editTriggers() == QAbstractItemView::NoEditTriggers, !editable)
            << name;
        EXPECT_EQ(editor().deleteSchemeAction()->isEnabled(), std::string(name) == "HP PCL")
            << name;
        EXPECT_TRUE(editor().addSchemeAction()->isEnabled()) << "nothing edited yet";
    }
    // Keys that would open the cell editor open none on a read-only scheme.
    pick(QStringLiteral("Default"));
    eui().StringGrid1->setCurrentCell(0, 1);
    QTest::keyClick(eui().StringGrid1, Qt::Key_F2);
    QTest::keyClick(eui().StringGrid1, Qt::Key_X);
    EXPECT_EQ(eui().StringGrid1->findChild<QLineEdit*>(), nullptr);
    pick(QStringLiteral("HP PCL"));
    eui().StringGrid1->setCurrentCell(0, 1);
    QTest::keyClick(eui().StringGrid1, Qt::Key_X);
    EXPECT_NE(eui().StringGrid1->findChild<QLineEdit*>(), nullptr) << "typing starts an edit";
}

TEST_F(SchemeEditorTest, APatternEditedAndAppliedIsWhatTheNextJobUses) {
    start();
    open();
    answers << QStringLiteral("Mine");
    editor().AddSeqSchemeExecute();
    EXPECT_EQ(eui().ComboBox1->currentText(), QStringLiteral("Mine"));
    EXPECT_TRUE(editor().gridEditable());
    for (int row = 0; row < 31; ++row)
        EXPECT_TRUE(editor().cellBytes(row).isEmpty());
    EXPECT_TRUE(schemeKeys().contains("Mine")) << "the key is there before any Apply";

    type(kPicaRow, QStringLiteral("[#27]P"));
    EXPECT_EQ(editor().cellBytes(kPicaRow), QByteArray("\x1bP"));
    EXPECT_TRUE(editor().unapplied());
    EXPECT_FALSE(editor().addSchemeAction()->isEnabled()) << "no new scheme over an edit";
    EXPECT_TRUE(eui().Button1->isEnabled());
    EXPECT_EQ(eui().Button2->text(), QStringLiteral("Cancel"));

    // "[#27" is no byte: it stays as typed.
    type(kPicaRow + 1, QStringLiteral("[#27"));
    EXPECT_EQ(editor().cellBytes(kPicaRow + 1), QByteArray("[#27"));

    eui().Button1->click();
    EXPECT_FALSE(eui().Button1->isEnabled());
    EXPECT_EQ(eui().Button2->text(), QStringLiteral("Close"));
    EXPECT_EQ(schemeValue("Mine", "Pica").toString(), QStringLiteral("[#27]P"));
    EXPECT_EQ(schemeValue("Mine", "Elite").toString(), QStringLiteral("[#27"));
    EXPECT_EQ(schemeValue("Mine", "Bold").toString(), QString()) << "empty cells write empty";
    EXPECT_EQ(stored("Sequence").toString(), QStringLiteral("Mine"));
    EXPECT_TRUE(editor().addSchemeAction()->isEnabled());

    // The next job takes ESC P as the command, not as text.
    EXPECT_EQ(printedText("A\x1bPB"), QStringLiteral("AB"));
}

TEST_F(SchemeEditorTest, CancelAndAReturnToTheDialogDropWhatWasNotApplied) {
    start();
    open();
    pick(QStringLiteral("Epson Matrix"));
    const QByteArray before = settingsFile();
    type(kPicaRow, QStringLiteral("xyz"));
    eui().Edit2->setText(QStringLiteral("[#27]@"));
    emit eui().Edit2->textEdited(eui().Edit2->text());
    eui().Button2->click();
    EXPECT_FALSE(editor().isVisible());
    EXPECT_EQ(settingsFile(), before);

    window->Button2Click();
    EXPECT_EQ(eui().ComboBox1->currentText(), QStringLiteral("Default")) << "nothing was applied";
    pick(QStringLiteral("Epson Matrix"));
    EXPECT_EQ(editor().cellBytes(kPicaRow), QByteArray("\x1bP"));
    EXPECT_TRUE(eui().Edit2->text().isEmpty());

    // Coming back to the dialog from another window reloads it as well.
    type(kPicaRow, QStringLiteral("xyz"));
    editor().FormActivate();
    EXPECT_FALSE(editor().unapplied());
    EXPECT_FALSE(eui().Button1->isEnabled());
    EXPECT_EQ(eui().Button2->text(), QStringLiteral("Close"));
    EXPECT_EQ(settingsFile(), before);
}

TEST_F(SchemeEditorTest, ApplyOnNoSequencesKeepsOnlyItsInitialisationString) {
    start();
    open();
    pick(QStringLiteral("No sequences"));
    eui().Edit2->setText(QStringLiteral("[#27]@"));
    eui().Button1->click();
    EXPECT_EQ(stored("Sequence").toString(), QStringLiteral("No sequences"));
    QSettings s(ini, QSettings::IniFormat);
    s.beginGroup(QStringLiteral("Sequences/No sequences"));
    EXPECT_EQ(s.childKeys(), QStringList{"InitStr"});
    EXPECT_EQ(s.value("InitStr").toString(), QStringLiteral("[#27]@"));
    s.endGroup();
    window->Button2Click(); // its key is no second entry in the list
    EXPECT_EQ(comboItems().count(QStringLiteral("No sequences")), 1);
    // "Default" keeps its patterns too, but its initialisation string changes.
    pick(QStringLiteral("Default"));
    type(0, QStringLiteral("never"));
    eui().Edit2->setText(QStringLiteral("init"));
    eui().Button1->click();
    EXPECT_EQ(schemeValue("Default", "Bold").toString(), QStringLiteral("[#27]B"));
    EXPECT_EQ(schemeValue("Default", "InitStr").toString(), QStringLiteral("init"));
}

TEST_F(SchemeEditorTest, DeletingAsksWithTheSchemesNameAndFallsBackToDefault) {
    start();
    open();
    pick(QStringLiteral("HP PCL"));
    answerYes = false;
    editor().DelSeqSchemeExecute();
    EXPECT_EQ(questions.last().section('|', 1), QStringLiteral("Delete Sequences HP PCL ?"));
    EXPECT_TRUE(schemeKeys().contains("HP PCL")) << "No keeps it";

    answerYes = true;
    editor().DelSeqSchemeExecute();
    EXPECT_FALSE(schemeKeys().contains("HP PCL"));
    EXPECT_EQ(comboItems(),
              (QStringList{"Default", "Epson Matrix", "No sequences", "Epson ESC/P2"}));
    EXPECT_EQ(eui().ComboBox1->currentText(), QStringLiteral("Default"));
    EXPECT_EQ(stored("Sequence").toString(), QStringLiteral("Default"));
    EXPECT_FALSE(editor().deleteSchemeAction()->isEnabled());
    // A return to the dialog does not bring it back before a new start.
    editor().FormActivate();
    EXPECT_EQ(comboItems().size(), 4);
}

TEST_F(SchemeEditorTest, NewNamesMustBeNewNonEmptyAndWithoutSlashes) {
    start();
    open();
    answers << ""
            << "a\\b"
            << "c/d"
            << "epson MATRIX"
            << "no sequences"
            << "EPSON esc/p2"
            << "Labels";
    editor().AddSeqSchemeExecute();
    EXPECT_EQ(questions.size(), 7) << "asked again after each refusal";
    ASSERT_EQ(errors.size(), 6);
    EXPECT_EQ(errors[0], QStringLiteral("A scheme name can't be empty or contain \"\\\" or \"/\""));
    EXPECT_EQ(errors[3], QStringLiteral("There is already a scheme \"Epson Matrix\""));
    EXPECT_EQ(questions[0], QStringLiteral("Add|Sequences"));
    EXPECT_EQ(comboItems(), (QStringList{"Default", "Epson Matrix", "HP PCL", "Labels",
                                         "No sequences", "Epson ESC/P2"}));
    // Cancel adds nothing.
    editor().AddSeqSchemeExecute();
    EXPECT_EQ(comboItems().size(), 6);
}

TEST_F(SchemeEditorTest, TheStoredSchemeIsSelectedWithoutRegardToCaseOrElseDefault) {
    start(QStringLiteral("Sequence=epson matrix\n"));
    open();
    EXPECT_EQ(eui().ComboBox1->currentText(), QStringLiteral("Epson Matrix"));
    store->openKey(kSettingsKey, true)->writeString("Sequence", "Removed elsewhere");
    editor().FormActivate();
    EXPECT_EQ(eui().ComboBox1->currentText(), QStringLiteral("Default"));
    EXPECT_EQ(editor().cellBytes(0), QByteArray("\x1b"
                                                "B"));
}

TEST_F(SchemeEditorTest, AValueTooLongFailsAndTheCellKeepsWhatItHad) {
    start();
    open();
    pick(QStringLiteral("Epson Matrix"));
    type(kPicaRow, QString(256, QLatin1Char('x')));
    ASSERT_TRUE(waitFor([&] { return !errors.isEmpty(); }, 2000));
    EXPECT_EQ(errors.first(), QStringLiteral("Range check error"));
    EXPECT_EQ(editor().cellBytes(kPicaRow), QByteArray("\x1bP"));

    // The initialisation box sets the current string when focus leaves it.
    auto leave = [&](const QString& text) {
        eui().Edit2->setFocus(Qt::TabFocusReason);
        eui().Edit2->setText(text);
        eui().StringGrid1->setFocus(Qt::TabFocusReason);
    };
    leave(QStringLiteral("[#27]@"));
    EXPECT_EQ(window->schemes().initStr(), "\x1b@");
    errors.clear();
    leave(QString(256, QLatin1Char('y')));
    EXPECT_EQ(errors.value(0), QStringLiteral("Range check error"));
    EXPECT_EQ(window->schemes().initStr(), "\x1b@");
}

TEST_F(SchemeEditorTest, AnActiveSchemeThatCannotBeReadKeepsTheDialogClosed) {
    start(QStringLiteral("[Sequences]\nDefault\\Bold=") + QString(256, QLatin1Char('x')) + "\n");
    ui().Button2->click();
    EXPECT_EQ(errors, QStringList{"Range check error\nin the scheme 'Default', value 'Bold'"});
    EXPECT_FALSE(editor().isVisible());
}

TEST_F(SchemeEditorTest, TheDialogsTextsComeFromTheLanguageAtEveryActivation) {
    start();
    open();
    EXPECT_EQ(editor().windowTitle(), QStringLiteral("Esc-Sequences"));
    EXPECT_EQ(eui().GroupBox2->title(), QStringLiteral("Codes"));
    EXPECT_EQ(eui().Label1->text(), QStringLiteral("Initialisation"));
    EXPECT_EQ(eui().Button2->text(), QStringLiteral("Close"));
    window->langset(QStringLiteral("Russian.lng"));
    editor().FormActivate();
    EXPECT_EQ(editor().windowTitle(), QStringLiteral("Esc-Последовательности"));
    EXPECT_EQ(eui().Button1->text(), QStringLiteral("Применить"));
    EXPECT_EQ(eui().Button2->text(), QStringLiteral("Закрыть"));
}

// The named initialisation strings of the tray menu.
class InitMenuTest : public WindowTest {
protected:
    QList<QAction*> items() { return window->initMenu()->actions(); }
};

TEST_F(InitMenuTest, TheSubmenuListsTheNamedStringsOrIsHidden) {
    start();
    EXPECT_FALSE(item("N11")->isVisible()) << "no InitStr key";
    window.reset();
    start(QStringLiteral("[InitStr]\n"));
    EXPECT_FALSE(item("N11")->isVisible()) << "a key without values";
    window.reset();
    start(QStringLiteral("[InitStr]\nReset=[#27]@\nCondensed=[#15]\n"));
    EXPECT_TRUE(item("N11")->isVisible());
    ASSERT_EQ(items().size(), 2);
    EXPECT_EQ(items()[0]->text(), QStringLiteral("Condensed")) << "the store lists them sorted";
    EXPECT_EQ(items()[1]->text(), QStringLiteral("Reset"));
    EXPECT_EQ(item("N11")->text(), QStringLiteral("Инициализация"));
}

TEST_F(InitMenuTest, AChosenStringGoesAheadOfEveryLaterJobUntilItIsTakenBack) {
    start(QStringLiteral("[InitStr]\nGreeting=HELLO[#32]\nA%26B=one\nAB=two\n"));
    ASSERT_EQ(items().size(), 3);
    QAction* greeting = items()[2];
    ASSERT_EQ(greeting->text(), QStringLiteral("Greeting"));
    auto print = [&] { return printedText("world"); };
    greeting->trigger();
    EXPECT_TRUE(greeting->isChecked());
    EXPECT_EQ(print(), QStringLiteral("HELLO world"));
    EXPECT_EQ(print(), QStringLiteral("HELLO world")) << "and the job after";
    greeting->trigger(); // chosen again: taken back
    EXPECT_FALSE(greeting->isChecked());
    EXPECT_EQ(print(), QStringLiteral("world"));

    // "A&B" shows as AB with an accelerator and reads the value named "AB".
    QAction* amp = items()[0];
    ASSERT_EQ(amp->text(), QStringLiteral("A&B"));
    amp->trigger();
    EXPECT_EQ(window->schemes().initChoice(), "two");
    greeting->trigger();
    EXPECT_FALSE(amp->isChecked()) << "one check mark at a time";
}

TEST_F(InitMenuTest, AStringTooLongIsRefusedAndTheCheckMarkStaysWhereItWas) {
    start(QStringLiteral("[InitStr]\nLong=") + QString(256, QLatin1Char('x')) + "\nShort=s\n");
    QAction* longOne = items()[0];
    QAction* shortOne = items()[1];
    shortOne->trigger();
    longOne->trigger();
    EXPECT_EQ(errors, QStringList{"Range check error"});
    EXPECT_FALSE(longOne->isChecked());
    EXPECT_TRUE(shortOne->isChecked());
    EXPECT_EQ(printedText("!"), QStringLiteral("s!"));
}

// The chart window paints the file through the window's code page table.
class AsciiChartWindowTest : public WindowTest {
protected:
    TForm4& chart() { return *window->asciiChart(); }
    void useChart(const std::string& bytes) {
        chart().setChartFile(QString::fromStdString(dir.write("ASCII.TBL", bytes)));
    }
    QImage painted() {
        chart().SpeedButton5Click();
        EXPECT_TRUE(chart().isVisible());
        return chart().grab().toImage();
    }
    // The dark pixels' bounding box within a band of rows.
    static QRect ink(const QImage& image, int top, int bottom) {
        QRect box;
        for (int y = top; y < std::min(bottom, image.height()); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < 100) box |= QRect(x, y, 1, 1);
        return box;
    }
};

TEST_F(AsciiChartWindowTest, LinesBreakWhereTheFileSaysInCellsOfTheScreensSize) {
    start();
    useChart("A\r\nB");
    const QImage image = painted();
    const ChartCell cell = chartCell(QGuiApplication::primaryScreen()->size().width(),
                                     QGuiApplication::primaryScreen()->size().height());
    EXPECT_EQ(chart().windowTitle(), QStringLiteral("ASCII Chart"));
    const QRect a = ink(image, 0, cell.height), b = ink(image, cell.height, 2 * cell.height);
    ASSERT_TRUE(a.isValid() && b.isValid());
    EXPECT_LT(a.right(), cell.width) << "A in the first cell";
    EXPECT_LT(b.right(), cell.width) << "B under it";
    EXPECT_FALSE(ink(image, 2 * cell.height, image.height()).isValid());
    EXPECT_EQ(chart().fontsMade(), 2) << "set 0 first, then the letters' set";

    // Every entry of set 1: made twice, once at the start and once at "A".
    CodePageTable& table = window->engine().codePage;
    for (int b = 0; b < 256; ++b)
        table[std::uint8_t(b)].set = 1;
    chart().grab();
    EXPECT_EQ(chart().fontsMade(), 2);
    table[std::uint8_t('B')].set = 7;
    chart().grab();
    EXPECT_EQ(chart().fontsMade(), 3);
}

TEST_F(AsciiChartWindowTest, AMissingChartOpensNothingAndAVanishedOneIsToldOnce) {
    start();
    chart().setChartFile(QString::fromStdString((dir.path() / "none.tbl").string()));
    chart().SpeedButton5Click();
    EXPECT_FALSE(chart().isVisible());
    EXPECT_TRUE(errors.isEmpty());

    useChart("");
    EXPECT_FALSE(ink(painted(), 0, 1000).isValid()) << "an empty chart paints nothing";
    QFile::remove(chart().chartFile());
    chart().grab();
    chart().grab();
    ASSERT_TRUE(waitFor([&] { return !errors.isEmpty(); }, 2000));
    QCoreApplication::processEvents();
    EXPECT_EQ(errors, QStringList{"File not found"});
}

TEST_F(AsciiChartWindowTest, TheShippedChartIsWhereTheButtonLooks) {
    start();
    EXPECT_EQ(chart().chartFile(), QDir(MARLIX_TEST_DATA).filePath(QStringLiteral("ASCII.TBL")));
    window->SpeedButton5Click();
    EXPECT_TRUE(chart().isVisible());
}

} // namespace
