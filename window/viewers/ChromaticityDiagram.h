#pragma once

#include <krm.h>

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QString>

#include <array>
#include <optional>

class QPainter;

// A triangle of three xy chromaticities. `highlight` marks vertices: -1 all three, 0..2 only that
// one, -2 none. An all-zero triangle is not drawn.
struct DiagramTriangle {
    QPointF red, green, blue;
    int highlight = -1;
    Qt::PenStyle style = Qt::SolidLine;
    QColor color = Qt::white;
};

// A circle around an xy chromaticity, with an optional label beside it.
struct DiagramPoint {
    QPointF xy;
    QString label;
    QColor color = Qt::white;
    double diameter = 12.0;
};

// The CIE 1931 xy chromaticity diagram: grid and axes, the spectral locus with the horseshoe filled
// with the screen colours of its chromaticities, wavelength labels, the Planckian locus, titles,
// triangles and points. Made for one paint; the raster part (titles, grid, locus, fill) can be
// kept by the caller while its key stays the same, since converting every pixel is the slow part.
class ChromaticityDiagram
{
public:
    // `toScreen` converts 16-bit XYZ to 8-bit screen RGB (xyz_to_screen_transform); borrowed, and
    // may be null (the horseshoe then stays unfilled).
    explicit ChromaticityDiagram(krmTransform toScreen = nullptr);

    QColor background;
    QColor grid;
    QString title;
    QColor titleColor;
    QString subtitle;
    QColor subtitleColor;
    QList<DiagramTriangle> triangles;
    QList<DiagramPoint> points;
    bool planckian = false;

    // Paints into a scene rectangle of width x height at the origin. `cache` and `cacheKey` keep
    // the raster part between paints; both may be null.
    void paint(QPainter* painter, int width, int height, QImage* cache = nullptr, QString* cacheKey = nullptr) const;

    // The raster part alone: background, titles, grid, axis labels, locus and fill.
    QImage render_base(int width, int height) const;
    // What render_base depends on besides the screen transform.
    QString base_key(int width, int height) const;

    // Top of the plot area for these titles (10, plus the title and text-line heights).
    int plot_top() const;
    // The pixel of a chromaticity for a scene of this size.
    QPoint to_pixel(double x, double y, int width, int height) const;
    // The chromaticity at a scene position, the inverse of to_pixel; nullopt outside the plot.
    std::optional<QPointF> from_pixel(const QPointF& position, int width, int height) const;

    // The CIE 1931 2° observer's spectrum locus, 380 to 700 nm in steps of 5 nm.
    static const std::array<QPointF, 65>& spectral_locus();
    static QPointF locus_point(int wavelength);
    // The Planckian locus at a temperature (1667 K to 25000 K), by the Kim et al. cubic fit.
    static QPointF planckian_xy(double kelvin);
    // The colour of the spectral locus line; the horseshoe fill searches for it.
    static QColor locus_color() { return QColor(111, 111, 111); }

private:
    QColor screen_color_of(double x, double y) const;
    void draw_titles(QPainter& painter, int width) const;
    void draw_grid(QPainter& painter, int width, int height) const;
    void draw_locus(QPainter& painter, int width, int height) const;
    void fill_horseshoe(QImage& image, int width, int height) const;
    void draw_wavelengths(QPainter& painter, int width, int height) const;
    void draw_planckian(QPainter& painter, int width, int height) const;
    void draw_triangles(QPainter& painter, int width, int height) const;
    void draw_points(QPainter& painter, int width, int height) const;

    krmTransform toScreen_ = nullptr;
};
