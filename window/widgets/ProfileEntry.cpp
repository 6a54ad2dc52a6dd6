#include "window/widgets/ProfileEntry.h"

#include "window/widgets/ListingContext.h"

#include <QDir>
#include <QFileInfo>
#include <QVector>

namespace {

// Permissive reading (the global context) decodes a tag of any known type whatever its
// signature: only these stored types decode into a localized text object. The stored type is
// known once the tag has been read.
const krmMLU* read_text_tag(krmProfile profile, krmTagSignature sig)
{
    if (!krmIsTag(profile, sig))
        return nullptr;
    const void* data = krmReadTag(profile, sig);
    if (!data)
        return nullptr;
    const krmTagTypeSignature type = krmGetTagStoredType(profile, sig);
    if (type != krmSig("text") && type != krmSig("desc") && type != krmSig("mluc"))
        return nullptr;
    return static_cast<const krmMLU*>(data);
}

QString localized_text(krmProfile profile, krmTagSignature sig, const char* language, const char* country)
{
    const krmMLU* mlu = read_text_tag(profile, sig);
    if (!mlu)
        return {};
    constexpr int kUnits = 4096;
    krmWChar buffer[kUnits] = {};
    if (krmMLUGetWide(mlu, language, country, buffer, sizeof buffer) == 0)
        return {};
    return QString::fromUtf16(buffer).trimmed();
}

// Abstract profiles made by the company's profiling tool carry their measurement sheet, a
// CGATS.17 text whose sheet type is "TESSERATOR", in 'targ'.
bool is_tool_made(krmProfile profile)
{
    const krmMLU* mlu = read_text_tag(profile, krmSig("targ"));
    if (!mlu)
        return false;
    const krmUInt32Number needed = krmMLUGetASCII(mlu, "", "", nullptr, 0);
    if (needed <= 1)
        return false;
    QByteArray text(qsizetype(needed), '\0');
    const krmUInt32Number got = krmMLUGetASCII(mlu, "", "", text.data(), needed);
    if (got <= 1)
        return false;
    // The sheet is parsed in the listing context: a malformed one only means "not tool-made".
    krmIT8* it8 = krmIT8LoadFromMem(listing_context(), text.constData(), got - 1);
    if (!it8)
        return false;
    const char* sheet = krmIT8GetSheetType(it8);
    const bool tool = sheet && qstrcmp(sheet, "TESSERATOR") == 0;
    krmIT8Free(it8);
    return tool;
}

// A named-colour list whose every colour sits at the encoding's zero carries no colour at all.
bool has_real_named_colors(krmProfile profile)
{
    const krmTagSignature sig = krmSig("ncl2");
    if (!krmIsTag(profile, sig))
        return false;
    const auto* list = static_cast<const krmNamedColorList*>(krmReadTag(profile, sig));
    if (!list || krmGetTagStoredType(profile, sig) != krmSig("ncl2"))
        return false;
    const krmUInt32Number count = krmNamedColorCount(list);
    for (krmUInt32Number i = 0; i < count; ++i) {
        krmUInt16Number pcs[3] = {};
        if (!krmNamedColorInfo(list, i, nullptr, nullptr, nullptr, pcs, nullptr))
            continue;
        krmCIELab lab;
        krmLabEncoded2FloatV2(&lab, pcs);
        if (lab.L != 0.0 || lab.a != -128.0 || lab.b != -128.0)
            return true;
    }
    return false;
}

bool is_hex_digit_1_to_f(char c)
{
    return (c >= '1' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

int profile_space_bit(krmColorSpaceSignature space)
{
    switch (space) {
    case krmSig("GRAY"):
        return SpaceGray;
    case krmSig("RGB "):
        return SpaceRGB;
    case krmSig("CMYK"):
        return SpaceCMYK;
    case krmSig("Lab "):
        return SpaceLab;
    case krmSig("nmcl"):
        return SpaceMulti;
    default:
        break;
    }
    const char c0 = char(space >> 24), c1 = char(space >> 16), c2 = char(space >> 8), c3 = char(space);
    if (c0 == 'M' && c1 == 'C' && c2 == 'H' && is_hex_digit_1_to_f(c3))
        return SpaceMulti;  // 'MCH1'..'MCHF'
    if (is_hex_digit_1_to_f(c0) && c1 == 'C' && c2 == 'L' && c3 == 'R')
        return SpaceMulti;  // '1CLR'..'FCLR'
    return 0;
}

int profile_class_bit(krmProfileClassSignature deviceClass)
{
    switch (deviceClass) {
    case krmSig("prtr"):
        return ClassOutput;
    case krmSig("scnr"):
        return ClassInput;
    case krmSig("abst"):
        return ClassAbstract;
    case krmSig("spac"):
        return ClassColorSpace;
    case krmSig("mntr"):
        return ClassDisplay;
    case krmSig("nmcl"):
        return ClassNamed;
    default:
        return 0;
    }
}

bool profile_passes_masks(krmProfile profile, int classMask, int spaceMask)
{
    if (!profile)
        return false;
    const int classBit = profile_class_bit(krmGetProfileClass(profile));
    const int spaceBit = profile_space_bit(krmGetProfileColorSpace(profile));
    if (!(classBit & classMask) || !(spaceBit & spaceMask))
        return false;
    if (classBit == ClassNamed)
        return has_real_named_colors(profile);
    return true;
}

ProfileEntry ProfileEntry::fromProfile(krmProfile profile, const QString& name, const char* language,
                                       const char* country)
{
    ProfileEntry entry;
    entry.name = name;
    entry.manufacturer = localized_text(profile, krmSig("dmnd"), language, country);
    entry.model = localized_text(profile, krmSig("dmdd"), language, country);
    entry.description = localized_text(profile, krmSig("desc"), language, country);
    entry.rights = localized_text(profile, krmSig("cprt"), language, country);
    entry.builtin = name.startsWith(QLatin1Char('*'));
    entry.space = profile_space_bit(krmGetProfileColorSpace(profile));
    entry.pcs = profile_space_bit(krmGetProfilePCS(profile));
    entry.version4 = krmGetProfileVersionRaw(profile) >= 0x04000000u;
    entry.abstract = krmGetProfileClass(profile) == krmSig("abst");
    entry.notMatrixShaper = !krmIsMatrixShaper(profile);
    entry.named = krmGetProfileClass(profile) == krmSig("nmcl");
    entry.toolMadeAbstract = entry.abstract && is_tool_made(profile);
    return entry;
}

QString ProfileEntry::displayText() const
{
    if (!description.isEmpty() || builtin)
        return description;
    return QFileInfo(name).fileName();
}

QString ProfileEntry::iconName() const
{
    if (name == QLatin1String("*user"))
        return version4 ? QStringLiteral(":/iccEmbed4.png") : QStringLiteral(":/iccEmbed2.png");
    if (builtin)
        return QStringLiteral(":/iccb.png");
    if (abstract) {
        if (toolMadeAbstract)
            return QStringLiteral(":/iccAbsLnk.png");
        return version4 ? QStringLiteral(":/iccLnk4.png") : QStringLiteral(":/iccLnk2.png");
    }
    return version4 ? QStringLiteral(":/icc4.png") : QStringLiteral(":/icc2.png");
}

QString ProfileEntry::toolTip() const
{
    if (builtin)
        return description;
    // Texts come from the file: escaped so that a '<' in them cannot change the tooltip.
    return QStringLiteral("<p>") + displayText().toHtmlEscaped() + QStringLiteral("</p><p>") +
           rights.toHtmlEscaped() + QStringLiteral("</p><p>") + QDir::toNativeSeparators(name).toHtmlEscaped() +
           QStringLiteral("</p>");
}
