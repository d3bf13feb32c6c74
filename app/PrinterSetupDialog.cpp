#include "app/PrinterSetupDialog.h"

#include "platform/QtPrinter.h"
#include "ui_PrinterSetupDialog.h"

#include <QPageLayout>
#include <QPrintDialog>
#include <QPrinter>

namespace marlix {

PrinterSetupDialog::PrinterSetupDialog(QtPrinter& printer, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::PrinterSetupDialog>()), printer_(printer) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("PrinterSetupDialog1"));
    ui_->printerList->addItems(QtPrinter::printerNames());
    ui_->printerList->setCurrentText(printer_.name());
    connect(ui_->printerList, &QComboBox::activated, this, &PrinterSetupDialog::choose);
    connect(ui_->optionsButton, &QPushButton::clicked, this, &PrinterSetupDialog::showOptions);
    choose(ui_->printerList->currentIndex());
}

PrinterSetupDialog::~PrinterSetupDialog() = default;

void PrinterSetupDialog::choose(int index) {
    const QString name = ui_->printerList->itemText(index);
    if (name.compare(printer_.name(), Qt::CaseInsensitive) != 0) printer_.selectPrinter(name);
    // "Print to PDF" has no options of its own: its page is fixed.
    ui_->optionsButton->setEnabled(printer_.systemPrinter() != nullptr);
    ui_->details->setText(printer_.isPdf() ? tr("Writes PDF files into the PDF folder.")
                                           : QString());
}

void PrinterSetupDialog::showOptions() {
    QPrinter* system = printer_.systemPrinter();
    if (!system) return;
    QPrintDialog dialog(system, this);
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    if (dialog.exec() == QDialog::Accepted) {
        printer_.optionsChanged();
        ui_->printerList->setCurrentText(printer_.name());
    }
}

bool PrinterSetupDialog::run(QWidget* owner, QtPrinter& printer) {
    const QString before = printer.name();
    PrinterSetupDialog dialog(printer, owner);
    if (dialog.exec() == QDialog::Accepted) return true;
    if (printer.name() != before) printer.selectPrinter(before);
    return false;
}

} // namespace marlix
