#pragma once

// How well a profile predicts measurements: a CGATS measurement file (device values with their
// measured XYZ or L*a*b*) read through the engine's CGATS reader, every patch's device values
// converted through the profile to L*a*b* D50, the CIEDE2000 and CIE76 differences, their
// statistics, the worst patches and a summary per colour region. No Qt: prismet-cli verify and the
// window's verification dialog share it.

#include "common/analysis/GamutAnalysis.h"

#include <krm.h>

#include <optional>
#include <string>
#include <vector>

// ---- measurements -----------------------------------------------------------------------------

struct MeasuredPatch {
    std::string id;              // SAMPLE_ID, else the row number from 1
    std::vector<double> device;  // as written in the file
    std::vector<double> unit;    // the same scaled to 0..1
    double lab[3] = {0, 0, 0};   // measured L*a*b* D50
};

struct MeasurementSet {
    std::string deviceSpace;                 // "RGB", "CMYK", "CMY", "GRAY" or "nCLR" as "5CLR"
    std::vector<std::string> deviceFields;   // in channel order
    std::vector<std::string> measuredFields;  // XYZ_X, XYZ_Y, XYZ_Z or LAB_L, LAB_A, LAB_B
    std::string deviceUnits;                 // "percent" or "0..255"
    std::string measuredUnits;               // "L*a*b*", "XYZ, Y 0..100" or "XYZ, Y 0..1"
    bool mediaRelative = false;              // the file says its values are media-relative
    std::string mediaRelativeReason;         // why (empty when absolute)
    int table = 0;                           // the table read, from 1
    int tables = 0;                          // tables in the file
    std::vector<MeasuredPatch> patches;
};

// Reads CGATS text for a profile of colour space `space` (its channels decide the device fields):
//   RGB:  RGB_R RGB_G RGB_B in percent, or 0..255 when a value exceeds 100;
//   CMYK: CMYK_C CMYK_M CMYK_Y CMYK_K in percent; CMY: CMYK_C CMYK_M CMYK_Y;
//   GRAY: GRAY or one field GRAY_… in percent;
//   nCLR: nCLR_1 … nCLR_n in percent (n the channel count, in decimal);
// measured values from LAB_L LAB_A LAB_B (preferred) or XYZ_X XYZ_Y XYZ_Z (Y 0..100, or 0..1 when
// no Y exceeds 2), both taken as D50. The file is media-relative when a MEDIA_RELATIVE or
// NORMALIZED_TO_MEDIA_WHITE property says TRUE/YES/1, when MEASUREMENT_SOURCE mentions
// "relative", or, without those properties, when its text (comments included) says "media
// relative" or "media-relative". Throws Exception for unreadable text, missing device or
// colorimetric fields, fields of another device space, values in units not listed above and
// values that are not numbers. Of several tables, the first with the device fields, a colorimetric
// triple and rows is read (the first table when none has them).
MeasurementSet read_measurements(const std::string& text, krmColorSpaceSignature space);

// ---- statistics -------------------------------------------------------------------------------

struct ErrorStatistics {
    std::size_t count = 0;
    double mean = 0;
    double p95 = 0;  // nearest rank
    double max = 0;
};
ErrorStatistics error_statistics(std::vector<double> values);

// "mean=X,p95=Y,max=Z", any of the three, in any order.
struct ErrorThresholds {
    std::optional<double> mean, p95, max;
    bool empty() const { return !mean && !p95 && !max; }
};
// False with the reason in `error`.
bool parse_thresholds(const std::string& text, ErrorThresholds& thresholds, std::string& error);
// One line per figure above its threshold ("mean 1.2345 > 1"), empty when all are met.
std::vector<std::string> exceeded_thresholds(const ErrorThresholds& thresholds, const ErrorStatistics& stats);

// ---- verification -----------------------------------------------------------------------------

struct PatchVerification {
    double predicted[3] = {0, 0, 0};  // L*a*b* D50
    double de00 = 0;
    double de76 = 0;
};

// The regions a patch may fall in (several at once), decided by its measured value:
//   neutrals    C*ab ≤ 5
//   near-paper  ΔE76 ≤ 10 from the paper (the lighter prediction of device all-0 and all-100 %)
//   dark        L* ≤ 25
//   saturated   C*ab ≥ 50
struct RegionSummary {
    std::string name;
    std::string definition;
    ErrorStatistics de00;
};

struct VerificationOptions {
    krmUInt32Number intent = 1;  // picks A2B<intent> (A2B0 when missing; the matrix-shaper)
    bool relative = false;       // media-relative whatever the file says
    std::size_t worst = 10;
};

struct VerificationReport {
    std::string tag;           // "A2B1", "matrix-shaper", …
    krmUInt32Number intent = 1;
    bool relative = false;
    std::string colorimetryReason;  // "--relative", the file's reason, or "default"
    double paper[3] = {0, 0, 0};    // predicted L*a*b* of the paper
    std::vector<PatchVerification> patches;  // in the order of the measurement set
    ErrorStatistics de00, de76;
    std::vector<std::size_t> worst;  // indices, largest ΔE00 first
    std::vector<RegionSummary> regions;
};

// Throws Exception when the profile's device space does not match the set or no transform to
// the PCS can be built.
VerificationReport verify_profile(krmProfile profile, const MeasurementSet& set, const VerificationOptions& options);

// A plain-text report (the command line's text output and the window's "Copy report").
std::string verification_text(const MeasurementSet& set, const VerificationReport& report);
