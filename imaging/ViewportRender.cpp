#include "imaging/ViewportRender.h"

#include <cmath>
#include <cstring>

namespace {

int image_index(double position, int limit)
{
    const double f = std::floor(position);
    return f >= 0 && f < limit ? int(f) : -1;
}

// One viewport line from one image line: colours, then alpha (the image's, or opaque). Written
// per sample type and channel count so that the copy of each pixel is a few moves, not a call.
template <typename T, int Colors, bool Alpha>
void gather_line(const uchar* from, uchar* to, const int* columns, int first, int last)
{
    const auto* in = reinterpret_cast<const T*>(from);
    auto* out = reinterpret_cast<T*>(to);
    constexpr int stored = Colors + (Alpha ? 1 : 0);
    for (int x = first; x <= last; ++x) {
        const int column = columns[x];
        if (column < 0)
            continue;
        const T* p = in + qsizetype(column) * stored;
        T* q = out + qsizetype(x) * (Colors + 1);
        for (int c = 0; c < Colors; ++c)
            q[c] = p[c];
        q[Colors] = Alpha ? p[Colors] : T(~T(0));
    }
}

using GatherFn = void (*)(const uchar*, uchar*, const int*, int, int);

template <typename T, bool Alpha>
GatherFn gather_for_colors(int colors)
{
    switch (colors) {
    case 1: return gather_line<T, 1, Alpha>;
    case 3: return gather_line<T, 3, Alpha>;
    case 4: return gather_line<T, 4, Alpha>;
    default: return nullptr;
    }
}

GatherFn gather_for(const RasterImage& image)
{
    if (image.bytesPerSample == 2)
        return image.alpha ? gather_for_colors<quint16, true>(image.colorChannels)
                           : gather_for_colors<quint16, false>(image.colorChannels);
    return image.alpha ? gather_for_colors<quint8, true>(image.colorChannels)
                       : gather_for_colors<quint8, false>(image.colorChannels);
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
    // Background samples are converted too and painted over afterwards: no need to clear them.
    samples_.resize(size_t(inLine) * size_t(h));
    columns_.resize(size_t(w));
    int firstColumn = w, lastColumn = -1;
    for (int x = 0; x < w; ++x) {
        columns_[size_t(x)] = image_index(viewToImage.m11() * (x + 0.5) + viewToImage.dx(), image.width);
        if (columns_[size_t(x)] >= 0) {
            firstColumn = std::min(firstColumn, x);
            lastColumn = x;
        }
    }
    const GatherFn gather = gather_for(image);
    if (!gather) {
        out.fill(Qt::black);
        return;
    }
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
        gather(image.scanLine(row), to, columns_.data(), firstColumn, lastColumn);
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
