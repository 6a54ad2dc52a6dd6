// White points: daylight chromaticity from temperature, correlated colour temperature from a
// chromaticity, chromatic adaptation and RGB-to-XYZ matrices from primaries.
#include "krm_internal.h"

#include <cmath>

// Daylight locus (CIE 15:2004, 3.1), valid from 4000 K to 25000 K.
krmBool krmWhitePointFromTemp(krmCIExyY* WhitePoint, krmFloat64Number TempK)
{
    _krmAssert(WhitePoint != nullptr);

    const krmFloat64Number T = TempK;
    const krmFloat64Number T2 = T * T;
    const krmFloat64Number T3 = T2 * T;
    krmFloat64Number x;

    if (T >= 4000. && T <= 7000.) {
        x = -4.6070 * (1E9 / T3) + 2.9678 * (1E6 / T2) + 0.09911 * (1E3 / T) + 0.244063;
    } else if (T > 7000.0 && T <= 25000.) {
        x = -2.0064 * (1E9 / T3) + 1.9018 * (1E6 / T2) + 0.24748 * (1E3 / T) + 0.237040;
    } else {
        krmSignalError(nullptr, krmErrRange, "krmWhitePointFromTemp: invalid temp");
        return false;
    }

    const krmFloat64Number y = -3.000 * (x * x) + 2.870 * x - 0.275;

    WhitePoint->x = x;
    WhitePoint->y = y;
    WhitePoint->Y = 1.0;
    return true;
}

namespace {
// One isotemperature line: reciprocal temperature (mired), its point in CIE 1960 UCS, its slope.
struct ISOTEMPERATURE {
    krmFloat64Number mirek;
    krmFloat64Number ut;
    krmFloat64Number vt;
    krmFloat64Number tt;
};

// Robertson, "Computation of correlated color temperature and distribution temperature",
// JOSA 58 (1968), Table 1.
constexpr ISOTEMPERATURE isotempdata[] = {
    {0, 0.18006, 0.26352, -0.24341},
    {10, 0.18066, 0.26589, -0.25479},
    {20, 0.18133, 0.26846, -0.26876},
    {30, 0.18208, 0.27119, -0.28539},
    {40, 0.18293, 0.27407, -0.30470},
    {50, 0.18388, 0.27709, -0.32675},
    {60, 0.18494, 0.28021, -0.35156},
    {70, 0.18611, 0.28342, -0.37915},
    {80, 0.18740, 0.28668, -0.40955},
    {90, 0.18880, 0.28997, -0.44278},
    {100, 0.19032, 0.29326, -0.47888},
    {125, 0.19462, 0.30141, -0.58204},
    {150, 0.19962, 0.30921, -0.70471},
    {175, 0.20525, 0.31647, -0.84901},
    {200, 0.21142, 0.32312, -1.0182},
    {225, 0.21807, 0.32909, -1.2168},
    {250, 0.22511, 0.33439, -1.4512},
    {275, 0.23247, 0.33904, -1.7298},
    {300, 0.24010, 0.34308, -2.0637},
    {325, 0.24792, 0.34655, -2.4681},
    {350, 0.25591, 0.34951, -2.9641},
    {375, 0.26400, 0.35200, -3.5814},
    {400, 0.27218, 0.35407, -4.3633},
    {425, 0.28039, 0.35577, -5.3762},
    {450, 0.28863, 0.35714, -6.7262},
    {475, 0.29685, 0.35823, -8.5955},
    {500, 0.30505, 0.35907, -11.324},
    {525, 0.31320, 0.35968, -15.628},
    {550, 0.32129, 0.36011, -23.325},
    {575, 0.32931, 0.36038, -40.770},
    {600, 0.33724, 0.36051, -116.45},
};

constexpr int NISO = int(sizeof(isotempdata) / sizeof(isotempdata[0]));
}  // namespace

// Robertson's method: the temperature lies between the two isotemperature lines whose signed
// distances to the white change sign, interpolated in reciprocal temperature.
krmBool krmTempFromWhitePoint(krmFloat64Number* TempK, const krmCIExyY* WhitePoint)
{
    _krmAssert(TempK != nullptr);
    _krmAssert(WhitePoint != nullptr);

    const krmFloat64Number xs = WhitePoint->x;
    const krmFloat64Number ys = WhitePoint->y;

    // CIE 1960 UCS
    const krmFloat64Number h = 6 * ys - xs + 1.5;
    const krmFloat64Number us = (2 * xs) / h;
    const krmFloat64Number vs = (3 * ys) / h;

    krmFloat64Number dj = 0, mj = 0;
    for (int j = 0; j < NISO; j++) {
        const krmFloat64Number uj = isotempdata[j].ut;
        const krmFloat64Number vj = isotempdata[j].vt;
        const krmFloat64Number tj = isotempdata[j].tt;
        const krmFloat64Number mi = isotempdata[j].mirek;

        const krmFloat64Number di = ((vs - vj) - tj * (us - uj)) / std::sqrt(1.0 + tj * tj);

        if (j > 0) {
            // Exactly on a line: the quotient below would be infinite or undefined.
            if (di == 0.0) {
                *TempK = 1.0E6 / mi;
                return true;
            }
            if ((dj / di) < 0.0) {
                *TempK = 1.0E6 / (mj + (dj / (dj - di)) * (mi - mj));
                return true;
            }
        }

        dj = di;
        mj = mi;
    }

    return false;
}

const krmMAT3* krmBradfordMatrix(void)
{
    static const krmMAT3 Bradford = {{{{0.8951, 0.2664, -0.1614}},
                                      {{-0.7502, 1.7135, 0.0367}},
                                      {{0.0389, -0.0685, 1.0296}}}};
    return &Bradford;
}

// Von Kries scaling in the cone space of ConeMatrix: M^-1 * diag(D / S) * M.
krmBool krmAdaptationMatrix(krmMAT3* r, const krmMAT3* ConeMatrix, const krmCIEXYZ* FromIll, const krmCIEXYZ* ToIll)
{
    _krmAssert(r != nullptr);
    _krmAssert(FromIll != nullptr);
    _krmAssert(ToIll != nullptr);

    if (ConeMatrix == nullptr) ConeMatrix = krmBradfordMatrix();

    krmMAT3 Inverse;
    if (!krmMAT3Inverse(ConeMatrix, &Inverse)) return false;

    krmVEC3 SourceXYZ, DestXYZ, SourceRGB, DestRGB;
    krmVEC3init(&SourceXYZ, FromIll->X, FromIll->Y, FromIll->Z);
    krmVEC3init(&DestXYZ, ToIll->X, ToIll->Y, ToIll->Z);
    krmMAT3Eval(&SourceRGB, ConeMatrix, &SourceXYZ);
    krmMAT3Eval(&DestRGB, ConeMatrix, &DestXYZ);

    for (int i = 0; i < 3; i++)
        if (!(std::fabs(SourceRGB.n[i]) >= krmMATRIX_DET_TOLERANCE)) return false;

    krmMAT3 Cone;
    krmVEC3init(&Cone.v[0], DestRGB.n[0] / SourceRGB.n[0], 0.0, 0.0);
    krmVEC3init(&Cone.v[1], 0.0, DestRGB.n[1] / SourceRGB.n[1], 0.0);
    krmVEC3init(&Cone.v[2], 0.0, 0.0, DestRGB.n[2] / SourceRGB.n[2]);

    krmMAT3 Tmp;
    krmMAT3Multiply(&Tmp, &Cone, ConeMatrix);
    krmMAT3Multiply(r, &Inverse, &Tmp);
    return true;
}

krmBool krmBuildRGB2XYZMatrix(krmMAT3* r, const krmCIExyY* WhitePt, const krmCIExyYTRIPLE* Primrs)
{
    _krmAssert(r != nullptr);
    _krmAssert(WhitePt != nullptr);
    _krmAssert(Primrs != nullptr);

    const krmFloat64Number xn = WhitePt->x, yn = WhitePt->y;
    const krmFloat64Number xr = Primrs->Red.x, yr = Primrs->Red.y;
    const krmFloat64Number xg = Primrs->Green.x, yg = Primrs->Green.y;
    const krmFloat64Number xb = Primrs->Blue.x, yb = Primrs->Blue.y;

    krmMAT3 Primaries;
    krmVEC3init(&Primaries.v[0], xr, xg, xb);
    krmVEC3init(&Primaries.v[1], yr, yg, yb);
    krmVEC3init(&Primaries.v[2], (1 - xr - yr), (1 - xg - yg), (1 - xb - yb));

    krmMAT3 Result;
    if (!krmMAT3Inverse(&Primaries, &Result)) return false;

    // A white of Y = 1 has no meaning without its chromaticity's y.
    if (yn == 0.0) return false;

    krmVEC3 WhitePoint, Coef;
    krmVEC3init(&WhitePoint, xn / yn, 1.0, (1.0 - xn - yn) / yn);
    krmMAT3Eval(&Coef, &Result, &WhitePoint);

    krmMAT3 Unadapted;
    krmVEC3init(&Unadapted.v[0], Coef.n[0] * xr, Coef.n[1] * xg, Coef.n[2] * xb);
    krmVEC3init(&Unadapted.v[1], Coef.n[0] * yr, Coef.n[1] * yg, Coef.n[2] * yb);
    krmVEC3init(&Unadapted.v[2], Coef.n[0] * (1.0 - xr - yr), Coef.n[1] * (1.0 - xg - yg),
                Coef.n[2] * (1.0 - xb - yb));

    // Chromatic adaptation of the source white to D50.
    const krmCIExyY White1 = {xn, yn, 1.0};
    krmCIEXYZ Dn;
    krmxyY2XYZ(&Dn, &White1);

    krmMAT3 Bradford;
    if (!krmAdaptationMatrix(&Bradford, nullptr, &Dn, krmD50_XYZ())) return false;

    krmMAT3Multiply(r, &Bradford, &Unadapted);
    return true;
}
