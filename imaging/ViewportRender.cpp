#include "imaging/ViewportRender.h"

#include <cmath>
#include <cstring>

namespace {

int image_index(double position, int limit)
{
    const double f = std::floor(position);
    return f >= 0 && f < limit ? int(f) : -1;
}

} // namespace

void ViewportRenderer::render(const RasterImage& image, krmTransform transform, const QTransform& viewToImage,
                              const QSize& size, QImage& out)
{
    if (out.size() != size || out.format() != QImage::Format_ARGB32)
        out = QImage(size, QImage::Format_ARGB32);
    if (size.isEmpty())
        return;
    if (image.isNull() || !transform) {
        out.fill(Qt::black);
        return;
    }
    const int w = size.width();
    const int h = size.height();
    const int bps = image.bytesPerSample;
    const int colorBytes = image.colorChannels * bps;
    const int inPixel = colorBytes + bps;  // colours and one alpha sample
    const qsizetype inLine = qsizetype(w) * inPixel;
    samples_.assign(size_t(inLine) * size_t(h), 0);
    columns_.resize(size_t(w));
    int firstColumn = w, lastColumn = -1;
    for (int x = 0; x < w; ++x) {
        columns_[size_t(x)] = image_index(viewToImage.m11() * (x + 0.5) + viewToImage.dx(), image.width);
        if (columns_[size_t(x)] >= 0) {
            firstColumn = std::min(firstColumn, x);
            lastColumn = x;
        }
    }
    const quint16 opaque16 = 0xFFFF;
    std::vector<int> rows(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) {
        const int row = image_index(viewToImage.m22() * (y + 0.5) + viewToImage.dy(), image.height);
        rows[size_t(y)] = row;
        if (row < 0 || lastColumn < 0)
            continue;
        uchar* to = samples_.data() + qsizetype(y) * inLine;
        if (y > 0 && rows[size_t(y) - 1] == row) {  // zoomed in: the line above is the same
            std::memcpy(to, to - inLine, size_t(inLine));
            continue;
        }
        const uchar* from = image.scanLine(row);
        const int stored = image.bytesPerPixel();
        for (int x = firstColumn; x <= lastColumn; ++x) {
            const int column = columns_[size_t(x)];
            if (column < 0)
                continue;
            uchar* p = to + qsizetype(x) * inPixel;
            std::memcpy(p, from + qsizetype(column) * stored, size_t(image.alpha ? stored : colorBytes));
            if (!image.alpha) {
                if (bps == 1)
                    p[colorBytes] = 0xFF;
                else
                    std::memcpy(p + colorBytes, &opaque16, 2);
            }
        }
    }
    krmDoTransformLineStride(transform, samples_.data(), out.bits(), krmUInt32Number(w), krmUInt32Number(h),
                             krmUInt32Number(inLine), krmUInt32Number(out.bytesPerLine()), 0, 0);
    // What lies outside the picture is the view's black background.
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        if (rows[size_t(y)] < 0 || lastColumn < 0) {
            std::fill(line, line + w, qRgb(0, 0, 0));
            continue;
        }
        for (int x = 0; x < w; ++x)
            if (columns_[size_t(x)] < 0)
                line[x] = qRgb(0, 0, 0);
    }
}
