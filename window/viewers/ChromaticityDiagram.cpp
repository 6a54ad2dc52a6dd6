#include "window/viewers/ChromaticityDiagram.h"

#include "window/widgets/ChannelVocabulary.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <vector>

namespace {

constexpr int kLeft = 42;
constexpr int kBottom = 22;
constexpr int kFirstWavelength = 380;
constexpr int kWavelengthStep = 5;

// CIE 1931 2° standard observer, chromaticity of the spectrum colours (CIE 15:2004, table T.4).
const std::array<QPointF, 65> kLocus = {{
    {0.1741, 0.0050}, {0.1740, 0.0050}, {0.1738, 0.0049}, {0.1736, 0.0049}, {0.1733, 0.0048},  // 380-400
    {0.1730, 0.0048}, {0.1726, 0.0048}, {0.1721, 0.0048}, {0.1714, 0.0051}, {0.1703, 0.0058},  // 405-425
    {0.1689, 0.0069}, {0.1669, 0.0086}, {0.1644, 0.0109}, {0.1611, 0.0138}, {0.1566, 0.0177},  // 430-450
    {0.1510, 0.0227}, {0.1440, 0.0297}, {0.1355, 0.0399}, {0.1241, 0.0578}, {0.1096, 0.0868},  // 455-475
    {0.0913, 0.1327}, {0.0687, 0.2007}, {0.0454, 0.2950}, {0.0235, 0.4127}, {0.0082, 0.5384},  // 480-500
    {0.0039, 0.6548}, {0.0139, 0.7502}, {0.0389, 0.8120}, {0.0743, 0.8338}, {0.1142, 0.8262},  // 505-525
    {0.1547, 0.8059}, {0.1929, 0.7816}, {0.2296, 0.7543}, {0.2658, 0.7243}, {0.3016, 0.6923},  // 530-550
    {0.3373, 0.6589}, {0.3731, 0.6245}, {0.4087, 0.5896}, {0.4441, 0.5547}, {0.4788, 0.5202},  // 555-575
    {0.5125, 0.4866}, {0.5448, 0.4544}, {0.5752, 0.4242}, {0.6029, 0.3965}, {0.6270, 0.3725},  // 580-600
    {0.6482, 0.3514}, {0.6658, 0.3340}, {0.6801, 0.3197}, {0.6915, 0.3083}, {0.7006, 0.2993},  // 605-625
    {0.7079, 0.2920}, {0.7140, 0.2859}, {0.7190, 0.2809}, {0.7230, 0.2770}, {0.7260, 0.2740},  // 630-650
    {0.7283, 0.2717}, {0.7300, 0.2700}, {0.7311, 0.2689}, {0.7320, 0.2680}, {0.7327, 0.2673},  // 655-675
    {0.7334, 0.2666}, {0.7340, 0.2660}, {0.7344, 0.2656}, {0.7346, 0.2654}, {0.7347, 0.2653},  // 680-700
}};

QFont font(const QString& family, int points, bool bold = false)
{
    QFont f(family, points);
    f.setBold(bold);
    return f;
}

QFont title_font() { return font(QStringLiteral("Arial"), 27, true); }
QFont subtitle_font() { return font(QStringLiteral("Arial"), 16); }
QFont axis_font() { return font(QStringLiteral("Arial"), 9); }

QFont default_font(int points, bool bold = false)
{
    QFont f;
    f.setPointSize(points);
    f.setBold(bold);
    return f;
}

// Metrics as the off-screen image measures them, whatever the screen's resolution.
QFontMetrics image_metrics(const QFont& f)
{
    static const QImage device(1, 1, QImage::Format_RGB32);
    return QFontMetrics(f, &device);
}

QString tenth(int i)
{
    return i == 0 ? QStringLiteral("0") : QStringLiteral("0.%1").arg(i);
}

bool all_zero(const DiagramTriangle& t)
{
    return t.red.isNull() && t.green.isNull() && t.blue.isNull();
}

}  // namespace

ChromaticityDiagram::ChromaticityDiagram(krmTransform toScreen)
    : background(Qt::black), grid(grid_color()), titleColor(Qt::white), subtitleColor(Qt::white), toScreen_(toScreen)
{
}

const std::array<QPointF, 65>& ChromaticityDiagram::spectral_locus()
{
    return kLocus;
}

QPointF ChromaticityDiagram::locus_point(int wavelength)
{
    const int index = std::clamp((wavelength - kFirstWavelength) / kWavelengthStep, 0, int(kLocus.size()) - 1);
    return kLocus[std::size_t(index)];
}

QPointF ChromaticityDiagram::planckian_xy(double t)
{
    const double t2 = t * t;
    const double t3 = t2 * t;
    const double x = t <= 4000.0 ? -0.2661239e9 / t3 - 0.2343589e6 / t2 + 0.8776956e3 / t + 0.179910
                                 : -3.0258469e9 / t3 + 2.1070379e6 / t2 + 0.2226347e3 / t + 0.240390;
    const double x2 = x * x;
    const double x3 = x2 * x;
    double y = 0.0;
    if (t <= 2222.0)
        y = -1.1063814 * x3 - 1.34811020 * x2 + 2.18555832 * x - 0.20219683;
    else if (t <= 4000.0)
        y = -0.9549476 * x3 - 1.37418593 * x2 + 2.09137015 * x - 0.16748867;
    else
        y = 3.0817580 * x3 - 5.87338670 * x2 + 3.75112997 * x - 0.37001483;
    return {x, y};
}

int ChromaticityDiagram::plot_top() const
{
    int top = 10;
    if (!title.isEmpty())
        top += image_metrics(title_font()).height() + 6;
    if (!subtitle.isEmpty())
        top += image_metrics(subtitle_font()).height() + 4;
    return top;
}

QPoint ChromaticityDiagram::to_pixel(double x, double y, int width, int height) const
{
    const int top = plot_top();
    const int plotWidth = width - kLeft;
    const int plotHeight = height - top - kBottom;
    return {kLeft + int(std::floor((plotWidth - 1) * x + 0.5)), top + int(std::floor((plotHeight - 1) * (1.0 - y) + 0.5))};
}

std::optional<QPointF> ChromaticityDiagram::from_pixel(const QPointF& position, int width, int height) const
{
    const int top = plot_top();
    const int plotWidth = width - kLeft;
    const int plotHeight = height - top - kBottom;
    if (plotWidth < 2 || plotHeight < 2)
        return std::nullopt;
    const double x = (position.x() - kLeft) / (plotWidth - 1);
    const double y = 1.0 - (position.y() - top) / (plotHeight - 1);
    if (x < 0.0 || x > 1.0 || y < 0.0 || y > 1.0)
        return std::nullopt;
    return QPointF(x, y);
}

QColor ChromaticityDiagram::screen_color_of(double x, double y) const
{
    if (!toScreen_)
        return QColor(128, 128, 128);
    const krmCIEXYZ xyz{x, y, 1.0 - x - y};
    krmUInt16Number words[3] = {};
    krmFloat2XYZEncoded(words, &xyz);
    krmUInt8Number rgb[3] = {};
    krmDoTransform(toScreen_, words, rgb, 1);
    return QColor(rgb[0], rgb[1], rgb[2]);
}

QString ChromaticityDiagram::base_key(int width, int height) const
{
    return QStringLiteral("%1x%2|%3|%4|%5|%6|%7|%8")
        .arg(width)
        .arg(height)
        .arg(background.name(), grid.name(), title, titleColor.name(), subtitle, subtitleColor.name());
}

QImage ChromaticityDiagram::render_base(int width, int height) const
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(background);
    {
        QPainter painter(&image);
        draw_titles(painter, width);
        draw_grid(painter, width, height);
        draw_locus(painter, width, height);
    }
    fill_horseshoe(image, width, height);
    return image;
}

void ChromaticityDiagram::draw_titles(QPainter& painter, int width) const
{
    int titleBottom = 8;
    if (!title.isEmpty()) {
        const QFontMetrics metrics = image_metrics(title_font());
        painter.setFont(title_font());
        painter.setPen(titleColor);
        painter.drawText(QPoint((width - metrics.horizontalAdvance(title)) / 2, metrics.height() + 8), title);
        titleBottom = metrics.height() + 12;
    }
    if (!subtitle.isEmpty()) {
        const QFontMetrics metrics = image_metrics(subtitle_font());
        painter.setFont(subtitle_font());
        painter.setPen(subtitleColor);
        painter.drawText(QPoint((width - metrics.horizontalAdvance(subtitle)) / 2, titleBottom + metrics.height()),
                         subtitle);
    }
}

void ChromaticityDiagram::draw_grid(QPainter& painter, int width, int height) const
{
    painter.setPen(QPen(grid, 1));
    for (int i = 0; i <= 8; ++i)
        painter.drawLine(to_pixel(i / 10.0, 0.0, width, height), to_pixel(i / 10.0, 0.9, width, height));
    for (int i = 0; i <= 9; ++i)
        painter.drawLine(to_pixel(0.0, i / 10.0, width, height), to_pixel(0.8, i / 10.0, width, height));

    painter.setFont(axis_font());
    const QFontMetrics metrics = image_metrics(axis_font());
    for (int i = 0; i <= 8; ++i) {
        const QPoint at = to_pixel(i / 10.0, 0.0, width, height);
        painter.drawLine(at, at + QPoint(0, 4));
        const QString text = tenth(i);
        painter.drawText(QPoint(at.x() - metrics.horizontalAdvance(text) / 2, at.y() + 14), text);
    }
    for (int i = 0; i <= 9; ++i) {
        const QPoint at = to_pixel(0.0, i / 10.0, width, height);
        painter.drawLine(at, at - QPoint(4, 0));
        const QString text = tenth(i);
        painter.drawText(QPoint(at.x() - 4 - 2 - metrics.horizontalAdvance(text),
                                at.y() + (metrics.ascent() - metrics.descent()) / 2),
                         text);
    }
}

void ChromaticityDiagram::draw_locus(QPainter& painter, int width, int height) const
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(locus_color(), 1));
    for (std::size_t i = 0; i < kLocus.size(); ++i) {
        const QPointF& from = kLocus[i];
        const QPointF& to = kLocus[(i + 1) % kLocus.size()];  // the last segment is the purple line
        painter.drawLine(to_pixel(from.x(), from.y(), width, height), to_pixel(to.x(), to.y(), width, height));
    }
}

void ChromaticityDiagram::fill_horseshoe(QImage& image, int width, int height) const
{
    if (!toScreen_)
        return;
    const int top = plot_top();
    const int plotWidth = width - kLeft;
    const int plotHeight = height - top - kBottom;
    if (plotWidth < 2 || plotHeight < 2)
        return;
    const QRgb locus = locus_color().rgb();
    std::vector<krmUInt16Number> words;
    std::vector<krmUInt8Number> rgb;
    for (int row = top; row < top + plotHeight && row < height; ++row) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
        int left = -1;
        int right = -1;
        for (int column = kLeft; column < width; ++column) {
            if ((line[column] & 0xFFFFFFu) == (locus & 0xFFFFFFu)) {
                if (left < 0)
                    left = column;
                right = column;
            }
        }
        if (left < 0 || right - left < 2)
            continue;
        // One call per row converts the same values as one call per pixel.
        const int count = right - left - 1;
        words.resize(std::size_t(count) * 3);
        rgb.resize(std::size_t(count) * 3);
        const double y = 1.0 - double(row - top) / (plotHeight - 1);
        for (int i = 0; i < count; ++i) {
            const double x = double(left + 1 + i - kLeft) / (plotWidth - 1);
            const krmCIEXYZ xyz{x, y, 1.0 - x - y};
            krmFloat2XYZEncoded(&words[std::size_t(i) * 3], &xyz);
        }
        krmDoTransform(toScreen_, words.data(), rgb.data(), krmUInt32Number(count));
        for (int i = 0; i < count; ++i) {
            const krmUInt8Number* p = &rgb[std::size_t(i) * 3];
            line[left + 1 + i] = qRgb(p[0], p[1], p[2]);
        }
    }
}

void ChromaticityDiagram::draw_wavelengths(QPainter& painter, int width, int height) const
{
    painter.setFont(font(QStringLiteral("Arial"), 8));
    const int lightness = background.lightness() < 128 ? 140 : 90;
    for (int lambda = 450; lambda <= 650; lambda += 5) {
        if (lambda > 470 && lambda < 600 && lambda % 10 != 0)
            continue;
        const QPointF xy = locus_point(lambda);
        const QPoint at = to_pixel(xy.x(), xy.y(), width, height);
        QPoint tick;
        QPoint text;
        if (lambda < 520) {
            tick = QPoint(-2, 0);
            text = QPoint(-22, 2);
        } else if (lambda < 535) {
            tick = QPoint(0, -2);
            text = QPoint(-8, -6);
        } else {
            tick = QPoint(2, -1);
            text = QPoint(4, 0);
        }
        const QColor fill = screen_color_of(xy.x(), xy.y());
        const QColor color = QColor::fromHsl(fill.hslHue(), fill.hslSaturation(), lightness);
        painter.setPen(QPen(color, 1));
        painter.drawLine(at + tick, at + tick * 3);
        painter.drawText(at + text, QString::number(lambda));
    }
}

void ChromaticityDiagram::draw_planckian(QPainter& painter, int width, int height) const
{
    QPainterPath path;
    for (int t = 1667; t <= 25000; t += 200) {
        const QPointF xy = planckian_xy(t);
        const QPoint at = to_pixel(xy.x(), xy.y(), width, height);
        if (t == 1667)
            path.moveTo(at);
        else
            path.lineTo(at);
    }
    painter.setPen(QPen(QColor(255, 200, 100), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

void ChromaticityDiagram::draw_triangles(QPainter& painter, int width, int height) const
{
    const QColor red = is_dark_palette() ? QColor(255, 140, 140) : QColor(110, 0, 0);
    const QColor vertexColors[3] = {red, QColor(0, 120, 0), QColor(80, 220, 220)};
    const QString vertexNames[3] = {QStringLiteral("R"), QStringLiteral("G"), QStringLiteral("B")};
    for (const DiagramTriangle& triangle : triangles) {
        if (all_zero(triangle))
            continue;
        const QPointF xy[3] = {triangle.red, triangle.green, triangle.blue};
        QPoint at[3];
        for (int i = 0; i < 3; ++i)
            at[i] = to_pixel(xy[i].x(), xy[i].y(), width, height);
        painter.setPen(QPen(triangle.color, 2, triangle.style));
        painter.setBrush(Qt::NoBrush);
        for (int i = 0; i < 3; ++i)
            painter.drawLine(at[i], at[(i + 1) % 3]);
        painter.setFont(default_font(20, true));
        for (int i = 0; i < 3; ++i) {
            if (triangle.highlight != -1 && triangle.highlight != i)
                continue;
            painter.setPen(QPen(vertexColors[i], 4));
            painter.drawEllipse(QPointF(at[i]), 6.0, 6.0);
            painter.drawText(at[i] + QPoint(12, -12), vertexNames[i]);
        }
    }
}

void ChromaticityDiagram::draw_points(QPainter& painter, int width, int height) const
{
    painter.setFont(default_font(9));
    painter.setBrush(Qt::NoBrush);
    for (const DiagramPoint& point : points) {
        const QPoint at = to_pixel(point.xy.x(), point.xy.y(), width, height);
        painter.setPen(QPen(point.color, 2));
        painter.drawEllipse(QPointF(at), point.diameter / 2, point.diameter / 2);
        if (!point.label.isEmpty())
            painter.drawText(QPointF(at) + QPointF(point.diameter, -point.diameter), point.label);
    }
}

void ChromaticityDiagram::paint(QPainter* painter, int width, int height, QImage* cache, QString* cacheKey) const
{
    QImage base;
    const QString key = cacheKey ? base_key(width, height) : QString();
    if (cache && cacheKey && *cacheKey == key && !cache->isNull()) {
        base = *cache;
    } else {
        base = render_base(width, height);
        if (cache && cacheKey) {
            *cache = base;
            *cacheKey = key;
        }
    }
    painter->save();
    painter->drawImage(QPoint(0, 0), base);
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setRenderHint(QPainter::TextAntialiasing, true);
    draw_wavelengths(*painter, width, height);
    if (planckian)
        draw_planckian(*painter, width, height);
    draw_triangles(*painter, width, height);
    draw_points(*painter, width, height);
    painter->restore();
}
