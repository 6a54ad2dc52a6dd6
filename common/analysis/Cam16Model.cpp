#include "common/analysis/Cam16Model.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSurroundC = 0.69;  // average surround
constexpr double kNc = 1.0;
constexpr double kDegree = 1.0;  // the illuminant is discounted
constexpr double kLowerLimit = 0.26;

using Matrix = double[3][3];

constexpr Matrix kM16 = {{0.401288, 0.650173, -0.051461},
                         {-0.250268, 1.204414, 0.045854},
                         {-0.002079, 0.048952, 0.953127}};

void multiply(const Matrix& m, const double in[3], double out[3])
{
    for (int r = 0; r < 3; ++r)
        out[r] = m[r][0] * in[0] + m[r][1] * in[1] + m[r][2] * in[2];
}

// The inverse of M16, computed once by cofactors.
struct InverseM16 {
    double m[3][3];
    InverseM16()
    {
        const auto& a = kM16;
        const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1])
                           - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0])
                           + a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
        m[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det;
        m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
        m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
        m[1][0] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det;
        m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
        m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
        m[2][0] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det;
        m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
        m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
    }
};

const InverseM16& inverse_m16()
{
    static const InverseM16 inverse;
    return inverse;
}

bool positive_finite(double v)
{
    return std::isfinite(v) && v > 0.0;
}

double eccentricity(double hueDegrees)
{
    return (std::cos(hueDegrees * kPi / 180.0 + 2.0) + 3.8) / 4.0;
}

}  // namespace

std::optional<Cam16Model> Cam16Model::create(const Cam16XYZ& white, double backgroundY, double adaptingLuminance)
{
    if (!(white.Y > 0.0) || !(backgroundY > 0.0) || !(adaptingLuminance > 0.0))
        return std::nullopt;
    Cam16Model model;
    model.scale_ = 100.0 / white.Y;
    model.n_ = backgroundY / white.Y;
    const double la = adaptingLuminance;
    const double k = 1.0 / (5.0 * la + 1.0);
    const double k4 = k * k * k * k;
    model.fl_ = k4 * la + 0.1 * (1.0 - k4) * (1.0 - k4) * std::cbrt(5.0 * la);
    model.z_ = 1.48 + std::sqrt(model.n_);
    model.nbb_ = 0.725 * std::pow(model.n_, -0.2);

    const double scaledWhite[3] = {model.scale_ * white.X, 100.0, model.scale_ * white.Z};
    double rgbw[3];
    multiply(kM16, scaledWhite, rgbw);
    double adapted[3];
    for (int i = 0; i < 3; ++i) {
        model.d_[i] = (100.0 / rgbw[i] - 1.0) * kDegree + 1.0;
        adapted[i] = model.d_[i] * rgbw[i];
        if (!positive_finite(adapted[i]))
            return std::nullopt;
    }
    model.upper_ = std::max({150.0, adapted[0], adapted[1], adapted[2]});
    model.pLow_ = model.p(kLowerLimit);
    model.pUpper_ = model.p(model.upper_);
    const double u = std::pow(model.fl_ * model.upper_ / 100.0, 0.42);
    model.slope_ = 45.5784 * model.fl_ * std::pow(model.fl_ * model.upper_ / 100.0, -0.58) / ((u + 27.13) * (u + 27.13));
    if (!positive_finite(model.pLow_) || !positive_finite(model.slope_))
        return std::nullopt;

    model.aw_ = (2.0 * model.compress(adapted[0]) + model.compress(adapted[1]) + 0.05 * model.compress(adapted[2]) - 0.305)
                * model.nbb_;
    if (!positive_finite(model.aw_))
        return std::nullopt;
    return model;
}

double Cam16Model::p(double x) const
{
    const double v = std::pow(fl_ * x / 100.0, 0.42);
    return 400.0 * v / (v + 27.13);
}

// Response compression extended linearly below 0.26 and above U, so that negative and very
// large cone responses stay invertible.
double Cam16Model::compress(double x) const
{
    if (x < kLowerLimit)
        return pLow_ * x / kLowerLimit + 0.1;
    if (x > upper_)
        return pUpper_ + (x - upper_) * slope_ + 0.1;
    return p(x) + 0.1;
}

std::optional<double> Cam16Model::decompress(double f) const
{
    const double y = f - 0.1;
    double x;
    if (y > pUpper_)
        x = upper_ + (y - pUpper_) / slope_;
    else if (y >= pLow_)
        x = (100.0 / fl_) * std::pow(27.13 * y / (400.0 - y), 1.0 / 0.42);
    else
        x = kLowerLimit * y / pLow_;
    if (!std::isfinite(x))
        return std::nullopt;
    return x;
}

std::optional<Cam16Appearance> Cam16Model::forward(const Cam16XYZ& xyz) const
{
    const double scaled[3] = {scale_ * xyz.X, scale_ * xyz.Y, scale_ * xyz.Z};
    double rgb[3];
    multiply(kM16, scaled, rgb);
    double ra[3];
    for (int i = 0; i < 3; ++i) {
        ra[i] = compress(d_[i] * rgb[i]);
        if (!std::isfinite(ra[i]))
            return std::nullopt;
    }

    Cam16Appearance out;
    const double a = ra[0] - 12.0 * ra[1] / 11.0 + ra[2] / 11.0;
    const double b = (ra[0] + ra[1] - 2.0 * ra[2]) / 9.0;
    double h = std::atan2(b, a) * 180.0 / kPi;
    if (h < 0.0)
        h += 360.0;
    if (h >= 360.0)
        h -= 360.0;
    out.h = h;

    const double achromatic = (2.0 * ra[0] + ra[1] + 0.05 * ra[2] - 0.305) * nbb_;
    if (!positive_finite(achromatic))
        return out;
    out.J = 100.0 * std::pow(achromatic / aw_, kSurroundC * z_);
    out.Q = (4.0 / kSurroundC) * std::sqrt(out.J / 100.0) * (aw_ + 4.0) * std::pow(fl_, 0.25);

    const double d = ra[0] + ra[1] + 1.05 * ra[2];
    if (!positive_finite(d))
        return out;
    const double t = (50000.0 / 13.0) * kNc * nbb_ * eccentricity(h) * std::sqrt(a * a + b * b) / d;
    if (!positive_finite(t))
        return out;
    const double alpha = std::pow(t, 0.9) * std::pow(1.64 - std::pow(0.29, n_), 0.73);
    out.C = alpha * std::sqrt(out.J / 100.0);
    out.M = out.C * std::pow(fl_, 0.25);
    out.s = 50.0 * std::sqrt(alpha * kSurroundC / (aw_ + 4.0));
    return out;
}

std::optional<Cam16XYZ> Cam16Model::inverse(double J, double M, double h) const
{
    if (J <= 0.0)
        return Cam16XYZ{};
    const double C = M / std::pow(fl_, 0.25);
    const double alpha = C / std::sqrt(J / 100.0);
    const double t = std::pow(alpha * std::pow(1.64 - std::pow(0.29, n_), -0.73), 1.0 / 0.9);
    const double achromatic = aw_ * std::pow(J / 100.0, 1.0 / (kSurroundC * z_));
    const double p2 = achromatic / nbb_ + 0.305;
    const double p3 = 21.0 / 20.0;

    double a = 0.0;
    double b = 0.0;
    if (positive_finite(t)) {
        const double p1 = (50000.0 / 13.0) * kNc * nbb_ * eccentricity(h) / t;
        const double hr = h * kPi / 180.0;
        const double sh = std::sin(hr);
        const double ch = std::cos(hr);
        if (std::fabs(sh) >= std::fabs(ch)) {
            b = p2 * (2.0 + p3) * (460.0 / 1403.0)
                / (p1 / sh + (2.0 + p3) * (220.0 / 1403.0) * (ch / sh) - 27.0 / 1403.0 + p3 * (6300.0 / 1403.0));
            a = b * ch / sh;
        } else {
            a = p2 * (2.0 + p3) * (460.0 / 1403.0)
                / (p1 / ch + (2.0 + p3) * (220.0 / 1403.0) - (27.0 / 1403.0 - p3 * (6300.0 / 1403.0)) * (sh / ch));
            b = a * sh / ch;
        }
    }

    const double compressed[3] = {(460.0 * p2 + 451.0 * a + 288.0 * b) / 1403.0,
                                  (460.0 * p2 - 891.0 * a - 261.0 * b) / 1403.0,
                                  (460.0 * p2 - 220.0 * a - 6300.0 * b) / 1403.0};
    double rgb[3];
    for (int i = 0; i < 3; ++i) {
        const std::optional<double> x = decompress(compressed[i]);
        if (!x)
            return std::nullopt;
        rgb[i] = *x / d_[i];
    }
    double xyz[3];
    multiply(inverse_m16().m, rgb, xyz);
    const Cam16XYZ out{xyz[0] / scale_, xyz[1] / scale_, xyz[2] / scale_};
    if (!std::isfinite(out.X) || !std::isfinite(out.Y) || !std::isfinite(out.Z))
        return std::nullopt;
    return out;
}

Cam16Ucs Cam16Model::toUcs(const Cam16Appearance& appearance)
{
    const double mPrime = std::log(1.0 + 0.0228 * appearance.M) / 0.0228;
    const double hr = appearance.h * kPi / 180.0;
    return {1.7 * appearance.J / (1.0 + 0.007 * appearance.J), mPrime * std::cos(hr), mPrime * std::sin(hr)};
}

Cam16Appearance Cam16Model::fromUcs(const Cam16Ucs& ucs)
{
    Cam16Appearance out;
    out.J = ucs.J / (1.7 - 0.007 * ucs.J);
    out.M = (std::exp(0.0228 * std::hypot(ucs.a, ucs.b)) - 1.0) / 0.0228;
    double h = std::atan2(ucs.b, ucs.a) * 180.0 / kPi;
    if (h < 0.0)
        h += 360.0;
    out.h = h;
    return out;
}
