// Colour-space maths: XYZ, xyY, L*a*b* and L*C*h conversions, the 16-bit PCS encodings, colour
// differences and the channel counts of colour spaces.
#include "krm_internal.h"

#include <cmath>

// ---------------------------------------------------------------------------------------------
// D50
// ---------------------------------------------------------------------------------------------

const krmCIEXYZ* krmD50_XYZ(void)
{
    static const krmCIEXYZ D50XYZ = {krmD50X, krmD50Y, krmD50Z};
    return &D50XYZ;
}

const krmCIExyY* krmD50_xyY(void)
{
    static const krmCIExyY D50xyY = [] {
        krmCIExyY r;
        krmXYZ2xyY(&r, krmD50_XYZ());
        return r;
    }();
    return &D50xyY;
}

// ---------------------------------------------------------------------------------------------
// XYZ, xyY, Lab, LCh
// ---------------------------------------------------------------------------------------------

// CIE 1976 companding with delta = 6/29: cube root above delta^3, a line below it.
static krmFloat64Number f(krmFloat64Number t)
{
    const krmFloat64Number Limit = (24.0 / 116.0) * (24.0 / 116.0) * (24.0 / 116.0);
    if (t <= Limit) return (841.0 / 108.0) * t + (16.0 / 116.0);
    return std::pow(t, 1.0 / 3.0);
}

static krmFloat64Number f_1(krmFloat64Number t)
{
    const krmFloat64Number Limit = (24.0 / 116.0);
    if (t <= Limit) return (108.0 / 841.0) * (t - (16.0 / 116.0));
    return t * t * t;
}

void krmXYZ2Lab(const krmCIEXYZ* WhitePoint, krmCIELab* Lab, const krmCIEXYZ* xyz)
{
    _krmAssert(Lab != nullptr);
    _krmAssert(xyz != nullptr);
    if (WhitePoint == nullptr) WhitePoint = krmD50_XYZ();

    const krmFloat64Number fx = f(xyz->X / WhitePoint->X);
    const krmFloat64Number fy = f(xyz->Y / WhitePoint->Y);
    const krmFloat64Number fz = f(xyz->Z / WhitePoint->Z);

    Lab->L = 116.0 * fy - 16.0;
    Lab->a = 500.0 * (fx - fy);
    Lab->b = 200.0 * (fy - fz);
}

void krmLab2XYZ(const krmCIEXYZ* WhitePoint, krmCIEXYZ* xyz, const krmCIELab* Lab)
{
    _krmAssert(Lab != nullptr);
    _krmAssert(xyz != nullptr);
    if (WhitePoint == nullptr) WhitePoint = krmD50_XYZ();

    const krmFloat64Number fy = (Lab->L + 16.0) / 116.0;
    const krmFloat64Number fx = fy + 0.002 * Lab->a;
    const krmFloat64Number fz = fy - 0.005 * Lab->b;

    xyz->X = f_1(fx) * WhitePoint->X;
    xyz->Y = f_1(fy) * WhitePoint->Y;
    xyz->Z = f_1(fz) * WhitePoint->Z;
}

void krmXYZ2xyY(krmCIExyY* Dest, const krmCIEXYZ* Source)
{
    _krmAssert(Dest != nullptr);
    _krmAssert(Source != nullptr);
    const krmFloat64Number ISum = 1.0 / (Source->X + Source->Y + Source->Z);
    Dest->x = Source->X * ISum;
    Dest->y = Source->Y * ISum;
    Dest->Y = Source->Y;
}

void krmxyY2XYZ(krmCIEXYZ* Dest, const krmCIExyY* Source)
{
    _krmAssert(Dest != nullptr);
    _krmAssert(Source != nullptr);
    Dest->X = (Source->x / Source->y) * Source->Y;
    Dest->Y = Source->Y;
    Dest->Z = ((1.0 - Source->x - Source->y) / Source->y) * Source->Y;
}

krmFloat64Number krmAtan2Deg(krmFloat64Number b, krmFloat64Number a)
{
    krmFloat64Number h;
    if (a == 0 && b == 0)
        h = 0;
    else
        h = std::atan2(b, a);

    h *= (180.0 / M_PI);
    while (h > 360.0) h -= 360.0;
    while (h < 0) h += 360.0;
    return h;
}

void krmLab2LCh(krmCIELCh* LCh, const krmCIELab* Lab)
{
    _krmAssert(LCh != nullptr);
    _krmAssert(Lab != nullptr);
    LCh->L = Lab->L;
    LCh->C = std::pow(Lab->a * Lab->a + Lab->b * Lab->b, 0.5);
    LCh->h = krmAtan2Deg(Lab->b, Lab->a);
}

void krmLCh2Lab(krmCIELab* Lab, const krmCIELCh* LCh)
{
    _krmAssert(LCh != nullptr);
    _krmAssert(Lab != nullptr);
    const krmFloat64Number h = (LCh->h * M_PI) / 180.0;
    Lab->L = LCh->L;
    Lab->a = LCh->C * std::cos(h);
    Lab->b = LCh->C * std::sin(h);
}

// ---------------------------------------------------------------------------------------------
// Colour differences
// ---------------------------------------------------------------------------------------------

krmFloat64Number krmDeltaE(const krmCIELab* Lab1, const krmCIELab* Lab2)
{
    const krmFloat64Number dL = std::fabs(Lab1->L - Lab2->L);
    const krmFloat64Number da = std::fabs(Lab1->a - Lab2->a);
    const krmFloat64Number db = std::fabs(Lab1->b - Lab2->b);
    return std::sqrt(dL * dL + da * da + db * db);
}

static krmFloat64Number Sqr(krmFloat64Number v)
{
    return v * v;
}

static krmFloat64Number Rad(krmFloat64Number deg)
{
    return (deg * M_PI) / 180.0;
}

// CIEDE2000 (Sharma, Wu and Dalal 2005), angles in degrees.
krmFloat64Number krmCIEDE2000(const krmCIELab* Lab1, const krmCIELab* Lab2, krmFloat64Number Kl, krmFloat64Number Kc,
                              krmFloat64Number Kh)
{
    const krmFloat64Number L1 = Lab1->L, a1 = Lab1->a, b1 = Lab1->b;
    const krmFloat64Number L2 = Lab2->L, a2 = Lab2->a, b2 = Lab2->b;

    const krmFloat64Number C1 = std::sqrt(Sqr(a1) + Sqr(b1));
    const krmFloat64Number C2 = std::sqrt(Sqr(a2) + Sqr(b2));
    const krmFloat64Number meanC7 = std::pow((C1 + C2) / 2.0, 7.0);
    const krmFloat64Number G = 0.5 * (1.0 - std::sqrt(meanC7 / (meanC7 + std::pow(25.0, 7.0))));

    const krmFloat64Number a1p = (1.0 + G) * a1;
    const krmFloat64Number a2p = (1.0 + G) * a2;
    const krmFloat64Number C1p = std::sqrt(Sqr(a1p) + Sqr(b1));
    const krmFloat64Number C2p = std::sqrt(Sqr(a2p) + Sqr(b2));
    const krmFloat64Number h1p = krmAtan2Deg(b1, a1p);
    const krmFloat64Number h2p = krmAtan2Deg(b2, a2p);

    krmFloat64Number dhp = h2p - h1p;
    krmFloat64Number hsum = h1p + h2p;
    if (std::fabs(dhp) > 180.000001) {
        if (hsum < 360.0)
            hsum += 360.0;
        else
            hsum -= 360.0;
    }
    if (dhp <= -180.000001)
        dhp += 360.0;
    else if (dhp > 180.0)
        dhp -= 360.0;
    const krmFloat64Number meanHp = hsum / 2.0;

    const krmFloat64Number dHp = 2.0 * std::sqrt(C1p * C2p) * std::sin(Rad(dhp) / 2.0);

    const krmFloat64Number meanL = (L1 + L2) / 2.0;
    const krmFloat64Number SL = 1.0 + (0.015 * Sqr(meanL - 50.0)) / std::sqrt(20.0 + Sqr(meanL - 50.0));
    const krmFloat64Number dLp = L2 - L1;

    const krmFloat64Number meanCp = (C1p + C2p) / 2.0;
    const krmFloat64Number SC = 1.0 + 0.045 * meanCp;
    const krmFloat64Number dCp = C2p - C1p;

    const krmFloat64Number T = 1.0 - 0.17 * std::cos(Rad(meanHp - 30.0)) + 0.24 * std::cos(Rad(2.0 * meanHp)) +
                               0.32 * std::cos(Rad(3.0 * meanHp + 6.0)) - 0.20 * std::cos(Rad(4.0 * meanHp - 63.0));
    const krmFloat64Number SH = 1.0 + 0.015 * meanCp * T;

    const krmFloat64Number dTheta = 30.0 * std::exp(-Sqr((meanHp - 275.0) / 25.0));
    const krmFloat64Number meanCp7 = std::pow(meanCp, 7.0);
    const krmFloat64Number RC = 2.0 * std::sqrt(meanCp7 / (meanCp7 + std::pow(25.0, 7.0)));
    const krmFloat64Number RT = -std::sin(Rad(2.0 * dTheta)) * RC;

    const krmFloat64Number l = dLp / (SL * Kl);
    const krmFloat64Number c = dCp / (SC * Kc);
    const krmFloat64Number h = dHp / (SH * Kh);

    return std::sqrt(Sqr(l) + Sqr(c) + Sqr(h) + RT * c * h);
}

// ---------------------------------------------------------------------------------------------
// 16-bit encodings
// ---------------------------------------------------------------------------------------------

static krmFloat64Number Clamp(krmFloat64Number v, krmFloat64Number lo, krmFloat64Number hi)
{
    if (v < lo) return lo;
    if (v > hi) return hi;
    return v;
}

// Version 4: L* 0..100 on 0..65535; a*, b* -128..127 on 0..65535 (ICC.1:2010 6.3.4.2).
void krmFloat2LabEncoded(krmUInt16Number wLab[3], const krmCIELab* Lab)
{
    const krmFloat64Number L = Clamp(Lab->L, 0.0, 100.0);
    const krmFloat64Number a = Clamp(Lab->a, krmMIN_ENCODEABLE_ab4, krmMAX_ENCODEABLE_ab4);
    const krmFloat64Number b = Clamp(Lab->b, krmMIN_ENCODEABLE_ab4, krmMAX_ENCODEABLE_ab4);

    wLab[0] = krmQuickSaturateWord(L * 655.35);
    wLab[1] = krmQuickSaturateWord((a + 128.0) * 257.0);
    wLab[2] = krmQuickSaturateWord((b + 128.0) * 257.0);
}

void krmLabEncoded2Float(krmCIELab* Lab, const krmUInt16Number wLab[3])
{
    Lab->L = wLab[0] / 655.35;
    Lab->a = (wLab[1] / 257.0) - 128.0;
    Lab->b = (wLab[2] / 257.0) - 128.0;
}

// Version 2 (legacy, ICC.1:2001-04 A.3): L* 0..100 on 0..0xFF00, a* and b* in steps of 1/256.
void krmFloat2LabEncodedV2(krmUInt16Number wLab[3], const krmCIELab* Lab)
{
    const krmFloat64Number L = Clamp(Lab->L, 0.0, 0xFFFF * 100.0 / 0xFF00);
    const krmFloat64Number a = Clamp(Lab->a, krmMIN_ENCODEABLE_ab2, krmMAX_ENCODEABLE_ab2);
    const krmFloat64Number b = Clamp(Lab->b, krmMIN_ENCODEABLE_ab2, krmMAX_ENCODEABLE_ab2);

    wLab[0] = krmQuickSaturateWord(L * 652.8);
    wLab[1] = krmQuickSaturateWord((a + 128.0) * 256.0);
    wLab[2] = krmQuickSaturateWord((b + 128.0) * 256.0);
}

void krmLabEncoded2FloatV2(krmCIELab* Lab, const krmUInt16Number wLab[3])
{
    Lab->L = wLab[0] / 652.8;
    Lab->a = (wLab[1] / 256.0) - 128.0;
    Lab->b = (wLab[2] / 256.0) - 128.0;
}

// XYZ as u1Fixed15: 0 to 1 + 32767/32768 (ICC.1:2010 6.3.4.3).
void krmFloat2XYZEncoded(krmUInt16Number XYZ[3], const krmCIEXYZ* fXYZ)
{
    krmCIEXYZ xyz = *fXYZ;

    // Nothing without luminance can be encoded meaningfully: store black.
    if (xyz.Y <= 0) {
        xyz.X = 0;
        xyz.Y = 0;
        xyz.Z = 0;
    }

    xyz.X = Clamp(xyz.X, 0.0, krmMAX_ENCODEABLE_XYZ);
    xyz.Y = Clamp(xyz.Y, 0.0, krmMAX_ENCODEABLE_XYZ);
    xyz.Z = Clamp(xyz.Z, 0.0, krmMAX_ENCODEABLE_XYZ);

    XYZ[0] = krmQuickSaturateWord(xyz.X * 32768.0);
    XYZ[1] = krmQuickSaturateWord(xyz.Y * 32768.0);
    XYZ[2] = krmQuickSaturateWord(xyz.Z * 32768.0);
}

void krmXYZEncoded2Float(krmCIEXYZ* fXYZ, const krmUInt16Number XYZ[3])
{
    fXYZ->X = XYZ[0] / 32768.0;
    fXYZ->Y = XYZ[1] / 32768.0;
    fXYZ->Z = XYZ[2] / 32768.0;
}

// ---------------------------------------------------------------------------------------------
// Channel counts and end points
// ---------------------------------------------------------------------------------------------

namespace {
struct SpaceChannels {
    krmColorSpaceSignature Space;
    krmInt32Number Channels;
};

// ICC.1:2010 Table 19, plus the MCHn / nCLR families.
constexpr SpaceChannels ChannelTable[] = {
    {krmSig("GRAY"), 1}, {krmSig("MCH1"), 1}, {krmSig("1CLR"), 1},
    {krmSig("MCH2"), 2}, {krmSig("2CLR"), 2},
    {krmSig("CMY "), 3}, {krmSig("HLS "), 3}, {krmSig("HSV "), 3}, {krmSig("Lab "), 3}, {krmSig("Luv "), 3},
    {krmSig("RGB "), 3}, {krmSig("XYZ "), 3}, {krmSig("YCbr"), 3}, {krmSig("Yxy "), 3}, {krmSig("MCH3"), 3},
    {krmSig("3CLR"), 3},
    {krmSig("CMYK"), 4}, {krmSig("LuvK"), 4}, {krmSig("MCH4"), 4}, {krmSig("4CLR"), 4},
    {krmSig("MCH5"), 5}, {krmSig("5CLR"), 5}, {krmSig("MCH6"), 6}, {krmSig("6CLR"), 6},
    {krmSig("MCH7"), 7}, {krmSig("7CLR"), 7}, {krmSig("MCH8"), 8}, {krmSig("8CLR"), 8},
    {krmSig("MCH9"), 9}, {krmSig("9CLR"), 9}, {krmSig("MCHA"), 10}, {krmSig("ACLR"), 10},
    {krmSig("MCHB"), 11}, {krmSig("BCLR"), 11}, {krmSig("MCHC"), 12}, {krmSig("CCLR"), 12},
    {krmSig("MCHD"), 13}, {krmSig("DCLR"), 13}, {krmSig("MCHE"), 14}, {krmSig("ECLR"), 14},
    {krmSig("MCHF"), 15}, {krmSig("FCLR"), 15},
};
}  // namespace

krmInt32Number krmChannelsOfColorSpace(krmColorSpaceSignature ColorSpace)
{
    for (const SpaceChannels& e : ChannelTable)
        if (e.Space == ColorSpace) return e.Channels;
    return -1;
}

krmUInt32Number krmChannelsOf(krmColorSpaceSignature ColorSpace)
{
    const krmInt32Number n = krmChannelsOfColorSpace(ColorSpace);
    return n < 0 ? 3 : krmUInt32Number(n);
}

krmBool krmEndPointsBySpace(krmColorSpaceSignature Space, const krmUInt16Number** White, const krmUInt16Number** Black,
                            krmUInt32Number* nOutputs)
{
    static const krmUInt16Number RGBwhite[] = {0xFFFF, 0xFFFF, 0xFFFF};
    static const krmUInt16Number RGBblack[] = {0, 0, 0};
    static const krmUInt16Number CMYKwhite[] = {0, 0, 0, 0};
    static const krmUInt16Number CMYKblack[] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    static const krmUInt16Number LABwhite[] = {0xFFFF, 0x8080, 0x8080};
    static const krmUInt16Number LABblack[] = {0, 0x8080, 0x8080};
    static const krmUInt16Number CMYwhite[] = {0, 0, 0};
    static const krmUInt16Number CMYblack[] = {0xFFFF, 0xFFFF, 0xFFFF};
    static const krmUInt16Number GRAYwhite[] = {0xFFFF};
    static const krmUInt16Number GRAYblack[] = {0};

    const krmUInt16Number* w;
    const krmUInt16Number* b;
    krmUInt32Number n;

    if (Space == krmSig("GRAY")) {
        w = GRAYwhite, b = GRAYblack, n = 1;
    } else if (Space == krmSig("RGB ")) {
        w = RGBwhite, b = RGBblack, n = 3;
    } else if (Space == krmSig("Lab ")) {
        w = LABwhite, b = LABblack, n = 3;
    } else if (Space == krmSig("CMYK")) {
        w = CMYKwhite, b = CMYKblack, n = 4;
    } else if (Space == krmSig("CMY ")) {
        w = CMYwhite, b = CMYblack, n = 3;
    } else {
        return false;
    }

    if (White) *White = w;
    if (Black) *Black = b;
    if (nOutputs) *nOutputs = n;
    return true;
}
