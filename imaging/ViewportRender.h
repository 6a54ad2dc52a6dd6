#pragma once

// The display conversion of what an image view shows: every viewport pixel takes the image
// pixel under its centre (nearest sample, so that at 1:1 the painted pixels are exactly the
// transform's output for the image's own samples), and the whole viewport goes through the
// transform in one call. Pixels outside the image are opaque black.

#include "imaging/RasterImage.h"

#include <QImage>
#include <QTransform>

#include <vector>

class ViewportRenderer {
public:
    // `transform` converts the image's samples plus one alpha sample (RasterImage::engineFormat
    // with alpha) to krmFmtBGRA8 with the alpha copied. `viewToImage` maps viewport coordinates to
    // image pixel coordinates (scale and translation only). `out` is resized to `size` as ARGB32.
    void render(const RasterImage& image, krmTransform transform, const QTransform& viewToImage, const QSize& size,
                QImage& out);

private:
    std::vector<int> columns_;  // image column of each viewport column, -1 outside
    std::vector<uchar> samples_;
};
