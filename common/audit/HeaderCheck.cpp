// QA120: the raw profile header against the ICC registries and its reserved fields.

#include "common/audit/AuditTestBase.h"
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

    void runTest(krmProfile) override
    {
        if (!headerValid_)
            return;
        // ICC.1:2010 7.2, header field offsets.
        checkRegistered(field(4), isRegisteredCmm, cmmName, tr("Unregistered CMM signature"),
                        tr("The profile header contains a CMM signature '%1' that is not registered by the ICC."));
        checkRegistered(field(48), isRegisteredManufacturer, manufacturerName, tr("Unregistered manufacturer signature"),
                        tr("The profile header contains a manufacturer signature '%1' that is not registered by the ICC."));
        if (field(44) & 0xFFFFFFFCu)
            addFinding(AuditWarning, tr("Reserved profile flags are set"),
                       tr("The profile header contains non-zero reserved flag bits."), tr("Header flags"));
        // Bits 32 to 63 belong to the device vendor.
        const krmUInt64Number attributes = (krmUInt64Number(field(56)) << 32) | field(60);
        if (attributes & 0xFFFFFFF0u)
            addFinding(AuditWarning, tr("Reserved device attribute bits are set"),
                       tr("The profile header contains non-zero reserved device attribute bits."), tr("Device attributes"));
        if (field(64) > 3)
            addFinding(AuditWarning, tr("Invalid header rendering intent"),
                       tr("The profile header contains an invalid rendering intent value."), tr("Rendering intent"));
        if (field(68) != kD50X || field(72) != kD50Y || field(76) != kD50Z)
            addFinding(AuditWarning, tr("Incorrect PCS illuminant"), tr("The PCS illuminant in the profile header is not D50."),
                       tr("PCS illuminant"));
        checkRegistered(field(80), isRegisteredManufacturer, manufacturerName, tr("Unregistered creator signature"),
                        tr("The profile header contains a creator signature '%1' that is not registered by the ICC."));
        bool reservedZero = true;
        for (int i = 100; i < 128; ++i)
            reservedZero = reservedZero && header_[size_t(i)] == 0;
        if (!reservedZero)
            addFinding(AuditWarning, tr("Reserved header bytes are not zero"),
                       tr("The profile contains non-zero data in reserved header bytes."), tr("Reserved header"));
    }

    void clearFindings() override
    {
        AuditTestBase::clearFindings();
        headerValid_ = false;
    }

private:
    // An empty signature is allowed; an unregistered one has no dictionary name, so `name` gives
    // its four characters.
    void checkRegistered(krmUInt32Number sig, bool (*registered)(krmUInt32Number), QString (*name)(krmUInt32Number),
                         const QString& title, const QString& message)
    {
        if (sig != 0 && !registered(sig))
            addFinding(AuditWarning, title, message.arg(name(sig)), signatureText(sig));
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
