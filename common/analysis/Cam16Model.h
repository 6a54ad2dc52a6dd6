#pragma once

// The CAM16 colour appearance model for one fixed set of viewing conditions (D50 white, 20 %
// background, adapting luminance 31.83 cd/m², average surround, illuminant discounted), with
// CAM16-UCS coordinates. Plain C++: no Qt, so the engine-side tests use it too.

#include <optional>

struct Cam16Appearance {
    double J = 0.0;  // lightness
    double Q = 0.0;  // brightness
    double C = 0.0;  // chroma
    double M = 0.0;  // colourfulness
    double s = 0.0;  // saturation
    double h = 0.0;  // hue angle in degrees, 0..360
};

struct Cam16Ucs {
    double J = 0.0;  // J'
    double a = 0.0;  // a'
    double b = 0.0;  // b'
};

struct Cam16XYZ {
    double X = 0.0;
    double Y = 0.0;
    double Z = 0.0;
};

class Cam16Model
{
public:
    // Null when the conditions give a degenerate model (white, background or La not above 0).
    static std::optional<Cam16Model> create(const Cam16XYZ& white = {0.9642, 1.0, 0.8249}, double backgroundY = 0.2,
                                            double adaptingLuminance = 31.83);

    // XYZ on the white's scale (white Y = 1); empty when a compressed value is not finite.
    std::optional<Cam16Appearance> forward(const Cam16XYZ& xyz) const;
    // From lightness, colourfulness and hue angle back to XYZ; empty on a non-finite value.
    std::optional<Cam16XYZ> inverse(double J, double M, double h) const;

    static Cam16Ucs toUcs(const Cam16Appearance& appearance);
    // J, M and h of UCS coordinates (the other members are 0).
    static Cam16Appearance fromUcs(const Cam16Ucs& ucs);

    double fl() const { return fl_; }
    double aw() const { return aw_; }

private:
    Cam16Model() = default;

    double compress(double x) const;
    std::optional<double> decompress(double f) const;
    double p(double x) const;

    double scale_ = 1.0;
    double n_ = 0.2;
    double fl_ = 0.0;
    double z_ = 0.0;
    double nbb_ = 0.0;
    double d_[3] = {1.0, 1.0, 1.0};
    double upper_ = 150.0;
    double pLow_ = 0.0;    // P(0.26)
    double pUpper_ = 0.0;  // P(U)
    double slope_ = 0.0;   // P'(U)
    double aw_ = 0.0;
};
