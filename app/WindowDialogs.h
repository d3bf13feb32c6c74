// The dialogs the main window opens outside itself. Tests answer them in
// advance, so that no test waits on a modal box.
#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace marlix {

class QtPrinter;

struct WindowDialogs {
    std::function<void(QWidget* owner, const QString& text)> error;
    // Yes/No with the question icon; true for Yes.
    std::function<bool(QWidget* owner, const QString& title, const QString& text)> question;
    // An information box (the no-printers message).
    std::function<void(QWidget* owner, const QString& text)> inform;
    // One line of text; nullopt when cancelled.
    std::function<std::optional<QString>(QWidget* owner, const QString& title,
                                         const QString& prompt)>
        input;
    // The file to print; empty when cancelled.
    std::function<QString(QWidget* owner)> openFile;
    // Lets the user choose the printer and its options; true when confirmed.
    std::function<bool(QWidget* owner, QtPrinter& printer)> printerSetup;

    static WindowDialogs standard();
};

} // namespace marlix
