// The scheme editor: chooses the active scheme, edits a scheme's patterns and
// initialisation string, adds and deletes schemes. It works on the store
// directly, so a job sees what was applied when it starts.
#pragma once

#include "app/WindowDialogs.h"
#include "core/Registry.h"
#include "schemes/SchemeStore.h"

#include <QDialog>
#include <QStringList>
#include <functional>
#include <memory>

class QAction;
class QPainter;

namespace Ui {
class TForm3;
}

namespace marlix {

class TForm3 final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TForm3)

public:
    // The language text of a key, as the main window holds it now.
    using Texts = std::function<QString(const char* key)>;

    TForm3(Registry& store, SchemeStore& schemes, Texts texts, WindowDialogs dialogs,
           QWidget* parent = nullptr);
    ~TForm3() override;

    // The main window opens the editor with its scheme names and the current
    // initialisation string in notation; the main window stays usable.
    void showEditor(const QStringList& names, const QString& initText);

    Ui::TForm3* form() const { return ui_.get(); }
    QAction* addSchemeAction() const { return AddSeqScheme; }
    QAction* deleteSchemeAction() const { return DelSeqScheme; }
    // The pattern bytes of a grid row.
    QByteArray cellBytes(int row) const;
    bool unapplied() const { return unapplied_; }
    bool gridEditable() const { return editable_; }

    // Handlers by control and event.
    void FormActivate();
    void ComboBox1Change();
    void StringGrid1DrawCell(QPainter& painter, const QRect& rect, int row, int column);
    QString StringGrid1GetEditText(int row, int column);
    // editing: the user is typing; otherwise the edit is taken into the cell.
    void StringGrid1SetEditText(int row, int column, const QString& text, bool editing);
    void StringGrid1SelectCell(int row, int column);
    void Edit2KeyPress();
    void Edit2Exit();
    void Button1Click();
    void Button2Click();
    void AddSeqSchemeExecute();
    void AddSeqSchemeUpdate();
    void DelSeqSchemeExecute();
    void DelSeqSchemeUpdate();

    // The Esc key closes like Button2.
    void reject() override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class CellDelegate;

    void FormCreate();
    template <typename F> void guarded(F&& handler);
    void setTexts();
    // Something waits to be applied: Apply enabled and Button2 says Cancel.
    void showApplyPending(bool pending);
    void setUnapplied(bool unapplied);
    QString selectedName() const;
    void setCell(int row, const std::string& bytes);
    QString nameProblem(const QString& name) const;

    std::unique_ptr<Ui::TForm3> ui_;
    Registry& store_;
    SchemeStore& schemes_;
    Texts texts_;
    WindowDialogs dialogs_;
    QAction* AddSeqScheme = nullptr;
    QAction* DelSeqScheme = nullptr;

    QStringList names_;
    bool unapplied_ = false;
    bool editable_ = false;
    // A cell edit the user is still typing.
    int pendingRow_ = -1;
    int pendingColumn_ = -1;
    QString pendingText_;
    // The window lost the focus to one of its own boxes (a question, an
    // error, the name of a new scheme): coming back is no new activation.
    bool toOwnBox_ = false;
    bool closing_ = false;
};

} // namespace marlix
