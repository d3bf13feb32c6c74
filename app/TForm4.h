// The ASCII chart: the chart file drawn through the code page table in the
// sample font's face, reread at every paint so that a change of code page,
// font or file shows at once.
#pragma once

#include "charset/AsciiChart.h"
#include "charset/CodePageTable.h"

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class TForm4;
}

namespace marlix {

class TForm4 final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TForm4)

public:
    struct Sources {
        const CodePageTable* codePage = nullptr;
        std::function<QString()> face; // the sample font's face
        std::function<void(QWidget* owner, const QString& text)> error;
    };

    explicit TForm4(Sources sources, QWidget* parent = nullptr);
    ~TForm4() override;

    // The chart button: without a readable chart file nothing opens.
    void SpeedButton5Click();

    // "ASCII.TBL" in the data folder, unless a test gives its own.
    QString chartFile() const;
    void setChartFile(const QString& file) { chartFile_ = file; }
    // How many fonts the last paint made.
    int fontsMade() const { return fontsMade_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void FormPaint();
    ChartCell setChartSize(); // returns the cell it sized the window by

    std::unique_ptr<Ui::TForm4> ui_;
    Sources sources_;
    int fontsMade_ = 0;
    QString chartFile_;
    QString shownError_; // a failing file is reported once, not at every paint
};

} // namespace marlix
