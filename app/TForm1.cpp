#include "app/TForm1.h"

#include "app/LanguageTexts.h"
#include "app/Links.h"
#include "app/QtTranslations.h"
#include "charset/CodeSet.h"
#include "core/Arith.h"
#include "core/Errors.h"
#include "engine/PageGeometry.h"
#include "platform/CellFont.h"
#include "platform/DataDir.h"
#include "schemes/AnsiText.h"
#include "schemes/SequenceNotation.h"
#include "ui_TForm1.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QSystemTrayIcon>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <limits>

// The pictures live in this static library; a library's resources are
// registered by hand.
static void initResources() {
    Q_INIT_RESOURCE(icons);
}

namespace marlix {

namespace {

// The tray shows at most this much of a hint or a tip.
constexpr int kTipLength = 63;
constexpr int kPrinterWaits = 10;
// When the session ends, a job that prints gets this long to finish before
// it is given up (and printed whole at the next start); then the senders get
// this long to hand over what they were allowed to send.
constexpr int kEndGraceMs = 20'000;
constexpr int kFlushMs = 5'000;

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// A tooltip shows "&" as it is; drop the accelerator marks.
QString withoutAccelerator(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

std::int32_t parseInteger(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok) throw Error(formatMessage("'%s' is not a valid integer value", text.toStdString()));
    return v;
}

// The font list: each face with its fixed-pitch or proportional picture.
class FontListDelegate final : public QStyledItemDelegate {
public:
    FontListDelegate(std::function<bool(const QString&)> fixed, QObject* parent)
        : QStyledItemDelegate(parent),
          fixed_(std::move(fixed)), icons_{QIcon(QStringLiteral(":/icons/font-fixed.svg")),
                                           QIcon(QStringLiteral(":/icons/font-proportional.svg"))} {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QString name = index.data(Qt::DisplayRole).toString();
        const bool selected = option.state & QStyle::State_Selected;
        painter->fillRect(option.rect,
                          selected ? option.palette.highlight() : option.palette.base());
        const QRect icon(option.rect.left() + 1,
                         option.rect.top() + (option.rect.height() - 16) / 2, 16, 16);
        icons_[fixed_(name) ? 0 : 1].paint(painter, icon);
        painter->setPen(selected ? option.palette.highlightedText().color()
                                 : option.palette.text().color());
        painter->drawText(option.rect.adjusted(20, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                          name);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        return {s.width() + 20, std::max(s.height(), 18)};
    }

private:
    std::function<bool(const QString&)> fixed_;
    std::array<QIcon, 2> icons_;
};

} // namespace

// The window as the job file monitor sees it.
class TForm1::MonitorHost final : public JobMonitor::Host {
public:
    explicit MonitorHost(TForm1& w) : w_(w) {}
    std::string jobFileName() override { return w_.ui_->Edit1->text().toStdString(); }
    bool autoPrint() override { return w_.ui_->CheckBox1->isChecked(); }
    bool printAtEndOfPage() override { return w_.ui_->CheckBox9->isChecked(); }
    int timeOut() override { return w_.ui_->TrackBar1->value(); }
    JobMonitor::Printed print(const std::string& name, std::uint64_t from, std::uint64_t to,
                              PrintMarker& marker) override {
        QtPrinter& printer = w_.printer();
        printer.onPartStarted = [&marker](const QString& part) {
            marker.note("part " + part.toStdString());
        };
        printer.onPdfDone = [&marker](const QString& pdf) {
            marker.note("pdf " + pdf.toStdString());
        };
        const PrintSession::Outcome out = w_.PrintOut(qs(name), from, to);
        printer.onPartStarted = nullptr;
        printer.onPdfDone = nullptr;
        // A job that failed on its own bytes is told of with what became of it.
        if (out.result == PrintSession::Result::Failed) tell(out.message);
        return {out.result, out.message.toStdString()};
    }
    void report(const std::string& text) override { tell(qs(text)); }
    void setJobControls(bool enabled) override { w_.setJobControls(enabled); }
    void setPendingIcon(bool shown) override {
        w_.pendingIcon_->setVisible(shown && w_.trayUsable());
    }
    void setMonitorInterval(int ms) override { w_.setMonitorInterval(ms); }

private:
    // Shown once the monitor is done with the job: a box that waits for the
    // user must not keep the capture waiting too.
    void tell(const QString& text) {
        QMetaObject::invokeMethod(
            &w_, [w = &w_, text] { w->showError(text); }, Qt::QueuedConnection);
    }

    TForm1& w_;
};

TForm1::TForm1(Registry& store, WindowDialogs dialogs, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::TForm1>()), store_(store),
      dialogs_(std::move(dialogs)), session_(store),
      monitorHost_(std::make_unique<MonitorHost>(*this)), monitor_(*monitorHost_, jobFiles_) {
    initResources();
    ui_->setupUi(this);
    // Fixed at what its texts need, in every language.
    if (layout()) layout()->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // The tray's 16 pixels get a picture drawn for that size.
    appIcon_.addPixmap(QIcon(QStringLiteral(":/icons/marlix-16.svg")).pixmap(16));
    const QIcon large(QStringLiteral(":/icons/marlix.svg"));
    for (int size : {22, 24, 32, 48, 64, 128})
        appIcon_.addPixmap(large.pixmap(size));
    setWindowIcon(appIcon_);
    for (int i = 0; i <= kLastProgressFrame; ++i)
        progressFrames_[i] =
            QIcon(QStringLiteral(":/icons/progress-%1.svg").arg(i, 2, 10, QLatin1Char('0')));

    // Shown by the orientation handler; hidden parts of the form.
    ui_->Image3->hide();
    ui_->Image4->hide();
    ui_->Image5->hide();
    ui_->Image6->hide();
    ui_->SpeedButton1->setEnabled(false);
    ui_->SpeedButton2->setEnabled(false);
    // Margins have no limits of their own: the layout says what fits.
    for (QSpinBox* margin : {ui_->SpinEdit1, ui_->SpinEdit2, ui_->SpinEdit3, ui_->SpinEdit4})
        margin->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    ui_->Label5->installEventFilter(this);
    ui_->Label7->installEventFilter(this);
    ui_->ListBox1->setItemDelegate(
        new FontListDelegate([this](const QString& f) { return isFixedPitch(f); }, this));

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(3000);
    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer2.setInterval(100);

    buildTrayMenu();
    connectControls();

    session_.onProgress = [this](int frame) { UpdateProgress(frame); };
    session_.onPrinting = [this](bool printing) { printingChanged(printing); };
    session_.onNotice = [this](const QString& text) { showError(text); };

    for (const auto& [key, text] : kLanguageTexts)
        messages_.insert(QString::fromUtf8(key.data(), qsizetype(key.size())),
                         QString::fromUtf8(text.data(), qsizetype(text.size())));
    TrayIcon1->setToolTip(messages_.value(QStringLiteral("TrayIconHint")).left(kTipLength));

    // The dialogs live as long as the window, hidden until opened.
    Form3 = new TForm3(
        store_, schemes(), [this](const char* key) { return message(key); }, dialogs_, this);
    Form3->setWindowFlag(Qt::Dialog);
    Form4 = new TForm4(
        {&engine().codePage, [this] { return ui_->Label17->font().family(); }, dialogs_.error},
        this);
    Form4->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
}

TForm1::~TForm1() {
    // FormDestroy: the capture driver goes first, then both tray icons.
    vxd_.reset();
    TrayIcon1->hide();
    pendingIcon_->hide();
}

void TForm1::buildTrayMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto item = [this](QMenu* menu, const char* name, const QString& text, const char* icon) {
        QAction* a =
            menu->addAction(QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(icon))), text);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    N3 = item(PopupMenu1, "N3", QStringLiteral("Открыть"), "menu-open");
    PopupMenu1->setDefaultAction(N3);
    N5 = item(PopupMenu1, "N5", QStringLiteral("Печатать файл"), "menu-print-file");
    N2 = item(PopupMenu1, "N2", QStringLiteral("Печать"), "menu-print");
    N12 = item(PopupMenu1, "N12", QStringLiteral("Отменить печать"), "btn-cancel-print");
    N12->setVisible(false);
    orientationMenu_ = new QMenu(QStringLiteral("Ориентация"), PopupMenu1);
    N8 = PopupMenu1->addMenu(orientationMenu_);
    N8->setObjectName(QStringLiteral("N8"));
    N8->setIcon(QIcon(QStringLiteral(":/icons/menu-portrait.svg")));
    N9 = item(orientationMenu_, "N9", QStringLiteral("Книжная"), "menu-portrait");
    N10 = item(orientationMenu_, "N10", QStringLiteral("Альбомная"), "menu-landscape");
    N9->setCheckable(true);
    N10->setCheckable(true);
    N9->setChecked(true);
    initMenu_ = new QMenu(QStringLiteral("Инициализация"), PopupMenu1);
    N11 = PopupMenu1->addMenu(initMenu_);
    N11->setObjectName(QStringLiteral("N11"));
    N11->setIcon(QIcon(QStringLiteral(":/icons/menu-init.svg")));
    // The initialisation strings fill it; until then there is nothing to offer.
    N11->setVisible(false);
    N7 = item(PopupMenu1, "N7", QStringLiteral("Отменить задание"), "menu-cancel-job");
    N4 = item(PopupMenu1, "N4", QStringLiteral("Отмена"), "menu-close-menu");
    N6 = PopupMenu1->addSeparator();
    N6->setObjectName(QStringLiteral("N6"));
    N1 = item(PopupMenu1, "N1", QStringLiteral("Выход"), "menu-exit");
    N2->setEnabled(false);
    N7->setEnabled(false);

    TrayIcon1 = new QSystemTrayIcon(appIcon_, this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    pendingIcon_ = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/printer.svg")), this);
    pendingIcon_->setObjectName(QStringLiteral("PendingJobIcon"));
    pendingIcon_->setToolTip(withoutAccelerator(N2->text()).left(kTipLength));

    connect(TrayIcon1, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    TrayIcon1DblClick();
                } else if (reason == QSystemTrayIcon::Context && !isVisible()) {
                    // The menu belongs to the tray only while the window is in it.
                    PopupMenu1->popup(QCursor::pos());
                }
            });
}

template <typename F> void TForm1::guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        showError(QString::fromUtf8(e.what()));
    }
}

void TForm1::showError(const QString& text) {
    if (session_.printing()) {
        deferredErrors_ << text;
        return;
    }
    if (dialogs_.error) dialogs_.error(this, text);
}

void TForm1::connectControls() {
    auto on = [this](auto* sender, auto signal, auto handler) {
        connect(sender, signal, this,
                [this, handler](auto&&...) { guarded([&] { (this->*handler)(); }); });
    };
    on(ui_->TrackBar1, &QSlider::valueChanged, &TForm1::TrackBar1Change);
    on(ui_->CheckBox10, &QCheckBox::toggled, &TForm1::CheckBox10Click);
    on(ui_->CheckBox11, &QCheckBox::toggled, &TForm1::CheckBox11Click);
    for (int box = 0; box < 4; ++box) {
        QCheckBox* check =
            std::array{ui_->CheckBox3, ui_->CheckBox4, ui_->CheckBox5, ui_->CheckBox6}[box];
        connect(check, &QCheckBox::toggled, this,
                [this, box] { guarded([&] { StyleBoxClick(box); }); });
    }
    // The size box's handler answers the user, not the settings loader.
    on(ui_->ComboBox1, &QComboBox::textActivated, &TForm1::ComboBox1Change);
    on(ui_->ComboBox1->lineEdit(), &QLineEdit::textEdited, &TForm1::ComboBox1Change);
    on(ui_->SpinEdit5, &QSpinBox::valueChanged, &TForm1::SpinEdit5Change);
    on(ui_->SpinEdit6, &QSpinBox::valueChanged, &TForm1::SpinEdit5Change);
    on(ui_->ListBox1, &QListWidget::itemClicked, &TForm1::ListBox1Click);
    on(ui_->ComboBox2, &QComboBox::activated, &TForm1::ComboBox2Change);
    on(ui_->ComboBox3, &QComboBox::activated, &TForm1::ComboBox3Change);
    on(ui_->SpeedButton1, &QPushButton::clicked, &TForm1::SpeedButton1Click);
    on(ui_->SpeedButton2, &QPushButton::clicked, &TForm1::SpeedButton2Click);
    on(ui_->SpeedButton3, &QPushButton::clicked, &TForm1::SpeedButton3Click);
    on(ui_->SpeedButton4, &QPushButton::clicked, &TForm1::SpeedButton4Click);
    on(ui_->Button2, &QPushButton::clicked, &TForm1::Button2Click);
    on(ui_->SpeedButton5, &QPushButton::clicked, &TForm1::SpeedButton5Click);
    for (QRadioButton* radio : {ui_->RadioButton1, ui_->RadioButton2})
        connect(radio, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked) guarded([&] { RadioButton12Click(); });
        });
    on(ui_->PageControl1, &QTabWidget::currentChanged, &TForm1::PageControl1Change);
    for (QSpinBox* margin : {ui_->SpinEdit1, ui_->SpinEdit2, ui_->SpinEdit3, ui_->SpinEdit4})
        on(margin, &QSpinBox::valueChanged, &TForm1::checksize);

    on(N1, &QAction::triggered, &TForm1::N1Click);
    on(N2, &QAction::triggered, &TForm1::SpeedButton1Click);
    on(N7, &QAction::triggered, &TForm1::SpeedButton2Click);
    on(ui_->SpeedButton6, &QPushButton::clicked, &TForm1::SpeedButton6Click);
    on(N12, &QAction::triggered, &TForm1::SpeedButton6Click);

    // The job file monitor.
    connect(&Timer1, &QTimer::timeout, this, [this] { guarded([&] { monitor_.Timer1Timer(); }); });
    connect(&Timer2, &QTimer::timeout, this, [this] { guarded([&] { monitor_.Timer2Timer(); }); });
    // A click on the pending-job icon is its press and its release.
    connect(pendingIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger || session_.printing()) return;
                guarded([&] {
                    monitor_.pendingPressed();
                    monitor_.pendingReleased();
                });
            });
    on(N3, &QAction::triggered, &TForm1::N3Click);
    on(N5, &QAction::triggered, &TForm1::SpeedButton3Click);
    on(N9, &QAction::triggered, &TForm1::N9Click);
    on(N10, &QAction::triggered, &TForm1::N10Click);

    // The session ends: save, and let it end.
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this] { guarded([&] { saveSettings(); }); });
}

void TForm1::Button2Click() {
    const LoadedSequences loaded = schemes().LoadSequences(); // its table is not kept
    schemeNames_.clear();
    for (const std::string& name : schemes().schemeNames())
        schemeNames_.append(qs(name));
    Form3->showEditor(schemeNames_, qs(fromAnsi(SeqToText(loaded.initStr))));
}

void TForm1::SpeedButton5Click() {
    Form4->SpeedButton5Click();
}

// The initialisation submenu, built once: one checkable item per named
// string, in the store's order; the chosen one carries the check mark.
void TForm1::buildInitMenu() {
    const std::vector<std::string> names = schemes().initStrNames();
    if (names.empty()) return; // no key, or a key without values: nothing to offer
    auto* group = new QActionGroup(initMenu_);
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (const std::string& name : names) {
        QAction* item = initMenu_->addAction(qs(name));
        item->setCheckable(true);
        group->addAction(item);
        connect(item, &QAction::triggered, this, [this, item] { guarded([&] { SelInit(item); }); });
    }
    N11->setVisible(true);
}

void TForm1::SelInit(QAction* item) {
    // Choosing the chosen item again takes the choice back.
    const bool choose = item->isChecked();
    try {
        schemes().SelInit(choose ? item->text().toStdString() : std::string());
    } catch (...) {
        item->setChecked(false);
        if (chosenInit_) chosenInit_->setChecked(true);
        throw;
    }
    chosenInit_ = choose ? item : nullptr;
}

bool TForm1::trayUsable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

// Window creation. Printing a file named on the command line is done by the
// program entry, before any window exists.
bool TForm1::FormCreate() {
    // The tray icon lives as long as the window.
    if (trayUsable()) TrayIcon1->show();
    Timer2.start(); // the presence tick runs for the window's whole life
    bool finished = false;
    try {
        updating_ = false; // 1
        // 2, 3: the links' addresses follow the country of the user's locale.
        const links::Addresses addresses =
            links::forCountry(QLocale::territoryToString(QLocale::system().territory()));
        homePage_ = addresses.homePage;
        supportMail_ = addresses.supportMail;
        // 4: "Print to PDF" is always there, so the wait ends at once; the
        // rule stays for a printer list that could be empty.
        for (int wait = 0; QtPrinter::printerNames().isEmpty(); ++wait) {
            if (wait == kPrinterWaits) {
                if (dialogs_.inform)
                    dialogs_.inform(this, QStringLiteral("В системе нет установленных принтеров"));
                return false;
            }
            QThread::sleep(1);
        }
        // 5: the engine starts with a cell of 12 characters and 6 lines per
        // inch, which is what a 10-point sample font asks for.
        // 6: the pending-job icon is made with the window; the monitor shows it.
        // 7: port capture needs a capture transport.
        if (!captureFactory_) {
            ui_->CheckBox11->setChecked(false);
            ui_->CheckBox11->setEnabled(false);
        }
        // 8: default margins from the current printer's unprintable border,
        // and the job file's default, as a first start has them.
        const Settings first = firstStartSettings(engine());
        ui_->SpinEdit1->setValue(first.topMargin);
        ui_->SpinEdit2->setValue(first.bottomMargin);
        ui_->SpinEdit3->setValue(first.leftMargin);
        ui_->SpinEdit4->setValue(first.rightMargin);
        ui_->Edit1->setText(qs(first.spool));
        // 9. A store that can't be read or written: the defaults hold, said once.
        if (const std::string problem = store_.problem(); !problem.empty()) showError(qs(problem));
        try {
            schemes().CheckSequencesRegistry();
        } catch (const std::exception& e) {
            if (store_.problem().empty()) showError(QString::fromUtf8(e.what()));
        }
        ui_->ComboBox2->clear();            // 10
        ui_->ComboBox2->addItems(dataFileNames(QStringLiteral("*.lng")));
        ui_->ComboBox3->clear();
        ui_->ComboBox3->addItems(dataFileNames(QStringLiteral("*.cp")));
        fullFonts_.clear(); // 11
        fixedFonts_.clear();
        restoreSettings();                                                  // 12
        ui_->Label24->setText(printer().name());                            // 13
        if (ui_->CheckBox11->isChecked() && ui_->CheckBox11->isEnabled()) { // 14
            // A capture that can't start must not cost the rest of the start:
            // it is said once and the box stays as the user left it.
            try {
                CheckBox11Click();
            } catch (const std::exception& e) {
                showError(QString::fromUtf8(e.what()));
            }
        }
        checksize(); // 15
        fontScanGuard_ = false;
        buildInitMenu(); // 16
        finished = true;
    } catch (const std::exception& e) {
        showError(QString::fromUtf8(e.what()));
    }
    // 18. Without a notification area the window is the only way in, so it
    // shows whatever the settings or an error say.
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    if ((finished && !ui_->CheckBox8->isChecked()) || !trayUsable()) show();
    return true;
}

void TForm1::restoreSettings() {
    auto key = store_.openKey(kSettingsKey, false); // 1
    const Settings s = readSettings(key.get(), engine(), &stored_);
    base_ = s;
    // The controls take the values in this order: setting one fires its
    // handler as a change by the user would, and each handler needs the
    // values before it. A value the control has already fires nothing.
    ui_->TrackBar1->setValue(s.timeOut);                  // 2
    ui_->CheckBox1->setChecked(s.autoPrint);              // 3
    ui_->Edit1->setText(qs(s.spool));                     // 4
    if (s.landscape) ui_->RadioButton2->setChecked(true); // 5
    ui_->CheckBox7->setChecked(s.lineWrap);               // 6
    ui_->CheckBox2->setChecked(s.pageFeed);               // 7
    ui_->CheckBox10->setChecked(s.monoSpace);             // 8
    ui_->SpinEdit1->setValue(s.topMargin);                // 9
    ui_->SpinEdit3->setValue(s.leftMargin);               // 10
    ui_->Label18->setText(qs(s.fontName));                // 11
    QFont sample = ui_->Label17->font();                  // 12
    sample.setFamily(ui_->Label18->text());
    ui_->Label17->setFont(sample);
    ComboBox1Change();                                                                   // 13
    ui_->ComboBox1->setEditText(QString::number(s.fontSize));                            // 14
    const std::array styles{s.fontBold, s.fontItalic, s.fontUnderline, s.fontStrikeout}; // 15
    for (int box = 0; box < 4; ++box)
        if (styles[std::size_t(box)]) setSampleStyle(box, true);
    ui_->CheckBox8->setChecked(s.minimize);                                // 16
    ui_->CheckBox9->setChecked(s.formFeed);                                // 17
    end_ = s.end;                                                          // 18
    language_ = qs(s.language);                                            // 19
    if (!QFileInfo(dataFile(language_ + QStringLiteral(".lng"))).isFile()) // 20
        language_ = QStringLiteral("English");
    codePage_ = qs(s.codePage);                                             // 21
    ui_->CheckBox11->setChecked(s.capture && ui_->CheckBox11->isEnabled()); // 22
    ui_->SpinEdit2->setValue(s.bottomMargin);                               // 23
    ui_->SpinEdit4->setValue(s.rightMargin);
    defaultFont_ = s.defaultFont; // 24
    updating_ = true;             // 25
    ui_->SpinEdit6->setValue(s.lpi);
    ui_->SpinEdit5->setValue(s.cpi);
    updating_ = false;
    if (!defaultFont_) SpinEdit5Change(); // 26
    // 27: the stored printer, letter case aside, else the system's default.
    if (const QString printer = currentPrinter(s); printer != this->printer().name()) {
        this->printer().selectPrinter(printer);
        fixedPitch_.clear();
    }
    restartMonitor();     // 28
    schemeNames_.clear(); // 29
    if (auto sequences = store_.openKey(kSequencesKey, false))
        for (const std::string& name : sequences->subkeyNames())
            schemeNames_ << qs(name);
    langset(language_ + QStringLiteral(".lng"));                                           // 30
    codeset(engine().codePage, dataFile(codePage_ + QStringLiteral(".cp")).toStdString()); // 31
    key.reset();                                                                           // 32
    checksize();
}

Settings TForm1::windowSettings() const {
    Settings s = base_; // what the window has no control for, as it was read
    s.timeOut = ui_->TrackBar1->value();
    s.autoPrint = ui_->CheckBox1->isChecked();
    s.spool = ui_->Edit1->text().toStdString();
    s.landscape = ui_->RadioButton2->isChecked();
    s.lineWrap = ui_->CheckBox7->isChecked();
    s.pageFeed = ui_->CheckBox2->isChecked();
    s.monoSpace = ui_->CheckBox10->isChecked();
    s.topMargin = ui_->SpinEdit1->value();
    s.leftMargin = ui_->SpinEdit3->value();
    s.fontName = ui_->Label18->text().toStdString();
    s.fontSize = sizeOrTen();
    const QFont sample = ui_->Label17->font();
    s.fontBold = sample.bold();
    s.fontItalic = sample.italic();
    s.fontUnderline = sample.underline();
    s.fontStrikeout = sample.strikeOut();
    s.minimize = ui_->CheckBox8->isChecked();
    s.formFeed = ui_->CheckBox9->isChecked();
    s.end = end_;
    s.language = language_.toStdString();
    s.codePage = codePage_.toStdString();
    s.capture = ui_->CheckBox11->isChecked();
    s.bottomMargin = ui_->SpinEdit2->value();
    s.rightMargin = ui_->SpinEdit4->value();
    s.defaultFont = defaultFont_;
    s.lpi = ui_->SpinEdit6->value();
    s.cpi = ui_->SpinEdit5->value();
    s.printer = ui_->Label24->text().toStdString();
    return s;
}

void TForm1::saveSettings() {
    auto key = store_.openKey(kSettingsKey, true);
    writeSettings(*key, windowSettings(), &stored_);
    key->flush();
}

void TForm1::langset(const QString& fileName) {
    const LanguageFile file = LanguageFile::read(dataFile(fileName).toStdString()); // 1
    auto t = [&file](const char* key) { return qs(file.text(key)); };
    auto keep = [this, &t](const char* key) { messages_.insert(QLatin1String(key), t(key)); };
    TrayIcon1->setToolTip(t("TrayIconHint").left(kTipLength)); // 2
    setWindowTitle(t("Title"));                                // 3
    ui_->PageControl1->setTabText(0, t("TabMain"));            // 4
    ui_->PageControl1->setTabText(1, t("TabFonts"));           // 5
    ui_->GroupBox6->setTitle(t("TabFonts"));
    ui_->GroupBox1->setTitle(t("SpoolParam")); // 6
    ui_->Label1->setText(t("TimeOut"));        // 7
    keep("Sec");                               // 8
    ui_->CheckBox1->setText(t("AutoPrint"));   // 9
    ui_->CheckBox9->setText(t("EOFPrint"));    // 10
    ui_->SpeedButton1->setText(t("Print"));    // 11
    N2->setText(t("Print"));
    pendingIcon_->setToolTip(withoutAccelerator(N2->text()).left(kTipLength));
    ui_->SpeedButton3->setText(t("PrintFile")); // 12
    N5->setText(t("PrintFile"));
    ui_->SpeedButton2->setText(t("Clear")); // 13
    N7->setText(t("Clear"));
    ui_->SpeedButton6->setText(t("CancelPrint"));
    N12->setText(t("CancelPrint"));
    ui_->Label3->setText(t("FileName"));    // 14
    ui_->GroupBox2->setTitle(t("Preview")); // 15
    ui_->GroupBox5->setTitle(t("Preview"));
    ui_->Button2->setText(t("Sequences"));      // 16
    ui_->Label19->setText(t("NewVersion"));     // 17
    ui_->GroupBox3->setTitle(t("Orientation")); // 18
    orientationMenu_->setTitle(ui_->GroupBox3->title());
    ui_->RadioButton1->setText(t("Portrait")); // 19
    N9->setText(ui_->RadioButton1->text());
    ui_->RadioButton2->setText(t("Landscape")); // 20
    N10->setText(ui_->RadioButton2->text());
    ui_->GroupBox10->setTitle(t("TextParam"));    // 21
    ui_->CheckBox7->setText(t("WordWrap"));       // 22
    ui_->CheckBox2->setText(t("FormFeed"));       // 23
    ui_->CheckBox8->setText(t("Minimize"));       // 24
    ui_->GroupBox11->setTitle(t("Printer"));      // 25
    ui_->SpeedButton4->setText(t("Select"));      // 26
    ui_->CheckBox10->setText(t("MonoSpaceOnly")); // 27
    ui_->GroupBox7->setTitle(t("FontStyle"));     // 28
    ui_->CheckBox3->setText(t("Bold"));           // 29
    ui_->CheckBox4->setText(t("Italic"));         // 30
    ui_->CheckBox5->setText(t("Underline"));      // 31
    ui_->CheckBox6->setText(t("Strikeout"));      // 32
    ui_->Button2->setText(t("Esc"));              // 33
    keep("Esc");
    ui_->Label10->setText(t("Size"));         // 34
    ui_->GroupBox8->setTitle(t("PageParam")); // 35
    ui_->Label13->setText(t("Lines"));        // 36
    ui_->Label14->setText(t("Chars"));        // 37
    ui_->Label4->setText(t("TopMargin"));     // 38
    ui_->Label6->setText(t("LeftMargin"));    // 39
    ui_->Label8->setText(t("BottomMargin"));  // 40
    ui_->Label9->setText(t("RightMargin"));   // 41
    ui_->Label17->setText(t("FontPreview"));  // 42
    for (const char* key : {"MonoSpace", "Proportional", "ExitTitle", "ExitLine1", "ExitLine2"})
        keep(key);                // 43 .. 47
    N3->setText(t("MenuOpen"));   // 48
    N4->setText(t("MenuCancel")); // 49
    N1->setText(t("MenuExit"));   // 50
    ui_->Label2->setText(
        QStringLiteral("%1 %2").arg(ui_->TrackBar1->value()).arg(message("Sec"))); // 51
    for (const char* key : {"Add", "Delete", "Codes", "Apply", "Cancel", "Close"})
        keep(key);                          // 52 .. 57
    ui_->CheckBox11->setText(t("Capture")); // 58
    keep("Initialize");                     // 59
    keep("NoPrinters");                     // 60
    ui_->GroupBox4->setTitle(t("Font"));    // 61
    keep("SchemeNameInvalid");              // the scheme editor's own
    keep("SchemeNameTaken");
    // 62: the pending-job icon took its new tip with step 11.
    installQtTranslations(QFileInfo(fileName).completeBaseName());
}

} // namespace marlix

namespace marlix {

void TForm1::checksize() {
    // A job that prints uses the layout it started with.
    if (session_.printing()) {
        layoutPending_ = true;
        return;
    }
    try {
        engine().settings = panelSettings();
        const CheckSizeResult r = engine().checksize();
        ui_->Label16->setText(QString::number(r.charsPerLine));
        ui_->Label14->setVisible(r.monospaced);
        ui_->Label16->setVisible(r.monospaced);
        ui_->Label15->setText(QString::number(r.linesPerPage));
        const QFont sample = ui_->Label17->font();
        const std::array on{sample.bold(), sample.italic(), sample.underline(), sample.strikeOut()};
        const std::array boxes{ui_->CheckBox3, ui_->CheckBox4, ui_->CheckBox5, ui_->CheckBox6};
        for (int box = 0; box < 4; ++box)
            if (on[box]) boxes[box]->setChecked(true);
        ui_->Label23->setText(message(r.monospaced ? "MonoSpace" : "Proportional"));
        // A layout that works again clears the error of the last one.
        ui_->StaticText1->clear();
    } catch (const std::exception& e) {
        ui_->StaticText1->setText(QString::fromUtf8(e.what()));
    }
}

PrintSettings TForm1::panelSettings() const {
    return windowSettings().printSettings();
}

std::int32_t TForm1::sizeOrTen() const {
    bool ok = false;
    const int size = ui_->ComboBox1->currentText().trimmed().toInt(&ok, 10);
    return ok ? size : 10;
}

std::int32_t TForm1::sizeBoxValue() const {
    return parseInteger(ui_->ComboBox1->currentText());
}

void TForm1::setMonitorInterval(int ms) {
    // An interval of 0 is a stopped monitor.
    Timer1.setInterval(ms);
    if (ms == 0)
        Timer1.stop();
    else
        Timer1.start();
}

void TForm1::restartMonitor() {
    setMonitorInterval(ui_->TrackBar1->value() * 1000);
}

PrintSession::Outcome TForm1::PrintOut(const QString& fileName, std::uint64_t from,
                                       std::uint64_t to) {
    if (session_.printing())
        return PrintSession::Outcome::failed(QString::fromUtf8(kPrintingInProgress));
    try {
        session_.configure(windowSettings());
    } catch (const std::exception& e) {
        return PrintSession::Outcome::failed(QString::fromUtf8(e.what()));
    }
    PrintSession::Outcome out = session_.print(fileName, from, to);
    if (std::exchange(layoutPending_, false)) checksize();
    ui_->ListBox1->viewport()->update();
    return out;
}

void TForm1::printingChanged(bool printing) {
    // The monitor waits while anything prints; a print ends with it running.
    if (printing)
        setMonitorInterval(0);
    else if (!quitting_)
        restartMonitor();
    // What would start another print or change this one waits for its end;
    // the job controls follow the job file again at the next presence tick.
    if (printing) setJobControls(false);
    ui_->SpeedButton3->setEnabled(!printing);
    N5->setEnabled(!printing);
    N8->setEnabled(!printing);
    for (QWidget* w :
         {static_cast<QWidget*>(ui_->GroupBox3), static_cast<QWidget*>(ui_->GroupBox10),
          static_cast<QWidget*>(ui_->GroupBox11), ui_->PageControl1->widget(1)})
        w->setEnabled(!printing);
    ui_->SpeedButton6->setEnabled(printing);
    N12->setVisible(printing);
    if (printing) return;
    // What went wrong meanwhile is shown once the print has returned.
    QTimer::singleShot(0, this, [this] {
        for (const QString& text : std::exchange(deferredErrors_, {}))
            showError(text);
        if (quitting_) quitProgram();
    });
}

void TForm1::UpdateProgress(int frame) {
    if (frame == kProgressDone)
        TrayIcon1->setIcon(appIcon_);
    else
        TrayIcon1->setIcon(progressFrames_.at(std::size_t(std::min(frame, kLastProgressFrame))));
}

void TForm1::FormActivate() {
    auto select = [](QComboBox* box, const QString& name) {
        box->setCurrentIndex(box->findText(name, Qt::MatchFixedString));
    };
    select(ui_->ComboBox2, language_);
    select(ui_->ComboBox3, codePage_);
}

void TForm1::restore() {
    showNormal();
    raise();
    activateWindow();
}

void TForm1::showRequest() {
    restore();
}

void TForm1::TrayIcon1DblClick() {
    restore();
    FormActivate();
}

void TForm1::hideToTray() {
    // Hidden without a notification area, the window could not be reached.
    if (TrayIcon1->isVisible() && trayUsable())
        hide();
    else if (!isMinimized())
        showMinimized();
}

void TForm1::closeEvent(QCloseEvent* event) {
    // FormCloseQuery: every close saves.
    guarded([&] { saveSettings(); });
    if (quitting_) {
        event->accept();
        return;
    }
    // FormClose: the window goes to the tray instead.
    event->ignore();
    hideToTray();
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Shown means activated, also where no window manager says so.
    FormActivate();
}

void TForm1::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !quitting_ &&
        TrayIcon1->isVisible() && trayUsable())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) hide();
        });
    else if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == ui_->Label5) Label5Click();
        if (watched == ui_->Label7) Label7Click();
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::N1Click() {
    const QString text = message("ExitLine1") + QLatin1Char('\n') + message("ExitLine2");
    if (!dialogs_.question || !dialogs_.question(this, message("ExitTitle"), text)) return;
    saveSettings();
    quitAfterPrint(0); // the user wants out: a job that prints goes whole to the next start
}

void TForm1::sessionEnds() {
    guarded([&] { saveSettings(); });
    quitAfterPrint(kEndGraceMs);
}

void TForm1::quitAfterPrint(int graceMs) {
    quitting_ = true;
    Timer1.stop();
    if (!session_.printing()) return quitProgram();
    // The end comes when the print has returned (printingChanged).
    if (graceMs <= 0)
        session_.abandon();
    else
        QTimer::singleShot(graceMs, this, [this] { session_.abandon(); });
}

void TForm1::quitProgram() {
    quitting_ = true;
    Timer1.stop();
    Timer2.stop();
    // Whatever the senders were allowed to send is in the job file before we go.
    if (vxd_) vxd_->flush(kFlushMs);
    vxd_.reset();
    TrayIcon1->hide();
    pendingIcon_->hide();
    QCoreApplication::exit(0);
}

void TForm1::TrackBar1Change() {
    restartMonitor();
    ui_->Label2->setText(QStringLiteral("%1 %2").arg(ui_->TrackBar1->value()).arg(message("Sec")));
}

void TForm1::CheckBox11Click() {
    // Whatever happens, a driver that runs lets its port go first.
    vxd_.reset();
    showCaptureProblem({});
    if (!ui_->CheckBox11->isChecked() || !ui_->CheckBox11->isEnabled() || !captureFactory_) return;
    CaptureSettings settings;
    settings.jobFileName = [this] { return ui_->Edit1->text().toStdString(); };
    settings.quietMs = [this] { return std::int64_t{ui_->TrackBar1->value()} * 1000; };
    settings.port = capturePort(base_);
    settings.files = &jobFiles_;
    vxd_ = captureFactory_(settings);
    // Shown after the handler that wrote, not inside it.
    vxd_->onError = [this](const std::string& reason) {
        QMetaObject::invokeMethod(
            this, [this, text = QString::fromStdString(reason)] { showError(text); },
            Qt::QueuedConnection);
    };
    vxd_->onProblem = [this](const std::string& problem) { showCaptureProblem(problem); };
    showCaptureProblem(vxd_->problem());
    vxd_->setCapture(true);
}

void TForm1::showCaptureProblem(const std::string& problem) {
    ui_->Label25->setText(qs(problem));
    ui_->Label25->setVisible(!problem.empty());
}

void TForm1::setJobControls(bool enabled) {
    // Nothing to start or throw away while a job prints.
    enabled = enabled && !session_.printing();
    ui_->SpeedButton1->setEnabled(enabled);
    ui_->SpeedButton2->setEnabled(enabled);
    N2->setEnabled(enabled);
    N7->setEnabled(enabled);
}

void TForm1::fillfonts() {
    if (fontScanGuard_) return;
    if (session_.printing()) throw Error(std::string(kPrintingInProgress));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (const QString& family : std::as_const(fullFonts_))
        if (isFixedPitch(family)) fixedFonts_ << family;
    QApplication::restoreOverrideCursor();
}

bool TForm1::isFixedPitch(const QString& family) {
    auto it = fixedPitch_.constFind(family);
    if (it != fixedPitch_.cend()) return *it;
    // The printer's font belongs to the job while one prints.
    if (session_.printing()) return true;
    // Measured on the printer in the sample's size and style; the next layout
    // or job makes the printer font again.
    const QFont sample = ui_->Label17->font();
    const int points = sample.pointSize() > 0 ? sample.pointSize() : 10;
    LogicalFont lf;
    lf.height = -int(std::lround(points * double(printer().resolutionY()) / 72.0));
    lf.weight = sample.bold() ? 700 : 0;
    lf.italic = sample.italic();
    lf.face = family.toStdString();
    printer().setFont(lf);
    const bool fixed = printer().textWidth(u'!') == printer().textWidth(u'W');
    fixedPitch_.insert(family, fixed);
    return fixed;
}

void TForm1::fillFontList() {
    const QStringList& list = ui_->CheckBox10->isChecked() ? fixedFonts_ : fullFonts_;
    ui_->ListBox1->clear();
    ui_->ListBox1->addItems(list);
    selectFontInList();
}

void TForm1::selectFontInList() {
    const auto found = ui_->ListBox1->findItems(ui_->Label18->text(), Qt::MatchFixedString);
    ui_->ListBox1->setCurrentItem(found.isEmpty() ? nullptr : found.first());
    if (!found.isEmpty()) ui_->ListBox1->scrollToItem(found.first());
}

void TForm1::CheckBox10Click() {
    if (ui_->CheckBox10->isChecked() && fixedFonts_.isEmpty()) fillfonts();
    fillFontList();
}

void TForm1::setSampleStyle(int box, bool on) {
    QFont f = ui_->Label17->font();
    switch (box) {
    case 0: f.setBold(on); break;
    case 1: f.setItalic(on); break;
    case 2: f.setUnderline(on); break;
    default: f.setStrikeOut(on); break;
    }
    ui_->Label17->setFont(f);
}

void TForm1::StyleBoxClick(int box) {
    const std::array boxes{ui_->CheckBox3, ui_->CheckBox4, ui_->CheckBox5, ui_->CheckBox6};
    setSampleStyle(box, boxes[std::size_t(box)]->isChecked());
    checksize();
}

void TForm1::ComboBox1Change() {
    if (session_.printing()) throw Error(std::string(kPrintingInProgress));
    defaultFont_ = true;
    const std::int32_t size = sizeBoxValue();
    QFont sample = ui_->Label17->font();
    sample.setFamily(ui_->Label18->text());
    sample.setStretch(QFont::Unstretched);
    sample.setPointSize(std::max(1, size));
    ui_->Label17->setFont(sample);
    sampleCell_ = {};
    const auto pitch = engine().pitchOfFont(ui_->Label18->text().toStdString(), size);
    updating_ = true;
    ui_->SpinEdit5->setValue(pitch.cpi);
    ui_->SpinEdit6->setValue(pitch.lpi);
    updating_ = false;
    checksize();
}

void TForm1::SpinEdit5Change() {
    if (updating_) return;
    defaultFont_ = false;
    const std::int32_t size = sizeBoxValue();
    QFont sample = ui_->Label17->font();
    sample.setFamily(ui_->Label18->text());
    sample.setPointSize(std::max(1, size));
    const int cpi = ui_->SpinEdit5->value();
    const int lpi = ui_->SpinEdit6->value();
    if (cpi != 0 && lpi != 0) {
        // A cell of the pitch on the screen, as the printer will have it on paper.
        const int dpi = logicalDpiY();
        const int height = int(nearest(static_cast<long double>(dpi) / lpi));
        const int width = int(nearest(static_cast<long double>(logicalDpiX()) / cpi));
        sample.setStretch(QFont::Unstretched);
        fitFontHeight(sample, height, this);
        fitFontWidth(sample, width, this);
        sampleCell_ = {width, height};
    }
    ui_->Label17->setFont(sample);
    checksize();
}

void TForm1::ListBox1Click() {
    if (QListWidgetItem* item = ui_->ListBox1->currentItem()) ui_->Label18->setText(item->text());
    QFont sample = ui_->Label17->font();
    sample.setFamily(ui_->Label18->text());
    ui_->Label17->setFont(sample);
    checksize(); // shows its own errors
}

void TForm1::ComboBox2Change() {
    language_ = ui_->ComboBox2->currentText();
    langset(language_ + QStringLiteral(".lng"));
}

void TForm1::ComboBox3Change() {
    codePage_ = ui_->ComboBox3->currentText();
    codeset(engine().codePage, dataFile(codePage_ + QStringLiteral(".cp")).toStdString());
}

void TForm1::SpeedButton3Click() {
    const QString file = dialogs_.openFile ? dialogs_.openFile(this) : QString();
    if (file.isEmpty()) return;
    const PrintSession::Outcome out = printFile(file);
    if (!out.ok() && out.result != PrintSession::Result::Cancelled)
        throw Error(out.message.toStdString());
}

QStringList TForm1::printHandedOver(const QString& fileName) {
    const PrintSession::Outcome out = printFile(fileName);
    if (!out.ok()) throw Error(out.message.toStdString());
    return out.pdfs;
}

PrintSession::Outcome TForm1::printFile(const QString& fileName) {
    // The monitor waits meanwhile (printingChanged); the file is not the
    // job file, so nothing of it is removed.
    if (session_.printing()) throw Error(std::string(kPrintingInProgress));
    return PrintOut(fileName);
}

void TForm1::SpeedButton4Click() {
    if (session_.printing()) throw Error(std::string(kPrintingInProgress));
    if (dialogs_.printerSetup) dialogs_.printerSetup(this, printer()); // 1
    printer().optionsChanged();                                        // 2
    fixedPitch_.clear();
    fullFonts_ = QFontDatabase::families();
    fixedFonts_.clear();
    if (printer().orientation() == Orientation::Landscape) // 3
        ui_->RadioButton2->setChecked(true);
    else
        ui_->RadioButton1->setChecked(true);
    ui_->Label24->setText(printer().name()); // 4
    RadioButton12Click();                    // 5
}

void TForm1::RadioButton12Click() {
    const bool portrait = ui_->RadioButton1->isChecked();
    if (!session_.printing())
        printer().setOrientation(portrait ? Orientation::Portrait : Orientation::Landscape);
    N8->setIcon((portrait ? N9 : N10)->icon());
    ui_->Image1->setVisible(portrait);
    ui_->Image2->setVisible(portrait);
    ui_->Image4->setVisible(!portrait);
    ui_->Image3->setVisible(!portrait);
    N9->setChecked(portrait);
    N10->setChecked(!portrait);
    checksize();
}

void TForm1::N9Click() {
    ui_->RadioButton1->setChecked(true);
    N9->setChecked(ui_->RadioButton1->isChecked());
}

void TForm1::N10Click() {
    ui_->RadioButton2->setChecked(true);
    N10->setChecked(ui_->RadioButton2->isChecked());
}

void TForm1::PageControl1Change() {
    if (session_.printing()) {
        // Nothing is measured on a printer that prints: the rest follows the job.
        fillFontList();
        layoutPending_ = true;
        return;
    }
    if (fullFonts_.isEmpty()) fullFonts_ = QFontDatabase::families();       // 1
    if (ui_->CheckBox10->isChecked() && fixedFonts_.isEmpty()) fillfonts(); // 2
    fillFontList();                                                         // 3, 4
    QFont sample = ui_->Label17->font();                                    // 5
    sample.setFamily(ui_->Label18->text());
    ui_->Label17->setFont(sample);
    if (defaultFont_) // 6
        ComboBox1Change();
    else
        SpinEdit5Change();
    checksize(); // 7
}

void TForm1::Label5Click() {
    QDesktopServices::openUrl(QUrl(homePage_));
}

void TForm1::Label7Click() {
    QDesktopServices::openUrl(QUrl(supportMail_));
}

} // namespace marlix
