#include "app/TForm4.h"

#include "charset/AsciiChart.h"
#include "platform/CellFont.h"
#include "platform/DataDir.h"
#include "ui_TForm4.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace marlix {

namespace {

constexpr int kCellsAcross = 33;
constexpr int kCellsDown = 16;

ChartCell screenCell() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->size() : QSize(1024, 768);
    return chartCell(size.width(), size.height());
}

// The chart font: the face at the cell's height and width, made anew for
// each character set; text is Unicode, so the set only decides when.
class PainterChart final : public ChartCanvas {
public:
    PainterChart(QPainter& painter, QString face, ChartCell cell)
        : p_(painter), face_(std::move(face)), cell_(cell) {}

    void makeFont(std::uint8_t) override {
        QFont font(face_);
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
        fitFontHeight(font, cell_.height, p_.device());
        fitFontWidth(font, cell_.width, p_.device());
        p_.setFont(font);
        metrics_.emplace(font, p_.device());
        ++made;
    }
    int spaceWidth() override { return metrics_->horizontalAdvance(QLatin1Char(' ')); }
    int charWidth(char16_t c) override { return metrics_->horizontalAdvance(QChar(c)); }
    void drawChar(int x, int y, char16_t c) override {
        p_.drawText(x, y + metrics_->ascent(), QString(QChar(c)));
    }

    int made = 0;

private:
    QPainter& p_;
    QString face_;
    ChartCell cell_;
    std::optional<QFontMetrics> metrics_;
};

} // namespace

TForm4::TForm4(Sources sources, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TForm4>()), sources_(std::move(sources)) {
    ui_->setupUi(this);
    setModal(false);
    // The chart stands on the colour of a button face.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    palette.setColor(QPalette::WindowText, Qt::black);
    setPalette(palette);
}

TForm4::~TForm4() = default;

QString TForm4::chartFile() const {
    return chartFile_.isEmpty() ? dataFile(QString::fromLatin1(kChartFileName)) : chartFile_;
}

void TForm4::SpeedButton5Click() {
    if (!QFile(chartFile()).open(QIODevice::ReadOnly)) return;
    setChartSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - frameGeometry().center() + pos());
    show();
    raise();
    activateWindow();
}

// The window's outer size is 33 cells by 16; the frame's share is known once
// the window is shown.
ChartCell TForm4::setChartSize() {
    const ChartCell cell = screenCell();
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize client = QSize(kCellsAcross * cell.width, kCellsDown * cell.height) - frame;
    if (size() != client) setFixedSize(client);
    return cell;
}

void TForm4::paintEvent(QPaintEvent*) {
    try {
        FormPaint();
        shownError_.clear();
    } catch (const std::exception& e) {
        const QString text = QString::fromUtf8(e.what());
        // A box over the chart paints it again; the same failure is told once.
        if (text == shownError_) return;
        shownError_ = text;
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                if (sources_.error) sources_.error(this, text);
            },
            Qt::QueuedConnection);
    }
}

void TForm4::FormPaint() {
    const std::string bytes = readChartFile(chartFile().toStdString());
    const ChartCell cell = setChartSize();
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    PainterChart canvas(painter, sources_.face ? sources_.face() : QString(), cell);
    paintChart(bytes, sources_.codePage ? *sources_.codePage : CodePageTable::identity(),
               cell.height, canvas);
    fontsMade_ = canvas.made;
}

} // namespace marlix
