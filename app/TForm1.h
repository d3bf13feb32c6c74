// The main window: the settings window of the resident program, its tray
// icon and menu, and the commands they share. Its controls are the working
// copy of every setting; restoreSettings fills them from the store and
// saveSettings writes them back.
#pragma once

#include "app/LanguageFile.h"
#include "app/PrintSession.h"
#include "app/Settings.h"
#include "app/TForm3.h"
#include "app/TForm4.h"
#include "app/WindowDialogs.h"
#include "capture/CaptureDriver.h"
#include "capture/JobFiles.h"
#include "capture/JobMonitor.h"
#include "core/Registry.h"

#include <QHash>
#include <QIcon>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace Ui {
class TForm1;
}

namespace marlix {

class TForm1 final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TForm1)

public:
    explicit TForm1(Registry& store, WindowDialogs dialogs = WindowDialogs::standard(),
                    QWidget* parent = nullptr);
    ~TForm1() override;

    // Window creation, steps in order. false: the program cannot run (no
    // printer); the message has been shown. Other errors are shown and the
    // program runs on with the steps done so far.
    bool FormCreate();

    // The capture transport: set before FormCreate.
    void setCaptureFactory(CaptureFactory factory) { captureFactory_ = std::move(factory); }

    // A second start asked to be shown (the tray icon's Restore).
    void showRequest();
    // A second start handed over a file: prints it like Print a file does.
    // Returns the PDF files written; failures are raised.
    QStringList printHandedOver(const QString& fileName);

    // The session ends (log-out, shutdown, a terminating signal): a job that
    // prints is given a while to finish, what senders sent goes to the job
    // file, the settings are saved, the program ends.
    void sessionEnds();

    void restoreSettings();
    void saveSettings();
    void langset(const QString& fileName);
    void checksize();
    void fillfonts();
    // The job driver as the window calls it, through the print session:
    // the file's bytes from `from` to `to`, with the window's settings.
    PrintSession::Outcome PrintOut(const QString& fileName, std::uint64_t from = 0,
                                   std::uint64_t to = ~std::uint64_t{0});
    void UpdateProgress(int frame);

    // What tests and the other windows read.
    Ui::TForm1* form() const { return ui_.get(); }
    QMenu* trayMenu() const { return PopupMenu1; }
    QSystemTrayIcon* trayIcon() const { return TrayIcon1; }
    QSystemTrayIcon* pendingJobIcon() const { return pendingIcon_; }
    QTimer& monitorTimer() { return Timer1; }
    QTimer& presenceTimer() { return Timer2; }
    JobMonitor& monitor() { return monitor_; }
    CaptureDriver* captureDriver() const { return vxd_.get(); }
    TForm3* schemeEditor() const { return Form3; }
    TForm4* asciiChart() const { return Form4; }
    QMenu* initMenu() const { return initMenu_; }
    PrintEngine& engine() { return session_.engine(); }
    QtPrinter& printer() { return session_.printer(); }
    SchemeStore& schemes() { return session_.schemes(); }
    PrintSession& session() { return session_; }
    const QStringList& schemeNames() const { return schemeNames_; }
    bool sizeMode() const { return defaultFont_; }
    QString languageName() const { return language_; }
    QString codePageName() const { return codePage_; }
    QString message(const char* key) const { return messages_.value(QLatin1String(key)); }
    QSize sampleCell() const { return sampleCell_; }
    const QStringList& fullFontList() const { return fullFonts_; }
    const QStringList& fixedFontList() const { return fixedFonts_; }
    bool trayUsable() const;
    // The tray icon's Restore: shows the window, normal and in front.
    void restore();

    // Handlers by control and event.
    void FormActivate();
    void N1Click();
    void N3Click() { restore(); }
    void TrayIcon1DblClick();
    void TrackBar1Change();
    void CheckBox10Click();
    void CheckBox11Click();
    void StyleBoxClick(int box);
    void ComboBox1Change();
    void SpinEdit5Change();
    void ListBox1Click();
    void ComboBox2Change();
    void ComboBox3Change();
    void SpeedButton1Click() { monitor_.printNow(); }
    void SpeedButton2Click() { monitor_.discard(); }
    void SpeedButton3Click();
    // Cancel printing (SpeedButton6, N12): the running job stops, nothing of
    // it printed; a job from the job file is thrown away as Clear does.
    void SpeedButton6Click() { session_.cancel(); }
    void SpeedButton4Click();
    void RadioButton12Click();
    void N9Click();
    void N10Click();
    void PageControl1Change();
    void Label5Click();
    void Label7Click();
    void Button2Click();
    void SpeedButton5Click();
    void SelInit(QAction* item);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class MonitorHost;
    friend class MonitorHost;

    void buildTrayMenu();
    void connectControls();
    // Runs a handler the way the toolkit does: an error is shown, the
    // program goes on.
    template <typename F> void guarded(F&& handler);
    void showError(const QString& text);
    // The settings as the controls hold them now.
    Settings windowSettings() const;
    PrintSettings panelSettings() const;
    // Print a file and a hand-over: the file whole, the monitor waiting.
    PrintSession::Outcome printFile(const QString& fileName);
    // While a job prints, what would change it or start another is disabled.
    void printingChanged(bool printing);
    void showCaptureProblem(const std::string& problem);
    // The end of the program: a job that prints is given up after `graceMs`
    // (at once for 0), then quitProgram follows.
    void quitAfterPrint(int graceMs);
    void setMonitorInterval(int ms);
    void restartMonitor();
    void fillFontList();
    void selectFontInList();
    bool isFixedPitch(const QString& family);
    std::int32_t sizeBoxValue() const; // the size box's number; not a number fails
    std::int32_t sizeOrTen() const;    // the same, 10 for text that is no number
    void buildInitMenu();
    void setSampleStyle(int box, bool on);
    void hideToTray();
    void setJobControls(bool enabled);
    void quitProgram();

    std::unique_ptr<Ui::TForm1> ui_;
    Registry& store_;
    WindowDialogs dialogs_;
    PrintSession session_;
    CaptureFactory captureFactory_;
    std::unique_ptr<MonitorHost> monitorHost_;
    JobFiles jobFiles_;
    JobMonitor monitor_;
    std::unique_ptr<CaptureDriver> vxd_;

    QSystemTrayIcon* TrayIcon1 = nullptr;
    QSystemTrayIcon* pendingIcon_ = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QMenu* orientationMenu_ = nullptr;
    QMenu* initMenu_ = nullptr;
    QAction* N1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QAction* N4 = nullptr;
    QAction* N5 = nullptr;
    QAction* N6 = nullptr;
    QAction* N7 = nullptr;
    QAction* N8 = nullptr;
    QAction* N9 = nullptr;
    QAction* N10 = nullptr;
    QAction* N11 = nullptr;
    QAction* N12 = nullptr;         // Cancel printing, shown while a job prints
    QAction* chosenInit_ = nullptr; // the initialisation item with the check mark
    TForm3* Form3 = nullptr;        // the scheme editor
    TForm4* Form4 = nullptr;        // the ASCII chart
    QTimer Timer1;                  // the job file monitor
    QTimer Timer2;                  // the job file's presence
    QIcon appIcon_;
    std::array<QIcon, kLastProgressFrame + 1> progressFrames_;

    QHash<QString, QString> messages_; // language texts shown later
    StoredValues stored_;              // what the settings file held when read or saved
    Settings base_;                    // the settings as restored
    // Errors that came while a job printed: a box then would stop the job
    // until it is answered, so they wait for its end.
    QStringList deferredErrors_;
    QString language_ = QStringLiteral("English");
    QString codePage_ = QStringLiteral("866");
    QString homePage_;
    QString supportMail_;
    QStringList schemeNames_;
    QStringList fullFonts_;
    QStringList fixedFonts_;
    QHash<QString, bool> fixedPitch_; // per family, on the current printer
    QSize sampleCell_;
    int end_ = 0;             // kept from the store and written back unchanged
    bool defaultFont_ = true; // size mode: the cell follows the point size
    bool updating_ = false;   // the panel writes CPI and LPI itself
    bool fontScanGuard_ = true;
    bool layoutPending_ = false; // a layout change came while a job printed
    bool quitting_ = false;
};

} // namespace marlix
