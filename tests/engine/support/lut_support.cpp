#include "support/lut_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include <gtest/gtest.h>

namespace lut_support {

std::vector<std::string> corpusProfiles()
{
    std::vector<std::string> out;
    for (const auto& [dir, package] : {std::pair{kColordFolder, "colord-data"}, std::pair{kGhostscriptFolder, "libgs-common"}}) {
        std::error_code ec;
        size_t found = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
            if (e.path().extension() != ".icc") continue;
            out.push_back(e.path().string());
            found++;
        }
        // tools/deps.sh test installs them: a missing folder is a broken setup, not a reason to skip.
        if (found == 0)
            ADD_FAILURE() << "no profiles in " << dir << ": install the Debian package " << package
                          << " (tools/deps.sh test)";
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<uint8_t> rawTag(const std::string& path, krmProfile h, krmTagSignature sig)
{
    krmInt32Number n = krmGetTagCount(h);
    for (krmInt32Number i = 0; i < n; i++) {
        if (krmGetTagSignature(h, i) != sig) continue;
        krmUInt32Number offset = 0, size = 0;
        if (!krmGetTagOffsetAndSize(h, i, &offset, &size)) return {};
        std::ifstream f(path, std::ios::binary);
        f.seekg(offset);
        std::vector<uint8_t> data(size);
        f.read((char*)data.data(), size);
        if (!f) return {};
        return data;
    }
    return {};
}

Bytes& Bytes::u8(unsigned v)
{
    b.push_back((uint8_t)v);
    return *this;
}
Bytes& Bytes::u16(unsigned v)
{
    b.push_back((uint8_t)(v >> 8));
    b.push_back((uint8_t)v);
    return *this;
}
Bytes& Bytes::u32(uint32_t v)
{
    u16(v >> 16);
    return u16(v & 0xFFFF);
}
Bytes& Bytes::sig(const char (&s)[5])
{
    return u32(krmSig(s));
}
Bytes& Bytes::s15(double v)
{
    return u32((uint32_t)(int32_t)floor(v * 65536.0 + 0.5));
}
Bytes& Bytes::f32(float v)
{
    uint32_t u;
    memcpy(&u, &v, 4);
    return u32(u);
}
Bytes& Bytes::zeros(size_t n)
{
    b.insert(b.end(), n, 0);
    return *this;
}
Bytes& Bytes::pad4()
{
    while (b.size() % 4) b.push_back(0);
    return *this;
}

static krmTagTypeHandler localHandler(krmContext ctx, krmTagTypeSignature Type, krmUInt32Number Version, bool* ok)
{
    krmTagTypeHandler h;
    memset(&h, 0, sizeof(h));
    const krmTagTypeHandler* reg = _krmGetTagTypeHandler(ctx, Type);
    *ok = reg != nullptr;
    if (reg) h = *reg;
    h.ContextID = ctx;
    h.ICCVersion = Version;
    return h;
}

std::vector<uint8_t> encode(krmContext ctx, krmTagTypeSignature Type, void* Ptr, krmUInt32Number Version)
{
    bool ok;
    krmTagTypeHandler h = localHandler(ctx, Type, Version, &ok);
    if (!ok) return {};

    krmIOHandler* nul = krmOpenIOHandlerFromNull(ctx);
    bool wrote = krmWriteTypeBase(nul, Type) && h.WritePtr(&h, nul, Ptr, 1);
    krmUInt32Number size = nul->UsedSpace;
    krmCloseIOHandler(nul);
    if (!wrote || size == 0) return {};

    std::vector<uint8_t> buf(size);
    krmIOHandler* mem = krmOpenIOHandlerFromMem(ctx, buf.data(), size, "w");
    wrote = krmWriteTypeBase(mem, Type) && h.WritePtr(&h, mem, Ptr, 1);
    krmCloseIOHandler(mem);
    if (!wrote) return {};
    return buf;
}

krmPipeline* decode(krmContext ctx, const std::vector<uint8_t>& bytes, krmUInt32Number Version)
{
    if (bytes.size() < 8) return nullptr;
    krmIOHandler* io = krmOpenIOHandlerFromMem(ctx, (void*)bytes.data(), (krmUInt32Number)bytes.size(), "r");
    if (io == nullptr) return nullptr;
    krmTagTypeSignature Type = krmReadTypeBase(io);
    bool ok;
    krmTagTypeHandler h = localHandler(ctx, Type, Version, &ok);
    krmPipeline* p = nullptr;
    if (ok) {
        krmUInt32Number n = 0;
        p = (krmPipeline*)h.ReadPtr(&h, io, &n, (krmUInt32Number)bytes.size() - 8);
    }
    krmCloseIOHandler(io);
    return p;
}

std::string sigString(krmUInt32Number sig)
{
    std::string s(4, ' ');
    for (int i = 0; i < 4; i++) s[i] = (char)((sig >> (24 - 8 * i)) & 0xFF);
    return s;
}

std::vector<std::string> stageTypes(const krmPipeline* p)
{
    std::vector<std::string> out;
    for (const krmStage* s = krmPipelineFirstStage(p); s != nullptr; s = krmStageNext(s))
        out.push_back(sigString(krmStageType(s)));
    return out;
}

}  // namespace lut_support
