// prismet-manual-writer MANUAL.md OUTPUT.pdf [PICTURES]: lays out the user manual and writes it
// as PDF at build time; with PICTURES every page is also saved as PICTURES-<page>.png, for
// looking at the layout.

#include "ManualDocument.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTextDocument>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Fonts need a platform, and a build machine has no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: prismet-manual-writer MANUAL.md OUTPUT.pdf [PICTURES]\n");
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "prismet-manual-writer: cannot read %s\n", argv[1]);
        return 1;
    }
    const ManualDocument manual(QString::fromUtf8(source.readAll()));
    QString error;
    if (!manual.writePdf(QString::fromLocal8Bit(argv[2]), &error)) {
        std::fprintf(stderr, "prismet-manual-writer: %s\n", qPrintable(error));
        return 1;
    }
    for (int page = 0; argc > 3 && page < manual.pageCount(); ++page) {
        const QSizeF size = manual.document()->pageSize();
        QImage image(size.toSize(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.translate(0, -page * size.height());
        manual.document()->drawContents(&painter, QRectF(QPointF(0, page * size.height()), size));
        painter.end();
        image.save(QStringLiteral("%1-%2.png").arg(QString::fromLocal8Bit(argv[3])).arg(page + 1));
    }
    return 0;
}
