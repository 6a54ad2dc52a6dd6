// QA101: every directory entry lies inside the file, and every public tag reads strictly and
// writes back into an empty profile.

#include "common/audit/AuditTestBase.h"
#include "common/audit/RawProfile.h"
#include "common/signatures/Signatures.h"

#include <QCoreApplication>
#include <QStringList>

#include <set>
#include <utility>

namespace {

class tags_integrity_test : public AuditTestBase {
    Q_DECLARE_TR_FUNCTIONS(tags_integrity_test)

public:
    int qaNumber() const override { return 101; }
    QString testName() const override { return tr("Tags integrity"); }
    bool appliesTo(krmProfile) override { return true; }

    void runTest(krmProfile profile) override
    {
        const RawProfile raw = RawProfile::read(profile);
        // The engine drops these entries, so they would otherwise look missing. Entries sharing
        // one block are one finding.
        for (size_t i = 0; i < raw.directory.size(); ++i) {
            const RawTagEntry& e = raw.directory[i];
            QString problem = raw.placementProblem(e);
            if (problem.isEmpty())
                continue;
            QStringList sharing;
            bool reported = false;
            for (size_t j = 0; j < raw.directory.size(); ++j) {
                const RawTagEntry& o = raw.directory[j];
                if (j == i || o.offset != e.offset || o.size != e.size)
                    continue;
                reported = reported || j < i;
                sharing << QStringLiteral("'%1'").arg(signatureText(o.signature));
            }
            if (reported)
                continue;
            if (!sharing.isEmpty())
                problem += QLatin1Char(' ') + tr("The same data is used by %1.").arg(sharing.join(QStringLiteral(", ")));
            const bool pastFile = qint64(e.offset) + e.size > raw.bytes.size();
            addFinding(pastFile ? "TAG-PAST-END" : "TAG-PAST-SIZE", AuditError,
                       pastFile ? tr("Tag is cut off by the end of the file") : tr("Tag lies past the profile size"),
                       problem, signatureText(e.signature));
        }

        const krmProfile scratch = krmCreateProfilePlaceholder(krmGetProfileContext(profile));
        if (!scratch)
            return;
        // Tags sharing one block fail together: report the block once.
        std::set<std::pair<krmUInt32Number, krmUInt32Number>> failedBlocks;
        const krmInt32Number count = krmGetTagCount(profile);
        for (krmInt32Number i = 0; i < count; ++i) {
            const krmTagSignature sig = krmGetTagSignature(profile, krmUInt32Number(i));
            if (isPrivateTag(sig))
                continue;
            const RawTagEntry* entry = raw.find(sig);
            const auto block = entry ? std::pair{entry->offset, entry->size} : std::pair{0u, 0u};
            if (entry && failedBlocks.count(block))
                continue;
            const QString place = raw.dataPlace(sig);
            setCurrentTag(sig, entry ? entry->offset : 0);
            // An engine message during the read or write is already a finding of its own.
            const qsizetype before = findingCount();
            const void* object = krmReadTag(profile, sig);
            if (!object) {
                failedBlocks.insert(block);
                if (findingCount() == before)
                    addFinding("TAG-UNREADABLE", AuditError, tr("Tag cannot be read"),
                               tr("Prismet could not read this tag.") + place, signatureText(sig));
                continue;
            }
            if (!isKnownTag(sig))
                continue;
            if (!krmWriteTag(scratch, sig, object) && findingCount() == before)
                addFinding("TAG-UNWRITABLE", AuditError, tr("Tag cannot be written"),
                           tr("Prismet could read this tag but could not write it.") + place, signatureText(sig));
        }
        setCurrentTag(0, 0);
        krmCloseProfile(scratch);
    }
};

tags_integrity_test g_tagsIntegrityTest;
const AuditTestRegistration g_tagsIntegrityRegistration(&g_tagsIntegrityTest, 3);

} // namespace
