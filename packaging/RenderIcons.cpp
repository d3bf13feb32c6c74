// Renders the program's SVG icon into the PNG sizes of the hicolor theme, at
// build time, so the pictures never fall out of step with the drawing.
// Usage: marlix_render_icons ICON.svg OUTDIR SIZE...
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s ICON.svg OUTDIR SIZE...\n", argv[0]);
        return 2;
    }
    const QIcon icon(QString::fromLocal8Bit(argv[1]));
    const QDir out(QString::fromLocal8Bit(argv[2]));
    for (int i = 3; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        const QString file = out.filePath(QStringLiteral("marlix-%1.png").arg(size));
        if (size <= 0 || !icon.pixmap(size).save(file)) {
            std::fprintf(stderr, "cannot render %s at %s\n", argv[1], argv[i]);
            return 1;
        }
    }
    return 0;
}
