// QA101: every public tag reads strictly and writes back into an empty profile.

#include "common/audit/AuditTestBase.h"
#include "common/signatures/Signatures.h"

#include <QCoreApplication>

namespace {

class tags_integrity_test : public AuditTestBase {
    Q_DECLARE_TR_FUNCTIONS(tags_integrity_test)

public:
    int qaNumber() const override { return 101; }
    QString testName() const override { return tr("Tags integrity"); }
    bool appliesTo(krmProfile) override { return true; }

    void runTest(krmProfile profile) override
    {
        const krmProfile scratch = krmCreateProfilePlaceholder(krmGetProfileContext(profile));
        if (!scratch)
            return;
        const krmInt32Number count = krmGetTagCount(profile);
        for (krmInt32Number i = 0; i < count; ++i) {
            const krmTagSignature sig = krmGetTagSignature(profile, krmUInt32Number(i));
            if (isPrivateTag(sig))
                continue;
            // An engine message during the read or write is already a finding of its own.
            const qsizetype before = findingCount();
            const void* object = krmReadTag(profile, sig);
            if (!object) {
                if (findingCount() == before)
                    addFinding(AuditError, tr("Tag cannot be read"), tr("Corvane could not read this tag."), signatureText(sig));
                continue;
            }
            if (!isKnownTag(sig))
                continue;
            if (!krmWriteTag(scratch, sig, object) && findingCount() == before)
                addFinding(AuditError, tr("Tag cannot be written"), tr("Corvane could read this tag but could not write it."),
                           signatureText(sig));
        }
        krmCloseProfile(scratch);
    }
};

tags_integrity_test g_tagsIntegrityTest;
const AuditTestRegistration g_tagsIntegrityRegistration(&g_tagsIntegrityTest, 3);

} // namespace
