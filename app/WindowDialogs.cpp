#include "app/WindowDialogs.h"

#include "app/PrinterSetupDialog.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace marlix {

WindowDialogs WindowDialogs::standard() {
    WindowDialogs d;
    d.error = [](QWidget* owner, const QString& text) {
        QMessageBox::critical(owner, QCoreApplication::applicationName(), text);
    };
    d.inform = [](QWidget* owner, const QString& text) {
        QMessageBox::information(owner, QCoreApplication::applicationName(), text);
    };
    d.question = [](QWidget* owner, const QString& title, const QString& text) {
        return QMessageBox::question(owner, title, text, QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    };
    d.input = [](QWidget* owner, const QString& title,
                 const QString& prompt) -> std::optional<QString> {
        bool ok = false;
        QString text = QInputDialog::getText(owner, title, prompt, QLineEdit::Normal, {}, &ok);
        if (!ok) return std::nullopt;
        return text;
    };
    d.openFile = [](QWidget* owner) { return QFileDialog::getOpenFileName(owner); };
    d.printerSetup = &PrinterSetupDialog::run;
    return d;
}

} // namespace marlix
