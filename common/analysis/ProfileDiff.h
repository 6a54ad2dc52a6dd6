#pragma once

// What differs between two profiles: header fields, the tag directories, the decoded difference
// of each differing tag and, for profiles of one device space, the CIEDE2000 difference of a
// device grid through both. No Qt, so `prismet-cli diff` and the window's comparison dialog print
// one report.

#include "common/analysis/GamutAnalysis.h"

#include <krm.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct HeaderFieldDifference {
    std::string field;  // the name --ignore-header takes ("date", "id", ...)
    std::string a, b;   // the values as shown
};

struct TagDifference {
    krmTagSignature tag = 0;
    krmTagTypeSignature typeA = 0, typeB = 0;
    std::uint32_t sizeA = 0, sizeB = 0;
    std::string kind;     // "text", "XYZ", "curve", "matrix", "LUT" or "data"
    std::string summary;  // one line, e.g. "max difference 0.0123 at input 0.5"
    double maxDifference = -1;  // largest numeric difference where one is defined, else −1
};

struct ColourSample {
    std::vector<double> device;  // 0..1 per channel
    double labA[3] = {0, 0, 0};
    double labB[3] = {0, 0, 0};
    double de00 = 0;
};

// One intent's device grid through both profiles.
struct ColourComparison {
    krmUInt32Number intent = 0;
    krmTagSignature tagA = 0, tagB = 0;  // A2Bn, D2Bn or kMatrixShaperTag
    std::size_t samples = 0;
    int gridPoints = 0;
    double mean = 0, p95 = 0, max = 0;
    std::vector<ColourSample> worst;  // largest first
};

struct ProfileDiff {
    std::vector<HeaderFieldDifference> header;
    std::vector<std::string> ignoredHeader;  // fields left out as asked
    std::vector<krmTagSignature> onlyA, onlyB, identicalTags;
    std::vector<TagDifference> differing;
    krmColorSpaceSignature deviceSpaceA = 0, deviceSpaceB = 0;
    std::vector<ColourComparison> colour;
    std::string colourNote;  // why there is no colour comparison, when there is none

    // Identical in content: no header field (other than those ignored) and no tag differ.
    bool identical() const { return header.empty() && onlyA.empty() && onlyB.empty() && differing.empty(); }
};

// The header field names in header order, as --ignore-header takes them.
const std::vector<std::string>& header_field_names();

// Compares two profiles given as their bytes; `ignore` holds header field names to leave out.
// Throws Exception when either cannot be read as a profile or a field name is unknown.
ProfileDiff diff_profiles(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                          const std::set<std::string>& ignore, std::size_t worstCount = 5);

// "rTRC", with non-printable bytes as \xNN; the matrix-shaper row as "matrix-shaper".
std::string tag_signature_text(krmTagSignature tag);

// The report `prismet-cli diff` prints and the window's dialog shows.
std::string diff_report_text(const ProfileDiff& diff, const std::string& nameA, const std::string& nameB);
