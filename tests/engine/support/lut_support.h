// Helpers for the LUT and linking tests: the profile corpus, raw tag bytes, big-endian byte
// building and encode/decode through a tag type handler.
#pragma once

#include "krm_internal.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lut_support {

// The corpus folders, from the Debian packages colord-data and libgs-common.
constexpr const char* kColordFolder = "/usr/share/color/icc/colord";
constexpr const char* kGhostscriptFolder = "/usr/share/color/icc/ghostscript";

// Every profile of the installed corpus (colord and ghostscript folders), sorted; a folder without
// profiles is a test failure naming the package that provides it.
std::vector<std::string> corpusProfiles();

// The stored bytes of tag sig (type base included); empty when absent.
std::vector<uint8_t> rawTag(const std::string& path, krmProfile h, krmTagSignature sig);

// Big-endian byte building for hand-made tags.
struct Bytes {
    std::vector<uint8_t> b;
    Bytes& u8(unsigned v);
    Bytes& u16(unsigned v);
    Bytes& u32(uint32_t v);
    Bytes& sig(const char (&s)[5]);
    Bytes& s15(double v);
    Bytes& f32(float v);
    Bytes& zeros(size_t n);
    Bytes& pad4();
};

// Encodes Ptr with the built-in handler of Type (type base first). Empty on failure.
std::vector<uint8_t> encode(krmContext ctx, krmTagTypeSignature Type, void* Ptr, krmUInt32Number Version = 0x04300000);

// Decodes bytes that start with a type base through the handler of that type; null on failure.
krmPipeline* decode(krmContext ctx, const std::vector<uint8_t>& bytes, krmUInt32Number Version = 0x04300000);

// Stage types of a pipeline in order, as four-character strings.
std::vector<std::string> stageTypes(const krmPipeline* p);

std::string sigString(krmUInt32Number sig);

}  // namespace lut_support
