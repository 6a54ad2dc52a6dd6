// QA100: the tags each profile class requires, and public tags whose use the class does not
// define.

#include "common/audit/AuditTestBase.h"
#include "common/audit/RawProfile.h"
#include "common/signatures/Signatures.h"

#include <QCoreApplication>

#include <algorithm>
#include <initializer_list>

namespace {

constexpr krmTagSignature kLuts[] = {krmSig("A2B0"), krmSig("A2B1"), krmSig("A2B2"),
                                     krmSig("B2A0"), krmSig("B2A1"), krmSig("B2A2")};
constexpr krmTagSignature kMatrixShaper[] = {krmSig("rXYZ"), krmSig("gXYZ"), krmSig("bXYZ"),
                                             krmSig("rTRC"), krmSig("gTRC"), krmSig("bTRC")};
constexpr krmTagSignature kGray = krmSig("kTRC");
constexpr krmTagSignature kGamut = krmSig("gamt");

// '2CLR' to 'FCLR' and 'MCH1' to 'MCHF'; a single colorant ('1CLR') is not an n-colorant space.
bool isNColorant(krmColorSpaceSignature space)
{
    auto digit = [](char c, char lowest) { return (c >= lowest && c <= '9') || (c >= 'A' && c <= 'F'); };
    const char first = char(space >> 24), last = char(space & 0xFF);
    if ((space & 0x00FFFFFFu) == (krmSig("1CLR") & 0x00FFFFFFu))
        return digit(first, '2');
    if ((space & 0xFFFFFF00u) == (krmSig("MCH1") & 0xFFFFFF00u))
        return digit(last, '1');
    return false;
}

template <typename Range>
bool contains(const Range& range, krmTagSignature sig)
{
    return std::find(std::begin(range), std::end(range), sig) != std::end(range);
}

class required_tags_test : public AuditTestBase {
    Q_DECLARE_TR_FUNCTIONS(required_tags_test)

public:
    int qaNumber() const override { return 100; }
    QString testName() const override { return tr("Required tags"); }
    bool appliesTo(krmProfile) override { return true; }

    void runTest(krmProfile profile) override
    {
        raw_ = RawProfile::read(profile);
        requireClassTags(profile);
        checkApplicability(profile);
        raw_ = RawProfile();  // the file's bytes are not kept between runs
    }

private:
    void requireTag(krmProfile profile, krmTagSignature sig)
    {
        if (krmIsTag(profile, sig))
            return;
        // In the directory but dropped by the engine: the integrity test says why (cut off).
        if (raw_.find(sig))
            return;
        // A system uses the intent-0 table in place of a missing intent-specific one, and does
        // without a gamut tag: the profile still works, so the gap is information.
        krmTagSignature standIn = 0;
        if (sig == krmSig("A2B1") || sig == krmSig("A2B2"))
            standIn = krmSig("A2B0");
        else if (sig == krmSig("B2A1") || sig == krmSig("B2A2"))
            standIn = krmSig("B2A0");
        if (standIn && krmIsTag(profile, standIn)) {
            addFinding("TAG-MISSING-INTENT", AuditInformation, tr("Required tag is missing"),
                       tr("The profile does not contain the required %1 tag; colour management systems use %2 in its "
                          "place.")
                           .arg(tagName(sig), tagName(standIn)),
                       signatureText(sig));
            return;
        }
        if (sig == kGamut) {
            addFinding("TAG-MISSING-GAMUT", AuditInformation, tr("Required tag is missing"),
                       tr("The profile does not contain the required %1 tag; gamut warnings for this profile cannot "
                          "use it.")
                           .arg(tagName(sig)),
                       signatureText(sig));
            return;
        }
        addFinding("TAG-MISSING", AuditError, tr("Required tag is missing"),
                   tr("The profile does not contain the required %1 tag.").arg(tagName(sig)), signatureText(sig));
    }

    void requireTags(krmProfile profile, std::initializer_list<krmTagSignature> tags)
    {
        for (krmTagSignature sig : tags)
            requireTag(profile, sig);
    }

    // Input and display classes: a gray curve, the matrix-shaper set, or LUTs.
    void requireDeviceTags(krmProfile profile, std::initializer_list<krmTagSignature> luts)
    {
        requireTag(profile, krmSig("wtpt"));
        if (krmGetProfileColorSpace(profile) == krmSig("GRAY"))
            requireTag(profile, kGray);
        else if (krmIsMatrixShaper(profile))
            for (krmTagSignature sig : kMatrixShaper)
                requireTag(profile, sig);
        else
            requireTags(profile, luts);
    }

    void requireClassTags(krmProfile profile)
    {
        requireTags(profile, {krmSig("desc"), krmSig("cprt")});
        const krmProfileClassSignature c = krmGetProfileClass(profile);
        const bool nColorant = isNColorant(krmGetProfileColorSpace(profile));
        if (c == krmSig("scnr")) {
            requireDeviceTags(profile, {krmSig("A2B0")});
        } else if (c == krmSig("mntr")) {
            requireDeviceTags(profile, {krmSig("A2B0"), krmSig("B2A0")});
        } else if (c == krmSig("prtr")) {
            requireTag(profile, krmSig("wtpt"));
            if (krmGetProfileColorSpace(profile) == krmSig("GRAY")) {
                requireTag(profile, kGray);
            } else {
                for (krmTagSignature sig : kLuts)
                    requireTag(profile, sig);
                requireTag(profile, kGamut);
                if (nColorant)
                    requireTag(profile, krmSig("clrt"));
            }
        } else if (c == krmSig("link")) {
            requireTags(profile, {krmSig("pseq"), krmSig("A2B0")});
            if (nColorant)
                requireTag(profile, krmSig("clrt"));
            if (isNColorant(krmGetProfilePCS(profile)))
                requireTag(profile, krmSig("clot"));
        } else if (c == krmSig("abst")) {
            requireTags(profile, {krmSig("wtpt"), krmSig("A2B0")});
        } else if (c == krmSig("spac")) {
            requireTags(profile, {krmSig("wtpt"), krmSig("A2B0"), krmSig("B2A0")});
        } else if (c == krmSig("nmcl")) {
            requireTags(profile, {krmSig("wtpt"), krmSig("ncl2")});
        }
    }

    static bool isApplicable(krmProfileClassSignature c, bool gray, krmTagSignature sig)
    {
        if (c == krmSig("abst") || c == krmSig("link"))
            return sig == krmSig("A2B0");
        if (c == krmSig("mntr") || c == krmSig("scnr"))
            return contains(kLuts, sig) || sig == kGamut || (gray ? sig == kGray : contains(kMatrixShaper, sig));
        if (c == krmSig("prtr"))
            return contains(kLuts, sig) || sig == (gray ? kGray : kGamut);
        if (c == krmSig("spac"))
            return contains(kLuts, sig) || sig == kGamut;
        return false;
    }

    void checkApplicability(krmProfile profile)
    {
        const krmProfileClassSignature c = krmGetProfileClass(profile);
        const bool gray = krmGetProfileColorSpace(profile) == krmSig("GRAY");
        const krmInt32Number count = krmGetTagCount(profile);
        for (krmInt32Number i = 0; i < count; ++i) {
            const krmTagSignature sig = krmGetTagSignature(profile, krmUInt32Number(i));
            if (isPrivateTag(sig))
                continue;
            const bool examined = contains(kLuts, sig) || contains(kMatrixShaper, sig) || sig == kGray || sig == kGamut;
            if (!examined || isApplicable(c, gray, sig))
                continue;
            addFinding("TAG-NOT-APPLICABLE", AuditWarning, tr("Public tag is not applicable"),
                       tr("The profile contains the public %1 tag, whose use is not defined for this profile class.")
                               .arg(tagName(sig)) + raw_.dataPlace(sig),
                       signatureText(sig));
        }
    }

    RawProfile raw_;
};

required_tags_test g_requiredTagsTest;
const AuditTestRegistration g_requiredTagsRegistration(&g_requiredTagsTest, 2);

} // namespace
