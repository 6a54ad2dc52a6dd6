// QA130: the colorimetric tags against each other: the chromatic adaptation must take the media
// white to D50, and a matrix-shaper's colorants must add up to its white. Each tag can be valid
// on its own and the profile still wrong.

#include "common/audit/AuditTestBase.h"
#include "common/signatures/Signatures.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kTolerance = 0.002;

krmVEC3 vec(const krmCIEXYZ& xyz)
{
    krmVEC3 v;
    v.n[0] = xyz.X;
    v.n[1] = xyz.Y;
    v.n[2] = xyz.Z;
    return v;
}

double distance(const krmVEC3& a, const krmVEC3& b)
{
    return std::max({std::fabs(a.n[0] - b.n[0]), std::fabs(a.n[1] - b.n[1]), std::fabs(a.n[2] - b.n[2])});
}

QString xyzText(const krmVEC3& v)
{
    return QStringLiteral("(%1, %2, %3)").arg(v.n[0], 0, 'f', 4).arg(v.n[1], 0, 'f', 4).arg(v.n[2], 0, 'f', 4);
}

class plausibility_test : public AuditTestBase {
    Q_DECLARE_TR_FUNCTIONS(plausibility_test)

public:
    int qaNumber() const override { return 130; }
    QString testName() const override { return tr("Colorimetric plausibility"); }
    bool appliesTo(krmProfile profile) override
    {
        return krmIsTag(profile, krmSig("chad")) || krmIsTag(profile, krmSig("rXYZ"));
    }

    void runTest(krmProfile profile) override
    {
        d50_ = vec(*krmD50_XYZ());
        const auto* white = static_cast<const krmCIEXYZ*>(krmReadTag(profile, krmSig("wtpt")));
        hasWhite_ = white != nullptr;
        if (white)
            white_ = vec(*white);
        checkAdaptation(profile);
        checkColorants(profile);
    }

private:
    // The media white as stored is either the measured white (version 2 practice) or already
    // adapted to D50 (version 4). For the first, 'chad' must take it to D50; for the second,
    // the white that 'chad' takes to D50 must at least be a white: Y 1, X and Z positive.
    void checkAdaptation(krmProfile profile)
    {
        const auto* chad = static_cast<const krmFloat64Number*>(krmReadTag(profile, krmSig("chad")));
        if (!chad)
            return;
        krmMAT3 m;
        for (int i = 0; i < 9; ++i)
            m.v[i / 3].n[i % 3] = chad[i];
        if (hasWhite_ && distance(white_, d50_) > kTolerance) {
            krmVEC3 adapted;
            krmMAT3Eval(&adapted, &m, &white_);
            if (distance(adapted, d50_) > kTolerance)
                addFinding("CHAD-WHITE", AuditError, tr("Chromatic adaptation does not reach D50"),
                           tr("'chad' takes the media white %1 to %2, not to D50 %3 (tolerance %4).")
                               .arg(xyzText(white_), xyzText(adapted), xyzText(d50_))
                               .arg(kTolerance),
                           signatureText(krmSig("chad")));
            return;
        }
        krmMAT3 inverse;
        krmVEC3 source;
        const bool invertible = krmMAT3Inverse(&m, &inverse);
        if (invertible)
            krmMAT3Eval(&source, &inverse, &d50_);
        if (!invertible || std::fabs(source.n[1] - 1.0) > kTolerance || !(source.n[0] > 0) || !(source.n[2] > 0))
            addFinding("CHAD-WHITE", AuditError, tr("Chromatic adaptation does not reach D50"),
                       invertible ? tr("'chad' takes %1 to D50 %2; no source white has that value (Y must be 1, X "
                                       "and Z positive).")
                                        .arg(xyzText(source), xyzText(d50_))
                                  : tr("'chad' cannot be inverted, so no source white maps to D50."),
                       signatureText(krmSig("chad")));
    }

    // The colorants are PCS-relative, so full RGB lands on D50; some version 2 writers sum them to
    // the measured white instead, which is accepted there.
    void checkColorants(krmProfile profile)
    {
        krmVEC3 sum = {{0, 0, 0}};
        for (krmTagSignature sig : {krmSig("rXYZ"), krmSig("gXYZ"), krmSig("bXYZ")}) {
            const auto* c = static_cast<const krmCIEXYZ*>(krmReadTag(profile, sig));
            if (!c)
                return;
            sum.n[0] += c->X;
            sum.n[1] += c->Y;
            sum.n[2] += c->Z;
        }
        const bool version2 = krmGetProfileVersion(profile) < 4.0;
        if (distance(sum, d50_) <= kTolerance || (version2 && hasWhite_ && distance(sum, white_) <= kTolerance))
            return;
        addFinding("COLORANT-SUM", AuditWarning, tr("Colorants do not add up to the white point"),
                   tr("rXYZ + gXYZ + bXYZ is %1, but full RGB must give the PCS white D50 %2 (tolerance %3): white "
                      "would not reproduce as white.")
                       .arg(xyzText(sum), xyzText(d50_))
                       .arg(kTolerance),
                   QStringLiteral("rXYZ gXYZ bXYZ"));
    }

    krmVEC3 d50_{};
    krmVEC3 white_{};
    bool hasWhite_ = false;
};

plausibility_test g_plausibilityTest;
const AuditTestRegistration g_plausibilityRegistration(&g_plausibilityTest, 4);

} // namespace
