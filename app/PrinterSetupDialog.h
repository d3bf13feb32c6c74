// Printer setup: any printer of the list, "Print to PDF" included, and a
// system printer's own options through Qt's print dialog.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class PrinterSetupDialog;
}

namespace marlix {

class QtPrinter;

class PrinterSetupDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PrinterSetupDialog)

public:
    PrinterSetupDialog(QtPrinter& printer, QWidget* parent = nullptr);
    ~PrinterSetupDialog() override;

    // Shows the dialog; on Cancel the printer of before is current again.
    static bool run(QWidget* owner, QtPrinter& printer);

private:
    void choose(int index);
    void showOptions();

    std::unique_ptr<Ui::PrinterSetupDialog> ui_;
    QtPrinter& printer_;
};

} // namespace marlix
