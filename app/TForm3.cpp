#include "app/TForm3.h"

#include "core/Errors.h"
#include "schemes/AnsiText.h"
#include "schemes/Commands.h"
#include "schemes/SequenceNotation.h"
#include "ui_TForm3.h"

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QStyledItemDelegate>
#include <array>

namespace marlix {

namespace {

constexpr int kRows = 31;
constexpr int kNameColumn = 0;
constexpr int kPatternColumn = 1;
constexpr int kRowHeight = 18;
constexpr int kTextInset = 2; // text stands this far right of and below the cell's corner
constexpr int kPatternRole = Qt::UserRole;

const QString kDefault = QStringLiteral("Default");
const QString kNoSequencesName = QString::fromLatin1(kNoSequences);
const QString kEmulationName = QString::fromLatin1(kEscP2Scheme);

// The names the dialog offers itself; a key of theirs (made by Apply) is no
// second entry.
bool builtIn(const QString& name) {
    return name == kNoSequencesName || name == kEmulationName;
}
const QString kEpson = QStringLiteral("Epson Matrix");

// Notation is one byte a character (Windows-1251); the store and the screen
// hold Unicode.
std::string ansiOf(const QString& text) {
    return toAnsi(text.toStdString());
}
QString textOf(std::string_view ansi) {
    return QString::fromStdString(fromAnsi(ansi));
}

std::string keyOf(const QString& scheme) {
    return SchemeStore::schemeKey(scheme.toStdString());
}

} // namespace

// Draws the cells as the editor does and edits column 1 in notation.
class TForm3::CellDelegate final : public QStyledItemDelegate {
public:
    CellDelegate(TForm3& form) : QStyledItemDelegate(&form), form_(form) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        form_.StringGrid1DrawCell(*painter, option.rect, index.row(), index.column());
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override {
        auto* editor = new QLineEdit(parent);
        editor->setFrame(false);
        const int row = index.row(), column = index.column();
        connect(editor, &QLineEdit::textEdited, editor, [this, row, column](const QString& text) {
            form_.StringGrid1SetEditText(row, column, text, true);
        });
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        // The view also calls this when the cell's data changes under an
        // open editor; what the user typed stays.
        auto* line = static_cast<QLineEdit*>(editor);
        if (line->isModified()) return;
        line->setText(form_.StringGrid1GetEditText(index.row(), index.column()));
    }

    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        auto* line = static_cast<QLineEdit*>(editor);
        if (form_.closing_ || !line->isModified()) return; // opened and closed: nothing was edited
        try {
            form_.StringGrid1SetEditText(index.row(), index.column(), line->text(), false);
        } catch (const std::exception& e) {
            // The view is closing its editor: the box waits until it is done.
            QMetaObject::invokeMethod(
                &form_,
                [form = &form_, text = QString::fromUtf8(e.what())] {
                    if (form->dialogs_.error) form->dialogs_.error(form, text);
                },
                Qt::QueuedConnection);
        }
    }

private:
    TForm3& form_;
};

TForm3::TForm3(Registry& store, SchemeStore& schemes, Texts texts, WindowDialogs dialogs,
               QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TForm3>()), store_(store), schemes_(schemes),
      texts_(std::move(texts)), dialogs_(std::move(dialogs)) {
    ui_->setupUi(this);
    setFixedSize(size()); // a dialog border: the form's own size
    setModal(false);

    AddSeqScheme = new QAction(QIcon(QStringLiteral(":/icons/btn-scheme-add.svg")),
                               QStringLiteral("Добавить"), this);
    AddSeqScheme->setObjectName(QStringLiteral("AddSeqScheme"));
    DelSeqScheme = new QAction(QIcon(QStringLiteral(":/icons/btn-scheme-delete.svg")),
                               QStringLiteral("Удалить"), this);
    DelSeqScheme->setObjectName(QStringLiteral("DelSeqScheme"));
    ui_->Button3->setDefaultAction(AddSeqScheme);
    ui_->Button4->setDefaultAction(DelSeqScheme);

    QTableWidget* grid = ui_->StringGrid1;
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->setColumnWidth(kNameColumn, 105);
    grid->setShowGrid(true);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    grid->setItemDelegate(new CellDelegate(*this));
    ui_->Edit2->installEventFilter(this);

    connect(ui_->ComboBox1, &QComboBox::activated, this,
            [this] { guarded([&] { ComboBox1Change(); }); });
    connect(grid, &QTableWidget::currentCellChanged, this,
            [this](int row, int column) { guarded([&] { StringGrid1SelectCell(row, column); }); });
    connect(ui_->Edit2, &QLineEdit::textEdited, this, [this] { Edit2KeyPress(); });
    connect(ui_->Button1, &QPushButton::clicked, this,
            [this] { guarded([&] { Button1Click(); }); });
    connect(ui_->Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(AddSeqScheme, &QAction::triggered, this,
            [this] { guarded([&] { AddSeqSchemeExecute(); }); });
    connect(DelSeqScheme, &QAction::triggered, this,
            [this] { guarded([&] { DelSeqSchemeExecute(); }); });

    FormCreate();
}

TForm3::~TForm3() {
    // Taking the window down moves the focus out of an open cell editor or
    // the initialisation box, and nothing is taken from them any more. The
    // grid goes while the dialog is whole, so its editor's last events still
    // find a dialog that ignores them.
    closing_ = true;
    ui_->Edit2->removeEventFilter(this);
    ui_->StringGrid1->disconnect(this);
    delete ui_->StringGrid1;
}

template <typename F> void TForm3::guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        if (dialogs_.error) dialogs_.error(this, QString::fromUtf8(e.what()));
    }
}

void TForm3::FormCreate() {
    unapplied_ = false;
    QTableWidget* grid = ui_->StringGrid1;
    grid->setRowCount(kRows);
    for (int row = 0; row < kRows; ++row) {
        const std::string_view display = kCommands[std::size_t(row)].display;
        // The names are a fixed column: never selected, never edited.
        auto* name =
            new QTableWidgetItem(QString::fromUtf8(display.data(), qsizetype(display.size())));
        name->setFlags(Qt::NoItemFlags);
        grid->setItem(row, kNameColumn, name);
        grid->setItem(row, kPatternColumn, new QTableWidgetItem);
    }
    grid->setColumnWidth(kPatternColumn, 300);
    AddSeqSchemeUpdate();
    DelSeqSchemeUpdate();
}

void TForm3::showEditor(const QStringList& names, const QString& initText) {
    ui_->Edit2->setText(initText);
    names_ = names;
    // Activation loads the dialog; a platform that does not activate the
    // window on show must not leave it empty, and a second load is harmless.
    FormActivate();
    show();
    raise();
    activateWindow();
}

bool TForm3::event(QEvent* event) {
    if (closing_) return QDialog::event(event);
    if (event->type() == QEvent::WindowDeactivate) {
        const QWidget* now = QApplication::activeWindow();
        toOwnBox_ = false;
        for (const QWidget* w = now ? now->parentWidget() : nullptr; w; w = w->parentWidget())
            if (w == this) toOwnBox_ = true;
    } else if (event->type() == QEvent::WindowActivate) {
        if (!toOwnBox_) guarded([&] { FormActivate(); });
        toOwnBox_ = false;
    }
    return QDialog::event(event);
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
    // Leaving the box for another control of the dialog; a focus that goes
    // with the window or to a menu comes back.
    if (!closing_ && watched == ui_->Edit2 && event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            guarded([&] { Edit2Exit(); });
    }
    return QDialog::eventFilter(watched, event);
}

void TForm3::FormActivate() {
    QComboBox* box = ui_->ComboBox1;
    box->clear();
    for (const QString& name : names_)
        if (!builtIn(name)) box->addItem(name);
    box->addItem(kNoSequencesName);
    box->addItem(kEmulationName);
    int index = -1;
    if (auto root = store_.openKey(kSettingsKey, false))
        if (auto stored = root->readString(kSequenceValue))
            index = box->findText(QString::fromStdString(*stored), Qt::MatchFixedString);
    // A stored scheme that is gone from the list falls back to "Default".
    if (index < 0) index = box->findText(kDefault, Qt::MatchExactly | Qt::MatchCaseSensitive);
    box->setCurrentIndex(index);
    ComboBox1Change();
    showApplyPending(false);
    setTexts();
    pendingRow_ = pendingColumn_ = -1;
    pendingText_.clear();
}

void TForm3::setTexts() {
    const QString esc = texts_("Esc");
    setWindowTitle(QStringLiteral("Esc-") + esc);
    ui_->GroupBox1->setTitle(esc);
    ui_->GroupBox2->setTitle(texts_("Codes"));
    ui_->Button1->setText(texts_("Apply"));
    ui_->Label1->setText(texts_("Initialize"));
    ui_->Button2->setText(ui_->Button1->isEnabled() ? texts_("Cancel") : texts_("Close"));
    AddSeqScheme->setText(texts_("Add"));
    DelSeqScheme->setText(texts_("Delete"));
}

void TForm3::showApplyPending(bool pending) {
    ui_->Button1->setEnabled(pending);
    ui_->Button2->setText(pending ? texts_("Cancel") : texts_("Close"));
}

void TForm3::setUnapplied(bool unapplied) {
    unapplied_ = unapplied;
    AddSeqSchemeUpdate();
}

QString TForm3::selectedName() const {
    return ui_->ComboBox1->currentText();
}

QByteArray TForm3::cellBytes(int row) const {
    return ui_->StringGrid1->item(row, kPatternColumn)->data(kPatternRole).toByteArray();
}

void TForm3::setCell(int row, const std::string& bytes) {
    QTableWidgetItem* cell = ui_->StringGrid1->item(row, kPatternColumn);
    cell->setData(kPatternRole, QByteArray::fromStdString(bytes));
    // The characters as a screen reader or a copy shows them.
    cell->setText(textOf(bytes));
}

void TForm3::ComboBox1Change() {
    showApplyPending(true);
    const QString name = selectedName();
    auto key = store_.openKey(keyOf(name), false);
    editable_ = name != kDefault && !builtIn(name);
    // Everything is read before anything changes, so a value that can't be
    // read leaves the grid as it was.
    std::array<std::string, kRows> patterns;
    QString init;
    if (key) {
        for (int row = 0; row < kRows; ++row)
            patterns[std::size_t(row)] =
                TextToSeq(SchemeStore::readNotation(*key, kCommands[std::size_t(row)].name));
        init = QString::fromStdString(key->readString(kInitStrValue).value_or(std::string()));
    }
    QTableWidget* grid = ui_->StringGrid1;
    grid->setEditTriggers(
        editable_ ? QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                        QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed
                  : QAbstractItemView::NoEditTriggers);
    for (int row = 0; row < kRows; ++row)
        setCell(row, patterns[std::size_t(row)]);
    grid->viewport()->update();
    ui_->Edit2->setText(init);
    setUnapplied(false);
    DelSeqSchemeUpdate();
}

void TForm3::StringGrid1DrawCell(QPainter& p, const QRect& rect, int row, int column) {
    const QTableWidget* grid = ui_->StringGrid1;
    const QColor grey(128, 128, 128);
    p.save();
    QFont font = grid->font();
    QPoint at = rect.topLeft() + QPoint(kTextInset, kTextInset);
    if (column == kNameColumn) {
        p.fillRect(rect, grid->palette().button());
        font.setBold(row == 0);
        font.setItalic(row == 2);
        font.setUnderline(row == 4);
        font.setStrikeOut(row == 6);
        p.setFont(font);
        p.setPen(editable_ ? Qt::black : grey);
        const QFontMetrics metrics(font);
        p.drawText(at + QPoint(0, metrics.ascent()), grid->item(row, column)->text());
        p.restore();
        return;
    }
    const bool selected = row == grid->currentRow() && column == grid->currentColumn();
    p.fillRect(rect, selected ? grid->palette().highlight() : grid->palette().base());
    p.setFont(font);
    p.setClipRect(rect);
    const QFontMetrics metrics(font);
    at.ry() += metrics.ascent();
    for (const char ch : cellBytes(row)) {
        const auto b = static_cast<unsigned char>(ch);
        QString text;
        if (b < 32) {
            text = QStringLiteral("[#%1]").arg(b);
            p.setPen(selected ? QColor(Qt::white) : QColor(0, 0, 255));
        } else {
            text = textOf(std::string_view(&ch, 1));
            p.setPen(selected ? QColor(255, 255, 0) : editable_ ? QColor(Qt::black) : grey);
        }
        p.drawText(at, text);
        at.rx() += metrics.horizontalAdvance(text);
    }
    p.restore();
}

QString TForm3::StringGrid1GetEditText(int row, int) {
    pendingRow_ = row;
    return textOf(SeqToText(cellBytes(row).toStdString()));
}

void TForm3::StringGrid1SetEditText(int row, int column, const QString& text, bool editing) {
    if (editing) {
        pendingRow_ = row;
        pendingColumn_ = column;
        pendingText_ = text;
    } else {
        pendingRow_ = pendingColumn_ = -1;
        pendingText_.clear();
        setCell(row, TextToSeq(ansiOf(text))); // too long: the cell keeps what it had
    }
    showApplyPending(true);
    setUnapplied(true);
}

void TForm3::StringGrid1SelectCell(int, int) {
    if (pendingRow_ < 0 || pendingColumn_ < 0) return;
    const int row = pendingRow_;
    const std::string notation = ansiOf(pendingText_);
    pendingRow_ = pendingColumn_ = -1;
    pendingText_.clear();
    setCell(row, TextToSeq(notation));
    setUnapplied(true);
}

void TForm3::Edit2KeyPress() {
    showApplyPending(true);
    setUnapplied(true);
}

void TForm3::Edit2Exit() {
    schemes_.setInitStr(TextToSeq(ansiOf(ui_->Edit2->text())));
}

void TForm3::Button1Click() {
    const QString name = selectedName();
    auto root = store_.openKey(kSettingsKey, true);
    root->writeString(kSequenceValue, name.toStdString());
    root->flush();
    auto key = store_.openKey(keyOf(name), true);
    key->writeString(kInitStrValue, fromAnsi(SeqToText(ansiOf(ui_->Edit2->text()))));
    if (editable_)
        for (int row = 0; row < kRows; ++row)
            key->writeString(kCommands[std::size_t(row)].name,
                             fromAnsi(SeqToText(cellBytes(row).toStdString())));
    key->flush();
    showApplyPending(false);
    setUnapplied(false);
}

void TForm3::Button2Click() {
    setUnapplied(false);
    hide();
}

void TForm3::reject() {
    Button2Click();
}

QString TForm3::nameProblem(const QString& name) const {
    if (name.isEmpty() || name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char('/')))
        return texts_("SchemeNameInvalid");
    for (int i = 0; i < ui_->ComboBox1->count(); ++i)
        if (ui_->ComboBox1->itemText(i).compare(name, Qt::CaseInsensitive) == 0)
            return texts_("SchemeNameTaken")
                .replace(QStringLiteral("%s"), ui_->ComboBox1->itemText(i));
    return {};
}

void TForm3::AddSeqSchemeExecute() {
    if (unapplied_ || !dialogs_.input) return;
    QString name;
    for (;;) {
        std::optional<QString> answer = dialogs_.input(this, texts_("Add"), texts_("Esc"));
        if (!answer) return;
        name = *answer;
        const QString problem = nameProblem(name);
        if (problem.isEmpty()) break;
        if (dialogs_.error) dialogs_.error(this, problem);
    }
    names_.append(name); // a return to the dialog keeps it in the list
    ui_->ComboBox1->insertItem(ui_->ComboBox1->count() - 2, name);
    ui_->ComboBox1->setCurrentIndex(ui_->ComboBox1->count() - 3);
    showApplyPending(true);
    // The store keeps no empty key: the new scheme starts with an empty
    // initialisation string, so it is there even if it is never applied.
    auto key = store_.openKey(keyOf(name), true);
    key->writeString(kInitStrValue, "");
    key->flush();
    ComboBox1Change();
}

void TForm3::AddSeqSchemeUpdate() {
    AddSeqScheme->setEnabled(!unapplied_);
}

void TForm3::DelSeqSchemeExecute() {
    const QString name = selectedName();
    if (name == kDefault || builtIn(name) || name == kEpson) return;
    const QString question = texts_("Delete") + QLatin1Char(' ') + texts_("Esc") +
                             QLatin1Char(' ') + name + QStringLiteral(" ?");
    if (!dialogs_.question || !dialogs_.question(this, QApplication::applicationName(), question))
        return;
    if (store_.keyExists(keyOf(name))) store_.deleteKey(keyOf(name));
    ui_->ComboBox1->removeItem(ui_->ComboBox1->currentIndex());
    names_.removeAll(name);
    ui_->ComboBox1->setCurrentIndex(
        ui_->ComboBox1->findText(kDefault, Qt::MatchExactly | Qt::MatchCaseSensitive));
    ComboBox1Change();
    Button1Click();
}

void TForm3::DelSeqSchemeUpdate() {
    const QString name = selectedName();
    DelSeqScheme->setEnabled(name != kDefault && !builtIn(name) && name != kEpson);
}

} // namespace marlix
