// QA110: rendering-intent links of version 4 profiles, the channel counts of the LUT tags, and
// the black point of the perceptual and saturation round trips.

#include "common/audit/AuditTestBase.h"
#include "common/audit/RawProfile.h"
#include "common/signatures/Signatures.h"

#include <QCoreApplication>

#include <cmath>
#include <initializer_list>

namespace {

constexpr double kBlackTolerance = 0.1;  // L*

struct LutTag {
    krmTagSignature signature;
    const char* name;
    bool toPcs;  // device to PCS (AToB) or PCS to device (BToA)
};

const LutTag kLutTags[] = {
    {krmSig("A2B0"), "AToB0", true},  {krmSig("A2B1"), "AToB1", true},  {krmSig("A2B2"), "AToB2", true},
    {krmSig("B2A0"), "BToA0", false}, {krmSig("B2A1"), "BToA1", false}, {krmSig("B2A2"), "BToA2", false},
};

QString lutName(krmTagSignature signature)
{
    for (const LutTag& t : kLutTags)
        if (t.signature == signature)
            return QString::fromLatin1(t.name);
    return QStringLiteral("unknown");
}

// Perceptual and relative-colorimetric data of one direction may not be shared in version 4.
bool isForbiddenLink(krmTagSignature tag, krmTagSignature target)
{
    const krmTagSignature a0 = krmSig("A2B0"), a1 = krmSig("A2B1"), b0 = krmSig("B2A0"), b1 = krmSig("B2A1");
    return (tag == a0 && target == a1) || (tag == a1 && target == a0) || (tag == b0 && target == b1) ||
           (tag == b1 && target == b0);
}

class intent_channels_test : public AuditTestBase {
    Q_DECLARE_TR_FUNCTIONS(intent_channels_test)

public:
    int qaNumber() const override { return 110; }
    QString testName() const override { return tr("Intent channels and linking"); }

    bool appliesTo(krmProfile profile) override
    {
        const krmProfileClassSignature c = krmGetProfileClass(profile);
        const bool lutClass = c == krmSig("mntr") || c == krmSig("prtr") || c == krmSig("scnr") || c == krmSig("spac");
        return lutClass && !krmIsMatrixShaper(profile);
    }

    void runTest(krmProfile profile) override
    {
        raw_ = RawProfile::read(profile);
        const bool v4 = krmGetProfileVersion(profile) >= 4.0;
        if (v4)
            checkLinks(profile);
        checkChannels(profile);
        if (v4) {
            checkBlackPoint(profile, 0, tr("Perceptual"));
            // Without saturation tables the engine uses the perceptual ones: the same round trip.
            if (hasAnyTag(profile, {krmSig("A2B2"), krmSig("B2A2"), krmSig("D2B2"), krmSig("B2D2")}))
                checkBlackPoint(profile, 2, tr("Saturation"));
        }
        raw_ = RawProfile();  // the file's bytes are not kept between runs
    }

private:
    static bool hasAnyTag(krmProfile profile, std::initializer_list<krmTagSignature> tags)
    {
        for (krmTagSignature t : tags)
            if (krmIsTag(profile, t))
                return true;
        return false;
    }

    void checkLinks(krmProfile profile)
    {
        for (const LutTag& t : kLutTags) {
            if (!krmIsTag(profile, t.signature))
                continue;
            const krmTagSignature target = krmTagLinkedTo(profile, t.signature);
            if (!isForbiddenLink(t.signature, target))
                continue;
            addFinding("LUT-LINK", AuditError, tr("Invalid rendering intent link"),
                       QString::fromLatin1(t.name) + tr(" is linked to ") + lutName(target) +
                           tr(". In ICC v4 profiles, perceptual intent data cannot be shared with "
                              "relative-colorimetric intent data.") + raw_.dataPlace(t.signature),
                       signatureText(t.signature));
        }
    }

    void checkChannels(krmProfile profile)
    {
        const krmColorSpaceSignature space = krmGetProfileColorSpace(profile);
        const krmUInt32Number device = krmChannelsOf(space);
        const krmUInt32Number pcs = krmChannelsOf(krmGetProfilePCS(profile));
        for (const LutTag& t : kLutTags) {
            if (!krmIsTag(profile, t.signature))
                continue;
            // Strict reading hands out only the LUT types these tags allow: a pipeline.
            const auto* lut = static_cast<const krmPipeline*>(krmReadTag(profile, t.signature));
            if (!lut)
                continue;
            const krmUInt32Number in = krmPipelineInputChannels(lut);
            const krmUInt32Number out = krmPipelineOutputChannels(lut);
            const krmUInt32Number wantIn = t.toPcs ? device : pcs;
            const krmUInt32Number wantOut = t.toPcs ? pcs : device;
            if (in == wantIn && out == wantOut)
                continue;
            addFinding("LUT-CHANNELS", AuditError, tr("Invalid pipeline channel count"),
                       tr("%1 has %2 input chans and %3 output chans, but %4 input chans and %5 output chans are "
                          "required by %6 color space.")
                           .arg(QString::fromLatin1(t.name))
                           .arg(in)
                           .arg(out)
                           .arg(wantIn)
                           .arg(wantOut)
                           .arg(colorSpaceName(space)) + raw_.dataPlace(t.signature),
                       signatureText(t.signature));
        }
    }

    // Black through PCS -> device -> PCS must not come back darker than black.
    void checkBlackPoint(krmProfile profile, krmUInt32Number intent, const QString& intentWord)
    {
        const krmContext context = krmGetProfileContext(profile);
        const krmProfile lab = krmCreateLab4Profile(context, nullptr);
        if (!lab)
            return;
        krmProfile chain[4] = {lab, profile, profile, lab};
        const krmTransform transform = krmCreateMultiprofileTransform(
            context, chain, 4, krmFmtLabDouble, krmFmtLabDouble, intent, krmFlagNoCache | krmFlagNoOptimize);
        if (transform) {
            const krmCIELab black = {0.0, 0.0, 0.0};
            krmCIELab result = {0.0, 0.0, 0.0};
            krmDoTransform(transform, &black, &result, 1);
            krmDeleteTransform(transform);
            // A table that honours the reference medium comes back within the rounding of its
            // grid (ghostscript's ps_cmyk.icc: L* -0.02); one that does not, by L* 1 to 3.
            if (std::isnan(result.L) || result.L < -kBlackTolerance)
                addFinding("BLACK-POINT", AuditWarning, tr("Inconsistent black point scaling"),
                           intentWord + tr(" round trip from PCS indicates inconsistent black point scaling."),
                           intentWord + tr(" V4 PCS"));
        }
        krmCloseProfile(lab);
    }

    RawProfile raw_;
};

intent_channels_test g_intentChannelsTest;
const AuditTestRegistration g_intentChannelsRegistration(&g_intentChannelsTest, 1);

} // namespace
