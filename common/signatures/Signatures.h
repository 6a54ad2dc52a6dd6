#pragma once

// Display names of ICC signatures and enumerated codes, shared by every view so that the same
// signature reads the same everywhere. Pure functions: nothing here touches a profile.

#include <krm.h>

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <span>

// One dictionary row. A '?' byte (0x3F) in `signature` matches any byte of a looked-up value.
// `isPrivate` is set only in the tag dictionary, for vendor-private tags.
struct SignatureEntry {
    const char* name;  // UTF-8
    krmUInt32Number signature;
    krmUInt8Number isPrivate;
};

// A constant, ordered dictionary: the order decides between duplicates and between wildcards.
using SignatureDictionary = std::span<const SignatureEntry>;

struct NamedWhitePoint {
    const char* name;
    double x;
    double y;
    int kelvin;
};

struct PlanckianPoint {
    int kelvin;
    double x;
    double y;
};

// The dictionaries themselves, for callers that list or count them.
SignatureDictionary colorSpaceDictionary();
SignatureDictionary deviceClassDictionary();
SignatureDictionary platformDictionary();
SignatureDictionary lutTypeDictionary();
SignatureDictionary stageTypeDictionary();
SignatureDictionary imageStateDictionary();
SignatureDictionary technologyDictionary();
SignatureDictionary geometryDictionary();
SignatureDictionary illuminantTypeDictionary();
SignatureDictionary observerDictionary();
SignatureDictionary spotShapeDictionary();
SignatureDictionary cmmDictionary();
SignatureDictionary manufacturerDictionary();
SignatureDictionary tagDictionary();
std::span<const NamedWhitePoint> namedWhitePoints();
std::span<const PlanckianPoint> planckianLocus();

// Exact match first (first entry wins); then the wildcard entry with the fewest '?' bytes that
// matches (earlier entry on ties). Null when nothing matches.
const SignatureEntry* lookupSignature(SignatureDictionary dictionary, krmUInt32Number value);

// The four bytes of a signature as text, ending at the first zero byte ("XYZ " keeps its blank).
QString signatureText(krmUInt32Number value);
// Four groups of eight upper-case hex digits, or "Not computed" for an all-zero ID.
QString profileIdText(const krmUInt8Number id[16]);
// The profile ID as ICC.1:2010 7.2.18 computes it: the MD5 digest of the profile's bytes (as many
// as the header's size field gives, at most what there is) with the flags, the rendering
// intent and the ID field itself zeroed. Empty for fewer than 128 bytes.
QByteArray computeProfileId(const QByteArray& profile);
// The stored ID against the computed one: "absent" (all zero), "matches" or "differs".
enum class ProfileIdStatus { Absent, Matches, Differs };
ProfileIdStatus profileIdStatus(const QByteArray& profile, QByteArray* computed = nullptr);
QString profileIdStatusText(ProfileIdStatus status);
// The low four attribute bits as words, e.g. "Reflective, Glossy, Positive, Color".
QString deviceAttributesText(krmUInt64Number attributes);
// A named illuminant, "Temp: %1K" or "xy: (%1,%2)" for a chromaticity.
QString whitePointName(double x, double y, double tolerance);

// Name functions: the dictionary's name, or signatureText of the value when nothing matches.
QString tagName(krmUInt32Number signature);
// The tag's name in a profile of that class: 'A2Bn' and 'D2Bn' are proofing tables only in output
// profiles, and a device link's 'A2B0' is the link itself.
QString tagNameForClass(krmUInt32Number signature, krmUInt32Number deviceClass);
QString colorSpaceName(krmUInt32Number signature);
QString deviceClassName(krmUInt32Number signature);
QString platformName(krmUInt32Number signature);
QString manufacturerName(krmUInt32Number signature);
QString cmmName(krmUInt32Number signature);
QString technologyName(krmUInt32Number signature);
QString stageTypeName(krmUInt32Number signature);
QString lutTypeName(krmUInt32Number signature);
QString imageStateName(krmUInt32Number signature);
QString geometryName(krmUInt32Number code);
QString illuminantTypeName(krmUInt32Number code);
QString observerName(krmUInt32Number code);
QString spotShapeName(krmUInt32Number code);

bool isPrivateTag(krmUInt32Number signature);
bool isKnownTag(krmUInt32Number signature);
bool isRegisteredCmm(krmUInt32Number signature);
bool isRegisteredManufacturer(krmUInt32Number signature);
