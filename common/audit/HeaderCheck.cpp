// QA120: the raw profile header against the ICC registries, its reserved fields and its ID.

#include "common/audit/AuditTestBase.h"
#include "common/audit/RawProfile.h"
#include "common/signatures/Signatures.h"

#include <QCoreApplication>
#include <QtEndian>

#include <array>

namespace {

// The engine's D50 (0.9642, 1.0, 0.8249) as s15Fixed16, floor(v * 65536 + 0.5).
constexpr krmUInt32Number kD50X = 0x0000F6D6;
constexpr krmUInt32Number kD50Y = 0x00010000;
constexpr krmUInt32Number kD50Z = 0x0000D32D;

class header_test : public AuditTestBase {
    Q_DECLARE_TR_FUNCTIONS(header_test)

public:
    int qaNumber() const override { return 120; }
    QString testName() const override { return tr("ICC header"); }

    bool appliesTo(krmProfile profile) override
    {
        headerValid_ = readHeader(profile);
        return headerValid_;
    }

    void runTest(krmProfile profile) override
    {
        if (!headerValid_)
            return;
        // ICC.1:2010 7.2, header field offsets. The registry grows and no offline list is
        // complete, so a signature we do not know is information, not a fault.
        checkListed("HDR-CMM-UNLISTED", field(4), isRegisteredCmm(field(4)), cmmName, tr("Unlisted CMM signature"),
                    tr("The profile header contains a CMM signature '%1' that is not in Prismet's list of "
                       "ICC-registered signatures."));
        checkListed("HDR-MANUFACTURER-UNLISTED", field(48), isRegisteredManufacturer(field(48)), manufacturerName,
                    tr("Unlisted manufacturer signature"),
                    tr("The profile header contains a manufacturer signature '%1' that is not in Prismet's list of "
                       "ICC-registered signatures."));
        if (field(44) & 0xFFFFFFFCu)
            addFinding("HDR-FLAGS", AuditWarning, tr("Reserved profile flags are set"),
                       tr("The profile header contains non-zero reserved flag bits."), tr("Header flags"));
        // Bits 32 to 63 belong to the device vendor.
        const krmUInt64Number attributes = (krmUInt64Number(field(56)) << 32) | field(60);
        if (attributes & 0xFFFFFFF0u)
            addFinding("HDR-ATTRIBUTES", AuditWarning, tr("Reserved device attribute bits are set"),
                       tr("The profile header contains non-zero reserved device attribute bits."), tr("Device attributes"));
        if (field(64) > 3)
            addFinding("HDR-INTENT", AuditWarning, tr("Invalid header rendering intent"),
                       tr("The profile header contains an invalid rendering intent value."), tr("Rendering intent"));
        if (field(68) != kD50X || field(72) != kD50Y || field(76) != kD50Z)
            addFinding("HDR-ILLUMINANT", AuditWarning, tr("Incorrect PCS illuminant"),
                       tr("The PCS illuminant in the profile header is not D50."), tr("PCS illuminant"));
        // Creators are makers of profiling tools as often as CMM vendors: either list will do.
        checkListed("HDR-CREATOR-UNLISTED", field(80), isRegisteredManufacturer(field(80)) || isRegisteredCmm(field(80)),
                    manufacturerName, tr("Unlisted creator signature"),
                    tr("The profile header contains a creator signature '%1' that is not in Prismet's list of "
                       "ICC-registered signatures."));
        bool reservedZero = true;
        for (int i = 100; i < 128; ++i)
            reservedZero = reservedZero && header_[size_t(i)] == 0;
        if (!reservedZero)
            addFinding("HDR-RESERVED", AuditWarning, tr("Reserved header bytes are not zero"),
                       tr("The profile contains non-zero data in reserved header bytes."), tr("Reserved header"));
        checkProfileId(profile);
    }

    void clearFindings() override
    {
        AuditTestBase::clearFindings();
        headerValid_ = false;
    }

private:
    // An empty signature is allowed; an unlisted one has no dictionary name, so `name` gives its
    // four characters.
    void checkListed(const char* code, krmUInt32Number sig, bool listed, QString (*name)(krmUInt32Number),
                     const QString& title, const QString& message)
    {
        if (sig != 0 && !listed)
            addFinding(code, AuditInformation, title, message.arg(name(sig)), signatureText(sig));
    }

    // A stored ID (ICC.1:2010 7.2.18) that is not the digest of the bytes means they changed
    // after the ID was written.
    void checkProfileId(krmProfile profile)
    {
        const RawProfile raw = RawProfile::read(profile);
        QByteArray computed;
        if (raw.bytes.isEmpty() || profileIdStatus(raw.bytes, &computed) != ProfileIdStatus::Differs)
            return;
        const QByteArray stored = raw.bytes.mid(84, 16);
        addFinding("HDR-ID-MISMATCH", AuditError, tr("Profile ID does not match the profile"),
                   tr("The header stores the profile ID %1, but the MD5 digest of the profile is %2: the file was "
                      "altered after it was written.")
                       .arg(profileIdText(reinterpret_cast<const krmUInt8Number*>(stored.constData())),
                            profileIdText(reinterpret_cast<const krmUInt8Number*>(computed.constData()))),
                   tr("Profile ID"));
    }

    // The stored bytes, not the engine's decoded header: the engine normalises some fields.
    bool readHeader(krmProfile profile)
    {
        krmIOHandler* io = krmGetProfileIOHandler(profile);
        if (!io)
            return false;
        const krmUInt32Number position = io->Tell(io);
        const bool ok = io->Seek(io, 0) && io->Read(io, header_.data(), krmUInt32Number(header_.size()), 1) == 1;
        const bool restored = io->Seek(io, position);
        return ok && restored;
    }

    krmUInt32Number field(int offset) const { return qFromBigEndian<quint32>(header_.data() + offset); }

    std::array<krmUInt8Number, 128> header_{};
    bool headerValid_ = false;
};

header_test g_headerTest;
const AuditTestRegistration g_headerRegistration(&g_headerTest, 0);

} // namespace
