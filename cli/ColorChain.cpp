#include "cli/ColorChain.h"

namespace {

constexpr krmColorSpaceSignature kLab = krmSig("Lab ");
constexpr krmColorSpaceSignature kXYZ = krmSig("XYZ ");
constexpr krmColorSpaceSignature kOneColor = krmSig("1CLR");

} // namespace

bool parseEncoding(const QString& text, ValueEncoding& encoding)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("float") || t == QLatin1String("double")) {
        encoding = ValueEncoding::Float;
        return true;
    }
    if (t == QLatin1String("8") || t == QLatin1String("8bit")) {
        encoding = ValueEncoding::Bits8;
        return true;
    }
    if (t == QLatin1String("16") || t == QLatin1String("16bit")) {
        encoding = ValueEncoding::Bits16;
        return true;
    }
    return false;
}

QString encodingName(ValueEncoding encoding)
{
    switch (encoding) {
    case ValueEncoding::Float: return QStringLiteral("float");
    case ValueEncoding::Bits8: return QStringLiteral("8");
    case ValueEncoding::Bits16: return QStringLiteral("16");
    }
    return QString();
}

void chainSpaces(const std::vector<krmProfile>& profiles, krmColorSpaceSignature& entry, krmColorSpaceSignature& exit)
{
    entry = exit = 0;
    if (profiles.empty())
        return;
    krmColorSpaceSignature current = krmGetProfileColorSpace(profiles.front());
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        krmProfile p = profiles[i];
        const krmProfileClassSignature cls = krmGetProfileClass(p);
        krmColorSpaceSignature in, out;
        if (cls == krmSig("nmcl")) {
            in = kOneColor;
            out = profiles.size() > 1 ? krmGetProfilePCS(p) : krmGetProfileColorSpace(p);
        } else if ((current != kXYZ && current != kLab) || cls == krmSig("link")) {
            in = krmGetProfileColorSpace(p);
            out = krmGetProfilePCS(p);
        } else {
            in = krmGetProfilePCS(p);
            out = krmGetProfileColorSpace(p);
        }
        if (i == 0)
            entry = in;
        current = out;
    }
    exit = current;
}

krmUInt32Number valueFormat(krmColorSpaceSignature space, ValueEncoding encoding, QString& error)
{
    const krmInt32Number channels = krmChannelsOfColorSpace(space);
    if (channels <= 0 || channels > 15) {
        error = QStringLiteral("colour space '%1' has no known channel count").arg(signatureString(space));
        return 0;
    }
    const krmUInt32Number code = krmColorSpaceCode(space);
    const krmUInt32Number base = krmFMT_COLORSPACE(code) | krmFMT_CHANNELS(krmUInt32Number(channels));
    switch (encoding) {
    case ValueEncoding::Float:
        if (space == kLab)
            return krmFmtLabDouble;
        if (space == kXYZ)
            return krmFmtXYZDouble;
        return base | krmFMT_FLOAT(1) | krmFMT_BYTES(0);
    case ValueEncoding::Bits16:
        if (space == kLab)
            return krmFmtLab16;
        if (space == kXYZ)
            return krmFmtXYZ16;
        return base | krmFMT_BYTES(2);
    case ValueEncoding::Bits8:
        if (space == kLab || space == kXYZ) {
            error = QStringLiteral("8-bit values are for device colour spaces, not %1").arg(spaceText(space));
            return 0;
        }
        return base | krmFMT_BYTES(1);
    }
    return 0;
}

QString spaceText(krmColorSpaceSignature space)
{
    return signatureString(space).trimmed();
}

krmTransform createChainTransform(krmContext context, const std::vector<krmProfile>& chain, krmUInt32Number intent,
                                  bool bpc, double adaptation, krmUInt32Number inFormat, krmUInt32Number outFormat,
                                  krmUInt32Number flags)
{
    const krmUInt32Number n = krmUInt32Number(chain.size());
    std::vector<krmProfile> profiles(chain);
    std::vector<krmBool> bpcs(n, bpc ? 1 : 0);
    std::vector<krmUInt32Number> intents(n, intent);
    std::vector<krmFloat64Number> states(n, adaptation);
    if (bpc)
        flags |= krmFlagBlackPointCompensation;
    return krmCreateExtendedTransform(context, n, profiles.data(), bpcs.data(), intents.data(), states.data(), nullptr,
                                      0, inFormat, outFormat, flags);
}
