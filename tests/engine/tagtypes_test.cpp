// Basic and structured tag types: the real-profile corpus in permissive and strict reading,
// round trips through saved profiles, the figures of the standard, and malformed tags.

#include "krm_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<krmUInt8Number>;

// ---------------------------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------------------------

struct Message {
    krmUInt32Number code;
    std::string text;
};
std::vector<Message> g_messages;

void capture(krmContext, krmUInt32Number code, const char* text)
{
    g_messages.push_back({code, text});
}

std::vector<std::string> texts()
{
    std::vector<std::string> r;
    for (const Message& m : g_messages)
        r.push_back(m.text);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Byte building
// ---------------------------------------------------------------------------------------------

struct Writer {
    Bytes b;
    Writer& u8(krmUInt32Number v)
    {
        b.push_back(krmUInt8Number(v));
        return *this;
    }
    Writer& u16(krmUInt32Number v) { return u8(v >> 8).u8(v); }
    Writer& u32(krmUInt32Number v) { return u16(v >> 16).u16(v); }
    Writer& u64(krmUInt64Number v) { return u32(krmUInt32Number(v >> 32)).u32(krmUInt32Number(v)); }
    Writer& s15(double v) { return u32(krmUInt32Number(krmInt32Number(std::floor(v * 65536.0 + 0.5)))); }
    Writer& sig(const char (&s)[5]) { return u32(krmSig(s)); }
    Writer& base(const char (&s)[5]) { return sig(s).u32(0); }
    Writer& str(const std::string& s) { return raw(Bytes(s.begin(), s.end())); }
    Writer& fixedStr(const std::string& s, size_t n)
    {
        Bytes f(n, 0);
        std::copy_n(s.begin(), std::min(n, s.size()), f.begin());
        return raw(f);
    }
    Writer& utf16(const std::u16string& s)
    {
        for (char16_t c : s)
            u16(c);
        return *this;
    }
    Writer& raw(const Bytes& r)
    {
        b.insert(b.end(), r.begin(), r.end());
        return *this;
    }
    Writer& zeros(size_t n) { return raw(Bytes(n, 0)); }
    Writer& pad4()
    {
        while (b.size() % 4)
            b.push_back(0);
        return *this;
    }
    size_t size() const { return b.size(); }
    void put32(size_t at, krmUInt32Number v)
    {
        for (int i = 0; i < 4; i++)
            b[at + i] = krmUInt8Number(v >> (24 - 8 * i));
    }
};

struct TagSpec {
    krmTagSignature sig;
    Bytes data;  // type base included
};

// A minimal profile holding the given tags, each at a 4-byte aligned offset.
Bytes makeProfile(const std::vector<TagSpec>& tags, krmUInt32Number version = 0x04400000)
{
    Writer w;
    w.u32(0).sig("crvn").u32(version).sig("mntr").sig("RGB ").sig("XYZ ");
    w.u16(2026).u16(12).u16(9).u16(7).u16(0).u16(0);
    w.sig("acsp").sig("APPL").u32(0).u32(0).u32(0).u64(0).u32(0);
    w.s15(0.9642).s15(1.0).s15(0.8249).sig("crvn").zeros(16).zeros(28);
    w.u32(krmUInt32Number(tags.size()));
    size_t dir = w.size();
    w.zeros(12 * tags.size());
    for (size_t i = 0; i < tags.size(); i++) {
        w.pad4();
        size_t off = w.size();
        w.raw(tags[i].data);
        w.put32(dir + 12 * i, tags[i].sig);
        w.put32(dir + 12 * i + 4, krmUInt32Number(off));
        w.put32(dir + 12 * i + 8, krmUInt32Number(tags[i].data.size()));
    }
    w.pad4();
    w.put32(0, krmUInt32Number(w.size()));
    return w.b;
}

// The bytes of one tag as the directory of a profile image records them.
Bytes tagBytes(const Bytes& profile, krmTagSignature sig)
{
    auto rd = [&](size_t at) {
        return krmUInt32Number(profile[at]) << 24 | krmUInt32Number(profile[at + 1]) << 16 |
               krmUInt32Number(profile[at + 2]) << 8 | profile[at + 3];
    };
    krmUInt32Number n = rd(128);
    for (krmUInt32Number i = 0; i < n; i++)
        if (rd(132 + 12 * i) == sig) {
            krmUInt32Number off = rd(136 + 12 * i), size = rd(140 + 12 * i);
            return Bytes(profile.begin() + off, profile.begin() + off + size);
        }
    return {};
}

krmTagTypeSignature typeOf(const Bytes& tag)
{
    if (tag.size() < 4)
        return 0;
    return krmUInt32Number(tag[0]) << 24 | krmUInt32Number(tag[1]) << 16 | krmUInt32Number(tag[2]) << 8 | tag[3];
}

std::string sigText(krmUInt32Number s)
{
    std::string r;
    for (int i = 3; i >= 0; i--)
        r += char(s >> (8 * i));
    return r;
}

Bytes readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<std::string> corpus()
{
    std::vector<std::string> files;
    for (const char* dir : {"/usr/share/color/icc/colord", "/usr/share/color/icc/ghostscript"}) {
        DIR* d = opendir(dir);
        if (d == nullptr)
            continue;
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 4 && n.substr(n.size() - 4) == ".icc")
                files.push_back(std::string(dir) + "/" + n);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool isLutType(krmTagTypeSignature t)
{
    return t == krmSig("mft1") || t == krmSig("mft2") || t == krmSig("mAB ") || t == krmSig("mBA ") ||
           t == krmSig("mpet");
}

// ---------------------------------------------------------------------------------------------
// Contexts: strict, and permissive with private tags for the types no public tag holds
// ---------------------------------------------------------------------------------------------

krmPluginTag privateTag(const char (&sig)[5], const char (&type)[5], krmUInt32Number count, krmPluginTag* next)
{
    krmPluginTag p{};
    p.base.Magic = krmPluginMagicNumber;
    p.base.ExpectedVersion = 2190;
    p.base.Type = krmPluginTagSig;
    p.base.Next = &next->base;
    p.Signature = krmSig(sig);
    p.Descriptor.ElemCount = count;
    p.Descriptor.nSupportedTypes = 1;
    p.Descriptor.SupportedTypes[0] = krmSig(type);
    return p;
}

krmPluginTag g_permissive = [] {
    krmPluginTag p{};
    p.base.Magic = krmPluginMagicNumber;
    p.base.ExpectedVersion = 2190;
    p.base.Type = krmPluginTagSig;
    return p;
}();
krmPluginTag g_ui64 = privateTag("zu64", "ui64", 3, &g_permissive);
krmPluginTag g_ui32 = privateTag("zu32", "ui32", 3, &g_ui64);
krmPluginTag g_ui08 = privateTag("zu08", "ui08", 5, &g_ui32);
krmPluginTag g_uf32 = privateTag("zf32", "uf32", 2, &g_ui08);

class TagTypes : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_messages.clear();
        strict = krmCreateContext(nullptr, nullptr);
        permissive = krmCreateContext(&g_uf32, nullptr);
        ASSERT_NE(strict, nullptr);
        ASSERT_NE(permissive, nullptr);
        krmSetLogErrorHandlerInContext(strict, capture);
        krmSetLogErrorHandlerInContext(permissive, capture);
    }
    void TearDown() override
    {
        for (krmProfile p : open)
            krmCloseProfile(p);
        krmDeleteContext(strict);
        krmDeleteContext(permissive);
    }

    krmProfile openMem(krmContext ctx, const Bytes& b)
    {
        krmProfile p = krmOpenProfileFromMemInContext(ctx, b.data(), krmUInt32Number(b.size()));
        if (p != nullptr)
            open.push_back(p);
        return p;
    }

    Bytes save(krmProfile p)
    {
        krmUInt32Number size = 0;
        EXPECT_TRUE(krmSaveProfileToMem(p, nullptr, &size));
        Bytes b(size);
        EXPECT_TRUE(krmSaveProfileToMem(p, b.data(), &size));
        return b;
    }

    // Writes obj under sig into a new profile of the version, saves it and reopens it.
    krmProfile rewrite(krmContext ctx, krmTagSignature sig, const void* obj, double version, Bytes* saved = nullptr)
    {
        krmProfile np = krmCreateProfilePlaceholder(ctx);
        open.push_back(np);
        krmSetProfileVersion(np, version);
        EXPECT_TRUE(krmWriteTag(np, sig, obj)) << sigText(sig) << " " << (texts().empty() ? "" : texts().back());
        Bytes b = save(np);
        if (saved)
            *saved = b;
        return openMem(ctx, b);
    }

    krmContext strict = nullptr;
    krmContext permissive = nullptr;
    std::vector<krmProfile> open;
};

// ---------------------------------------------------------------------------------------------
// Object comparison, by the type the tag was decoded from and the type it was written as
// ---------------------------------------------------------------------------------------------

std::u16string wideOf(const krmMLU* m, const char* lang, const char* cntry)
{
    krmUInt32Number n = krmMLUGetWide(m, lang, cntry, nullptr, 0);
    if (n == 0)
        return u"<none>";
    std::vector<krmWChar> buf(n / 2 + 1);
    krmMLUGetWide(m, lang, cntry, buf.data(), n);
    return buf.data();
}

std::string asciiOf(const krmMLU* m, const char* lang, const char* cntry)
{
    krmUInt32Number n = krmMLUGetASCII(m, lang, cntry, nullptr, 0);
    if (n == 0)
        return "<none>";
    std::vector<char> buf(n);
    krmMLUGetASCII(m, lang, cntry, buf.data(), n);
    return buf.data();
}

void expectSameMLU(const krmMLU* a, const krmMLU* b)
{
    ASSERT_EQ(a == nullptr, b == nullptr);
    if (a == nullptr)
        return;
    ASSERT_EQ(krmMLUTranslationsCount(a), krmMLUTranslationsCount(b));
    for (krmUInt32Number i = 0; i < krmMLUTranslationsCount(a); i++) {
        char la[3], ca[3], lb[3], cb[3];
        krmMLUTranslationCodes(a, i, la, ca);
        krmMLUTranslationCodes(b, i, lb, cb);
        EXPECT_EQ(std::string(la, 2) + std::string(ca, 2), std::string(lb, 2) + std::string(cb, 2));
        EXPECT_EQ(wideOf(a, la, ca), wideOf(b, lb, cb));
    }
}

// Text as the written type can carry it.
void expectSameText(const krmMLU* a, const krmMLU* b, krmTagTypeSignature written)
{
    if (written == krmSig("mluc"))
        return expectSameMLU(a, b);
    EXPECT_EQ(asciiOf(a, "", ""), asciiOf(b, "", ""));
    if (written == krmSig("desc")) {
        std::u16string wa = wideOf(a, "\xFF\xFF", "\xFF\xFF");
        std::u16string wb = wideOf(b, "\xFF\xFF", "\xFF\xFF");
        // The Unicode part has the length of the ASCII part.
        EXPECT_EQ(wa.substr(0, asciiOf(a, "", "").size()), wb);
    }
}

void expectSameCurve(const krmToneCurve* a, const krmToneCurve* b, double tol)
{
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    for (int i = 0; i <= 1024; i++) {
        krmFloat32Number x = krmFloat32Number(i / 1024.0);
        ASSERT_NEAR(krmEvalToneCurveFloat(a, x), krmEvalToneCurveFloat(b, x), tol) << "x=" << x;
    }
}

void expectSameNamedColors(const krmNamedColorList* a, const krmNamedColorList* b)
{
    ASSERT_EQ(krmNamedColorCount(a), krmNamedColorCount(b));
    ASSERT_EQ(krmNamedColorColorantCount(a), krmNamedColorColorantCount(b));
    for (krmUInt32Number i = 0; i < krmNamedColorCount(a); i++) {
        char na[256], nb[256], pa[33], pb[33], sa[33], sb[33];
        krmUInt16Number pcsA[3], pcsB[3], da[16] = {}, db[16] = {};
        ASSERT_TRUE(krmNamedColorInfo(a, i, na, pa, sa, pcsA, da));
        ASSERT_TRUE(krmNamedColorInfo(b, i, nb, pb, sb, pcsB, db));
        EXPECT_STREQ(na, nb);
        EXPECT_STREQ(pa, pb);
        EXPECT_STREQ(sa, sb);
        EXPECT_TRUE(std::equal(pcsA, pcsA + 3, pcsB));
        EXPECT_TRUE(std::equal(da, da + 16, db));
    }
}

void expectSameSequence(const krmSequence* a, const krmSequence* b, krmTagTypeSignature written, bool ids)
{
    ASSERT_EQ(a->n, b->n);
    for (krmUInt32Number i = 0; i < a->n; i++) {
        const krmPSEQDESC &x = a->seq[i], &y = b->seq[i];
        if (ids) {
            EXPECT_EQ(0, std::memcmp(x.ProfileID, y.ProfileID, 16));
            expectSameText(x.Description, y.Description, written);
        } else {
            EXPECT_EQ(x.deviceMfg, y.deviceMfg);
            EXPECT_EQ(x.deviceModel, y.deviceModel);
            EXPECT_EQ(x.attributes, y.attributes);
            EXPECT_EQ(x.technology, y.technology);
            expectSameText(x.Manufacturer, y.Manufacturer, written);
            expectSameText(x.Model, y.Model, written);
        }
    }
}

void expectSameDict(const krmDict* a, const krmDict* b)
{
    const krmDICTentry *x = krmDictGetEntryList(a), *y = krmDictGetEntryList(b);
    for (; x != nullptr && y != nullptr; x = krmDictNextEntry(x), y = krmDictNextEntry(y)) {
        EXPECT_EQ(std::u16string(x->Name), std::u16string(y->Name));
        EXPECT_EQ(std::u16string(x->Value ? x->Value : u""), std::u16string(y->Value ? y->Value : u""));
        expectSameMLU(x->DisplayName, y->DisplayName);
        expectSameMLU(x->DisplayValue, y->DisplayValue);
    }
    EXPECT_EQ(x, nullptr);
    EXPECT_EQ(y, nullptr);
}

// Compares the decoded objects of one tag: `type` is the stored type of a, `written` that of b.
// Texts inside sequences are written as `embedded`.
void expectSameObject(krmTagTypeSignature type, krmTagTypeSignature written, const void* a, const void* b,
                      krmTagTypeSignature embedded = krmSig("desc"))
{
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    switch (type) {
    case krmSig("text"):
    case krmSig("desc"):
    case krmSig("mluc"):
        return expectSameText((const krmMLU*)a, (const krmMLU*)b, written);
    case krmSig("crdi"):
        return expectSameMLU((const krmMLU*)a, (const krmMLU*)b);
    case krmSig("curv"):
    case krmSig("para"):
    case 0x9478EE00u:
        // 'curv' stores a single gamma in u8Fixed8.
        return expectSameCurve((const krmToneCurve*)a, (const krmToneCurve*)b, written == krmSig("curv") ? 2e-3 : 1e-6);
    case krmSig("ncl2"):
    case krmSig("clrt"):
        return expectSameNamedColors((const krmNamedColorList*)a, (const krmNamedColorList*)b);
    case krmSig("pseq"):
    case krmSig("psid"): {
        return expectSameSequence((const krmSequence*)a, (const krmSequence*)b, embedded, type == krmSig("psid"));
    }
    case krmSig("dict"):
        return expectSameDict((const krmDict*)a, (const krmDict*)b);
    case krmSig("vcgt"):
        for (int i = 0; i < 3; i++)
            expectSameCurve(((const krmVcgtCurves*)a)->Curves[i], ((const krmVcgtCurves*)b)->Curves[i], 2.0 / 65535);
        return;
    case krmSig("bfd "): {
        auto ua = (const krmUcrBg*)a;
        auto ub = (const krmUcrBg*)b;
        expectSameCurve(ua->Ucr, ub->Ucr, 1e-6);
        expectSameCurve(ua->Bg, ub->Bg, 1e-6);
        EXPECT_EQ(asciiOf(ua->Desc, "", ""), asciiOf(ub->Desc, "", ""));
        return;
    }
    case krmSig("MHC2"): {
        auto ma = (const krmMHC2*)a;
        auto mb = (const krmMHC2*)b;
        ASSERT_EQ(ma->CurveEntries, mb->CurveEntries);
        EXPECT_EQ(ma->MinLuminance, mb->MinLuminance);
        EXPECT_EQ(ma->PeakLuminance, mb->PeakLuminance);
        EXPECT_EQ(0, std::memcmp(ma->XYZ2XYZmatrix, mb->XYZ2XYZmatrix, sizeof ma->XYZ2XYZmatrix));
        for (krmUInt32Number i = 0; i < ma->CurveEntries; i++) {
            EXPECT_EQ(ma->RedCurve[i], mb->RedCurve[i]);
            EXPECT_EQ(ma->GreenCurve[i], mb->GreenCurve[i]);
            EXPECT_EQ(ma->BlueCurve[i], mb->BlueCurve[i]);
        }
        return;
    }
    default:
        break;
    }
    // Fixed-size records: zero-filled before decoding, so whole-record comparison is exact.
    size_t size = 0;
    switch (type) {
    case krmSig("XYZ "):
    case 0x17A505B8u: size = sizeof(krmCIEXYZ); break;
    case krmSig("sig "): size = 4; break;
    case krmSig("dtim"): size = sizeof(krmDateTime); break;
    case krmSig("meas"): size = sizeof(krmMeasurement); break;
    case krmSig("view"): size = sizeof(krmViewingConditions); break;
    case krmSig("chrm"): size = sizeof(krmPrimaries); break;
    case krmSig("clro"): size = sizeof(krmColorantOrder); break;
    case krmSig("cicp"): size = sizeof(krmVideoSignal); break;
    case krmSig("scrn"): size = sizeof(krmScreening); break;
    case krmSig("sf32"): size = 9 * sizeof(double); break;  // 'chad' and 'arts'
    case krmSig("uf32"): size = 2 * sizeof(double); break;  // the private tags of this test
    case krmSig("ui08"): size = 5; break;
    case krmSig("ui32"): size = 3 * 4; break;
    case krmSig("ui64"): size = 3 * 8; break;
    case krmSig("data"): size = offsetof(krmICCData, data) + ((const krmICCData*)a)->len; break;
    default: FAIL() << "no comparison for " << sigText(type);
    }
    EXPECT_EQ(0, std::memcmp(a, b, size)) << sigText(type);
}

// Byte identity where the written form is canonical. Padding of up to three bytes that the
// original counted in its size does not count (some writers fill it with garbage).
void expectSameBytes(const Bytes& original, const Bytes& written, const std::string& what)
{
    ASSERT_LE(written.size(), original.size()) << what;
    EXPECT_LT(original.size() - written.size(), 4u) << what;
    EXPECT_TRUE(std::equal(written.begin(), written.end(), original.begin())) << what;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The corpus
// ---------------------------------------------------------------------------------------------

TEST_F(TagTypes, EveryNonLutCorpusTagDecodesPermissively)
{
    std::vector<std::string> files = corpus();
    ASSERT_GT(files.size(), 10u);
    int decoded = 0;
    for (const std::string& file : files) {
        Bytes image = readFile(file);
        krmProfile p = openMem(permissive, image);
        ASSERT_NE(p, nullptr) << file;
        for (krmInt32Number i = 0; i < krmGetTagCount(p); i++) {
            krmTagSignature sig = krmGetTagSignature(p, i);
            krmTagTypeSignature type = typeOf(tagBytes(image, sig));
            if (isLutType(type))
                continue;
            g_messages.clear();
            EXPECT_NE(krmReadTag(p, sig), nullptr) << file << " " << sigText(sig) << " " << sigText(type);
            EXPECT_TRUE(g_messages.empty()) << file << " " << sigText(sig) << ": " << g_messages[0].text;
            EXPECT_EQ(krmGetTagStoredType(p, sig), type);
            decoded++;
        }
    }
    EXPECT_GT(decoded, 300);
}

TEST_F(TagTypes, StrictReadingRefusesExactlyWhatDescriptorsRefuse)
{
    for (const std::string& file : corpus()) {
        Bytes image = readFile(file);
        krmProfile p = openMem(strict, image);
        ASSERT_NE(p, nullptr) << file;
        for (krmInt32Number i = 0; i < krmGetTagCount(p); i++) {
            krmTagSignature sig = krmGetTagSignature(p, i);
            krmTagTypeSignature type = typeOf(tagBytes(image, sig));
            if (isLutType(type))
                continue;
            const krmTagDescriptor* d = _krmGetTagDescriptor(strict, sig);
            g_messages.clear();
            void* obj = krmReadTag(p, sig);
            std::string where = file + " " + sigText(sig);
            if (d == nullptr) {
                EXPECT_EQ(obj, nullptr) << where;
                EXPECT_EQ(texts(), std::vector<std::string>{"Unknown tag signature '" + sigText(sig) + "' found."}) << where;
            } else if (!_krmIsTypeSupported(d, type)) {
                EXPECT_EQ(obj, nullptr) << where;
                EXPECT_TRUE(g_messages.empty()) << where;
            } else {
                EXPECT_NE(obj, nullptr) << where;
                EXPECT_TRUE(g_messages.empty()) << where << ": " << g_messages[0].text;
            }
        }
    }
}

// Every corpus tag, written into new version 2 and version 4 profiles, reads back equal; where
// the written type is the stored type and its layout is canonical, byte for byte.
TEST_F(TagTypes, CorpusTagsRoundTripThroughVersion2And4)
{
    const std::vector<krmTagTypeSignature> canonical = {krmSig("XYZ "), krmSig("sf32"), krmSig("chrm"),
                                                        krmSig("para"), krmSig("curv"), krmSig("ncl2"),
                                                        krmSig("vcgt"), krmSig("mluc"), krmSig("dict")};
    int compared = 0, identical = 0;
    for (const std::string& file : corpus()) {
        Bytes image = readFile(file);
        krmProfile p = openMem(strict, image);
        ASSERT_NE(p, nullptr);
        for (krmInt32Number i = 0; i < krmGetTagCount(p); i++) {
            krmTagSignature sig = krmGetTagSignature(p, i);
            Bytes original = tagBytes(image, sig);
            krmTagTypeSignature type = typeOf(original);
            const krmTagDescriptor* d = _krmGetTagDescriptor(strict, sig);
            if (isLutType(type) || d == nullptr || !_krmIsTypeSupported(d, type))
                continue;
            const void* obj = krmReadTag(p, sig);
            ASSERT_NE(obj, nullptr);
            for (double version : {2.1, 4.3}) {
                SCOPED_TRACE(file + " " + sigText(sig) + " v" + std::to_string(version));
                Bytes saved;
                krmProfile back = rewrite(strict, sig, obj, version, &saved);
                ASSERT_NE(back, nullptr);
                Bytes written = tagBytes(saved, sig);
                const void* again = krmReadTag(back, sig);
                expectSameObject(type, typeOf(written), obj, again, version >= 4 ? krmSig("mluc") : krmSig("desc"));
                compared++;
                if (typeOf(written) == type &&
                    std::find(canonical.begin(), canonical.end(), type) != canonical.end()) {
                    // A 'vcgt' is written as 256 two-byte entries or as a formula.
                    bool vcgtCanonical = type != krmSig("vcgt") || original.size() == 1588 || original.size() == 48;
                    // A 'curv' of count 0 (identity) is written as gamma 1.0.
                    bool curvCanonical = type != krmSig("curv") || original.size() > 12;
                    if (vcgtCanonical && curvCanonical) {
                        expectSameBytes(original, written, "bytes");
                        identical++;
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 400);
    EXPECT_GT(identical, 300);
}

// ---------------------------------------------------------------------------------------------
// Hand-made tags of every type: decode, check against the figures, round trip
// ---------------------------------------------------------------------------------------------

namespace {

// 'desc' as written here: ASCII and Unicode of the same length, an empty ScriptCode part,
// padded to a multiple of 4.
Bytes descTag(const std::string& ascii, bool padded = true)
{
    Writer w;
    w.base("desc").u32(krmUInt32Number(ascii.size() + 1)).str(ascii).u8(0);
    w.u32(0).u32(krmUInt32Number(ascii.size() + 1));
    for (char c : ascii)
        w.u16(krmUInt8Number(c));
    w.u16(0).u16(0).u8(0).zeros(67);
    if (padded)
        w.pad4();
    return w.b;
}

// 'mluc' with the texts one after another in record order.
Bytes mlucBody(const std::vector<std::pair<std::string, std::u16string>>& entries, bool withBase = true)
{
    Writer w;
    if (withBase)
        w.base("mluc");
    w.u32(krmUInt32Number(entries.size())).u32(12);
    krmUInt32Number offset = 16 + 12 * krmUInt32Number(entries.size());
    for (const auto& e : entries) {
        w.str(e.first.substr(0, 4)).u32(krmUInt32Number(e.second.size() * 2)).u32(offset);
        offset += krmUInt32Number(e.second.size() * 2);
    }
    for (const auto& e : entries)
        w.utf16(e.second);
    return w.b;
}

struct Sample {
    const char* what;
    krmTagSignature sig;
    double version;
    Bytes data;
    bool canonical;  // written back byte for byte
    std::function<void(const void*)> check;
};

std::vector<Sample> samples()
{
    std::vector<Sample> s;
    s.push_back({"XYZ", krmSig("wtpt"), 4.3, Writer().base("XYZ ").s15(0.9642).s15(1.0).s15(0.8249).b, true,
                 [](const void* p) {
                     auto xyz = (const krmCIEXYZ*)p;
                     EXPECT_NEAR(xyz->X, 0.9642, 1.0 / 65536);
                     EXPECT_EQ(xyz->Y, 1.0);
                 }});
    s.push_back({"XYZ under the numeric signature", krmSig("rXYZ"), 2.1,
                 Writer().u32(0x17A505B8).u32(0).s15(0.4361).s15(0.2225).s15(0.0139).b, false,
                 [](const void* p) { EXPECT_NEAR(((const krmCIEXYZ*)p)->Y, 0.2225, 1.0 / 65536); }});
    s.push_back({"sf32", krmSig("chad"), 4.3,
                 Writer().base("sf32").s15(1.0479).s15(0.0229).s15(-0.0502).s15(0.0296).s15(0.9904).s15(-0.0171)
                     .s15(-0.0092).s15(0.0151).s15(0.7519).b,
                 true, [](const void* p) { EXPECT_NEAR(((const double*)p)[2], -0.0502, 1.0 / 65536); }});
    s.push_back({"uf32", krmSig("zf32"), 4.3, Writer().base("uf32").u32(0x00018000).u32(0xFFFFFFFF).b, true,
                 [](const void* p) {
                     EXPECT_EQ(((const double*)p)[0], 1.5);
                     EXPECT_EQ(((const double*)p)[1], 4294967295.0 / 65536);
                 }});
    s.push_back({"ui08", krmSig("zu08"), 4.3, Writer().base("ui08").u8(0).u8(1).u8(127).u8(128).u8(255).b, true,
                 [](const void* p) { EXPECT_EQ(((const krmUInt8Number*)p)[4], 255); }});
    s.push_back({"ui32", krmSig("zu32"), 4.3, Writer().base("ui32").u32(1).u32(0x80000000).u32(0xFFFFFFFF).b, true,
                 [](const void* p) { EXPECT_EQ(((const krmUInt32Number*)p)[1], 0x80000000u); }});
    s.push_back({"ui64", krmSig("zu64"), 4.3, Writer().base("ui64").u64(1).u64(0x0102030405060708ull).u64(~0ull).b,
                 true, [](const void* p) { EXPECT_EQ(((const krmUInt64Number*)p)[1], 0x0102030405060708ull); }});
    s.push_back({"sig", krmSig("tech"), 4.3, Writer().base("sig ").sig("fscn").b, true,
                 [](const void* p) { EXPECT_EQ(*(const krmSignature*)p, krmSig("fscn")); }});
    s.push_back({"dtim", krmSig("calt"), 4.3,
                 Writer().base("dtim").u16(2026).u16(12).u16(9).u16(7).u16(30).u16(15).b, true, [](const void* p) {
                     auto tm = (const krmDateTime*)p;
                     EXPECT_EQ(tm->tm_year, 126);
                     EXPECT_EQ(tm->tm_mon, 11);
                     EXPECT_EQ(tm->tm_mday, 9);
                     EXPECT_EQ(tm->tm_sec, 15);
                 }});
    s.push_back({"data", krmSig("ps2i"), 4.3, Writer().base("data").u32(1).u8(0).u8(1).u8(2).u8(0xFF).u8(0xFE).b,
                 true, [](const void* p) {
                     auto d = (const krmICCData*)p;
                     EXPECT_EQ(d->len, 5u);
                     EXPECT_EQ(d->flag, 1u);
                     EXPECT_EQ(d->data[3], 0xFF);
                 }});
    s.push_back({"meas", krmSig("meas"), 4.3,
                 Writer().base("meas").u32(1).s15(0.0).s15(0.0).s15(0.0).u32(2).s15(0.5).u32(1).b, true,
                 [](const void* p) {
                     auto m = (const krmMeasurement*)p;
                     EXPECT_EQ(m->Observer, 1u);
                     EXPECT_EQ(m->Geometry, 2u);
                     EXPECT_EQ(m->Flare, 0.5);
                     EXPECT_EQ(m->IlluminantType, 1u);
                 }});
    s.push_back({"view", krmSig("view"), 4.3,
                 Writer().base("view").s15(19.6445).s15(20.3718).s15(16.8089).s15(3.9289).s15(4.0744).s15(3.3618)
                     .u32(1).b,
                 true, [](const void* p) {
                     EXPECT_NEAR(((const krmViewingConditions*)p)->IlluminantXYZ.Y, 20.3718, 1.0 / 65536);
                 }});
    s.push_back({"chrm", krmSig("chrm"), 4.3,
                 Writer().base("chrm").u16(3).u16(0).s15(0.64).s15(0.33).s15(0.30).s15(0.60).s15(0.15).s15(0.06).b,
                 true, [](const void* p) {
                     auto c = (const krmPrimaries*)p;
                     EXPECT_NEAR(c->Green.y, 0.60, 1.0 / 65536);
                     EXPECT_EQ(c->Blue.Y, 1.0);
                 }});
    s.push_back({"clro", krmSig("clro"), 4.3, Writer().base("clro").u32(4).u8(3).u8(2).u8(1).u8(0).b, true,
                 [](const void* p) {
                     auto o = (const krmColorantOrder*)p;
                     EXPECT_EQ(o->Order[0], 3);
                     EXPECT_EQ(o->Order[3], 0);
                     EXPECT_EQ(o->Order[4], 0xFF);
                 }});
    s.push_back({"cicp", krmSig("cicp"), 4.4, Writer().base("cicp").u8(9).u8(16).u8(0).u8(1).b, true,
                 [](const void* p) {
                     auto v = (const krmVideoSignal*)p;
                     EXPECT_EQ(v->ColourPrimaries, 9);
                     EXPECT_EQ(v->TransferCharacteristics, 16);
                     EXPECT_EQ(v->VideoFullRangeFlag, 1);
                 }});
    s.push_back({"text", krmSig("targ"), 2.1, Writer().base("text").str("CGATS.17").u8(0).b, true,
                 [](const void* p) { EXPECT_EQ(asciiOf((const krmMLU*)p, "", ""), "CGATS.17"); }});
    s.push_back({"desc", krmSig("scrd"), 2.1, descTag("Screening description"), true, [](const void* p) {
                     EXPECT_EQ(asciiOf((const krmMLU*)p, "", ""), "Screening description");
                     EXPECT_EQ(krmMLUTranslationsCount((const krmMLU*)p), 2u);
                 }});
    s.push_back({"mluc", krmSig("dscm"), 4.3, mlucBody({{"enUS", u"Hello"}, {"deDE", u"Gr\u00FC\u00DFe"}}), true,
                 [](const void* p) { EXPECT_EQ(wideOf((const krmMLU*)p, "de", "AT"), u"Gr\u00FC\u00DFe"); }});
    s.push_back({"curv table", krmSig("kTRC"), 2.1,
                 Writer().base("curv").u32(5).u16(0).u16(4096).u16(16384).u16(40000).u16(65535).b, true,
                 [](const void* p) {
                     EXPECT_NEAR(krmEvalToneCurve16((const krmToneCurve*)p, 0x8000), 16384, 1);
                     EXPECT_EQ(krmEvalToneCurve16((const krmToneCurve*)p, 0xFFFF), 65535);
                 }});
    s.push_back({"curv gamma", krmSig("kTRC"), 2.1, Writer().base("curv").u32(1).u16(0x0233).b, true,
                 [](const void* p) {
                     EXPECT_EQ(krmGetToneCurveSegment((const krmToneCurve*)p, 0)->Params[0], 2.19921875);
                 }});
    s.push_back({"para sRGB", krmSig("kTRC"), 4.3,
                 Writer().base("para").u16(3).u16(0).s15(2.4).s15(1 / 1.055).s15(0.055 / 1.055).s15(1 / 12.92)
                     .s15(0.04045).b,
                 true, [](const void* p) {
                     // The sRGB decoding of 0.5 is ((0.5 + 0.055) / 1.055)^2.4.
                     EXPECT_NEAR(krmEvalToneCurveFloat((const krmToneCurve*)p, 0.5f), 0.2140411, 1e-4);
                     EXPECT_NEAR(krmEvalToneCurveFloat((const krmToneCurve*)p, 0.02f), 0.02 / 12.92, 1e-5);
                 }});
    s.push_back({"para type 4", krmSig("kTRC"), 4.3,
                 Writer().base("para").u16(4).u16(0).s15(2.2).s15(0.9).s15(0.1).s15(0.5).s15(0.1).s15(0.01)
                     .s15(0.02).b,
                 true, [](const void* p) {
                     const krmCurveSegment* seg = krmGetToneCurveSegment((const krmToneCurve*)p, 0);
                     EXPECT_EQ(seg->Type, 5);
                     EXPECT_NEAR(seg->Params[6], 0.02, 1.0 / 65536);  // all seven read
                 }});
    s.push_back({"clrt", krmSig("clrt"), 4.3,
                 Writer().base("clrt").u32(2).fixedStr("Cyan", 32).u16(100).u16(200).u16(300)
                     .fixedStr(std::string(32, 'M'), 32).u16(1).u16(2).u16(3).b,
                 true, [](const void* p) {
                     char name[256];
                     ASSERT_TRUE(krmNamedColorInfo((const krmNamedColorList*)p, 1, name, nullptr, nullptr, nullptr,
                                                   nullptr));
                     EXPECT_EQ(std::string(name), std::string(32, 'M'));  // all 32 characters kept
                 }});
    s.push_back({"ncl2", krmSig("ncl2"), 4.3,
                 Writer().base("ncl2").u32(0).u32(2).u32(3).fixedStr("PANTONE ", 32).fixedStr(" C", 32)
                     .fixedStr("Red 032", 32).u16(1).u16(2).u16(3).u16(10).u16(20).u16(30)
                     .fixedStr("Blue 072", 32).u16(4).u16(5).u16(6).u16(40).u16(50).u16(60).b,
                 true, [](const void* p) {
                     char name[256], prefix[33];
                     krmUInt16Number dev[16];
                     ASSERT_TRUE(krmNamedColorInfo((const krmNamedColorList*)p, 1, name, prefix, nullptr, nullptr, dev));
                     EXPECT_STREQ(name, "Blue 072");
                     EXPECT_STREQ(prefix, "PANTONE ");
                     EXPECT_EQ(dev[2], 60);
                 }});
    {
        Writer w;
        w.base("pseq").u32(2);
        // Embedded texts follow each other without padding.
        w.sig("ACME").sig("M001").u64(1).sig("fscn").raw(descTag("Acme", false)).raw(descTag("Scanner", false));
        w.sig("CRVN").sig("M002").u64(0).sig("dcam").raw(descTag("Corvane", false)).raw(descTag("Camera", false));
        s.push_back({"pseq", krmSig("pseq"), 2.1, w.b, true, [](const void* p) {
                         auto seq = (const krmSequence*)p;
                         ASSERT_EQ(seq->n, 2u);
                         EXPECT_EQ(seq->seq[1].technology, krmSig("dcam"));
                         EXPECT_EQ(asciiOf(seq->seq[1].Model, "", ""), "Camera");
                         EXPECT_EQ(seq->seq[1].Description, nullptr);
                     }});
    }
    {
        Bytes t1 = mlucBody({{"enUS", u"first"}}), t2 = mlucBody({{"enUS", u"second one"}});
        Writer w;
        w.base("psid").u32(2);
        krmUInt32Number off1 = 12 + 16, size1 = 16 + krmUInt32Number(t1.size());
        w.u32(off1).u32(size1).u32(off1 + size1).u32(16 + krmUInt32Number(t2.size()));
        w.raw(Bytes(16, 0xA1)).raw(t1).raw(Bytes(16, 0xB2)).raw(t2);
        s.push_back({"psid", krmSig("psid"), 4.3, w.b, true, [](const void* p) {
                         auto seq = (const krmSequence*)p;
                         ASSERT_EQ(seq->n, 2u);
                         EXPECT_EQ(seq->seq[1].ProfileID[15], 0xB2);
                         EXPECT_EQ(wideOf(seq->seq[1].Description, "en", "US"), u"second one");
                     }});
    }
    {
        Writer w;
        w.base("crdi");
        for (const char* t : {"Product", "Perceptual", "Colorimetric", "Saturation", "Absolute"})
            w.u32(krmUInt32Number(std::strlen(t) + 1)).str(t).u8(0);
        s.push_back({"crdi", krmSig("crdi"), 2.1, w.b, true, [](const void* p) {
                         EXPECT_EQ(asciiOf((const krmMLU*)p, "PS", "nm"), "Product");
                         EXPECT_EQ(asciiOf((const krmMLU*)p, "PS", "#2"), "Saturation");
                     }});
    }
    s.push_back({"bfd", krmSig("bfd "), 2.1,
                 Writer().base("bfd ").u32(3).u16(0).u16(30000).u16(65535).u32(2).u16(65535).u16(0).str("UCR 40%")
                     .u8(0).b,
                 true, [](const void* p) {
                     auto u = (const krmUcrBg*)p;
                     EXPECT_NEAR(krmEvalToneCurve16(u->Ucr, 0x8000), 30000, 1);
                     EXPECT_EQ(krmEvalToneCurve16(u->Bg, 0), 65535);
                     EXPECT_EQ(asciiOf(u->Desc, "", ""), "UCR 40%");
                 }});
    s.push_back({"scrn", krmSig("scrn"), 2.1,
                 Writer().base("scrn").u32(1).u32(2).s15(150).s15(45).u32(1).s15(133).s15(15).u32(3).b, true,
                 [](const void* p) {
                     auto sc = (const krmScreening*)p;
                     EXPECT_EQ(sc->nChannels, 2u);
                     EXPECT_EQ(sc->Channels[1].Frequency, 133.0);
                     EXPECT_EQ(sc->Channels[1].SpotShape, 3u);
                 }});
    {
        Writer w;
        w.base("vcgt").u32(0).u16(3).u16(256).u16(2);
        for (int ch = 0; ch < 3; ch++)
            for (int j = 0; j < 256; j++)
                w.u16(krmUInt32Number(std::lround(65535.0 * std::pow(j / 255.0, 1.0 + 0.1 * ch))));
        s.push_back({"vcgt table", krmSig("vcgt"), 4.3, w.b, true, [](const void* p) {
                         auto v = (const krmVcgtCurves*)p;
                         EXPECT_NEAR(krmEvalToneCurveFloat(v->Curves[2], 0.5f), std::pow(0.5, 1.2), 1e-4);
                     }});
    }
    s.push_back({"vcgt formula", krmSig("vcgt"), 4.3,
                 Writer().base("vcgt").u32(1).s15(2.2).s15(0).s15(1).s15(1.8).s15(0.1).s15(0.9).s15(1).s15(0)
                     .s15(0.5).b,
                 true, [](const void* p) {
                     auto v = (const krmVcgtCurves*)p;
                     double g = krmGetToneCurveSegment(v->Curves[0], 0)->Params[0];
                     for (double x : {0.1, 0.5, 0.9})
                         EXPECT_NEAR(krmEvalToneCurveFloat(v->Curves[0], krmFloat32Number(x)), std::pow(x, g), 1e-5);
                     double g1 = krmGetToneCurveSegment(v->Curves[1], 0)->Params[0];
                     EXPECT_NEAR(krmEvalToneCurveFloat(v->Curves[1], 0.5f), 0.8 * std::pow(0.5, g1) + 0.1, 1e-4);
                 }});
    {
        // Two records of 16 bytes, the strings in record order after the directory.
        Writer w;
        w.base("dict").u32(2).u32(16);
        krmUInt32Number at = 16 + 2 * 16;
        std::vector<std::u16string> strs = {u"Name1", u"Value one", u"Name2", u"V2"};
        for (const auto& t : strs) {
            w.u32(at).u32(krmUInt32Number(t.size() * 2));
            at += krmUInt32Number(t.size() * 2);
        }
        for (const auto& t : strs)
            w.utf16(t);
        s.push_back({"dict", krmSig("meta"), 4.3, w.b, true, [](const void* p) {
                         const krmDICTentry* e = krmDictGetEntryList((const krmDict*)p);
                         ASSERT_NE(e, nullptr);
                         EXPECT_EQ(std::u16string(e->Name), u"Name2");  // the last stored record first
                         EXPECT_EQ(std::u16string(krmDictNextEntry(e)->Value), u"Value one");
                     }});
    }
    {
        // Display names only: records of 24 bytes.
        Bytes dn1 = mlucBody({{"enUS", u"Shown one"}}, false), dn2 = mlucBody({{"frFR", u"Deux"}}, false);
        Writer w;
        w.base("dict").u32(2).u32(24);
        krmUInt32Number at = 16 + 2 * 24;
        auto put = [&](krmUInt32Number size) {
            w.u32(at).u32(size);
            at += size;
        };
        put(4), put(2), put(krmUInt32Number(dn1.size()));
        put(4), put(4), put(krmUInt32Number(dn2.size()));
        w.utf16(u"ab").utf16(u"c").raw(dn1).utf16(u"de").utf16(u"fg").raw(dn2);
        s.push_back({"dict with display names", krmSig("meta"), 4.3, w.b, true, [](const void* p) {
                         const krmDICTentry* e = krmDictGetEntryList((const krmDict*)p);
                         EXPECT_EQ(wideOf(e->DisplayName, "fr", "FR"), u"Deux");
                         EXPECT_EQ(e->DisplayValue, nullptr);
                     }});
    }
    {
        Writer w;
        w.base("MHC2").u32(2).s15(0.5).s15(400).u32(36).u32(84).u32(100).u32(116);
        for (double v : {1.1, 0.0, 0.0, 0.01, 0.0, 0.9, 0.0, 0.02, 0.0, 0.0, 1.0, 0.03})
            w.s15(v);
        w.base("sf32").s15(0).s15(1).base("sf32").s15(0.1).s15(0.9).base("sf32").s15(0.2).s15(0.8);
        s.push_back({"MHC2 with matrix", krmSig("MHC2"), 4.3, w.b, true, [](const void* p) {
                         auto m = (const krmMHC2*)p;
                         EXPECT_EQ(m->PeakLuminance, 400.0);
                         EXPECT_NEAR(m->XYZ2XYZmatrix[1][3], 0.02, 1.0 / 65536);
                         EXPECT_NEAR(m->BlueCurve[1], 0.8, 1.0 / 65536);
                     }});
    }
    return s;
}

}  // namespace

TEST_F(TagTypes, HandMadeTagsOfEveryTypeDecodeAndRoundTrip)
{
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.what);
        g_messages.clear();
        Bytes image = makeProfile({{s.sig, s.data}}, s.version >= 4 ? 0x04300000 : 0x02100000);
        krmProfile p = openMem(permissive, image);
        ASSERT_NE(p, nullptr);
        const void* obj = krmReadTag(p, s.sig);
        ASSERT_NE(obj, nullptr) << (g_messages.empty() ? "" : g_messages[0].text);
        s.check(obj);

        Bytes saved;
        krmProfile back = rewrite(permissive, s.sig, obj, s.version, &saved);
        ASSERT_NE(back, nullptr);
        Bytes written = tagBytes(saved, s.sig);
        const void* again = krmReadTag(back, s.sig);
        ASSERT_NE(again, nullptr) << (g_messages.empty() ? "" : g_messages[0].text);
        expectSameObject(typeOf(s.data), typeOf(written), obj, again,
                         s.version >= 4 ? krmSig("mluc") : krmSig("desc"));
        if (s.canonical)
            expectSameBytes(s.data, written, "bytes");
        EXPECT_TRUE(g_messages.empty()) << g_messages[0].text;
    }
}

// ---------------------------------------------------------------------------------------------
// Malformed tags: null with the quoted messages, and the profile stays usable
// ---------------------------------------------------------------------------------------------

namespace {

struct Malformed {
    const char* cause;
    krmTagSignature sig;
    Bytes data;
    std::vector<std::string> messages;
};

std::string corrupted(const char (&sig)[5])
{
    return std::string("Corrupted tag '") + sig + "'";
}

std::vector<Malformed> malformed()
{
    std::vector<Malformed> m;
    m.push_back({"8 values where 'chad' needs 9", krmSig("chad"), Writer().base("sf32").zeros(32).b,
                 {"'chad' Inconsistent number of items: expected 9, got 8"}});
    m.push_back({"chromaticity count 0 outside the 32-byte form", krmSig("chrm"),
                 Writer().base("chrm").u16(0).u16(3).u16(0).zeros(24).b, {corrupted("chrm")}});
    m.push_back({"four chromaticity channels", krmSig("chrm"), Writer().base("chrm").u16(4).u16(0).zeros(32).b,
                 {corrupted("chrm")}});
    m.push_back({"17 colorants in the order", krmSig("clro"), Writer().base("clro").u32(17).zeros(17).b,
                 {corrupted("clro")}});
    m.push_back({"colorant order count past the data", krmSig("clro"), Writer().base("clro").u32(8).zeros(4).b,
                 {corrupted("clro")}});
    m.push_back({"cicp of five bytes", krmSig("cicp"), Writer().base("cicp").zeros(5).b, {corrupted("cicp")}});
    m.push_back({"data without its flag", krmSig("ps2i"), Writer().base("data").zeros(3).b, {corrupted("ps2i")}});
    m.push_back({"XYZ cut short", krmSig("wtpt"), Writer().base("XYZ ").zeros(8).b, {corrupted("wtpt")}});
    m.push_back({"measurement cut short", krmSig("meas"), Writer().base("meas").zeros(20).b, {corrupted("meas")}});
    m.push_back({"date cut short", krmSig("calt"), Writer().base("dtim").zeros(10).b, {corrupted("calt")}});
    m.push_back({"ASCII count past the data", krmSig("scrd"), Writer().base("desc").u32(40).str("short").u8(0).b,
                 {corrupted("scrd")}});
    m.push_back({"odd mluc offset", krmSig("dscm"),
                 Writer().base("mluc").u32(1).u32(12).str("enUS").u32(2).u32(29).zeros(4).b, {corrupted("dscm")}});
    m.push_back({"mluc offset inside the records", krmSig("dscm"),
                 Writer().base("mluc").u32(1).u32(12).str("enUS").u32(2).u32(16).zeros(4).b, {corrupted("dscm")}});
    m.push_back({"mluc text past the tag", krmSig("dscm"),
                 Writer().base("mluc").u32(1).u32(12).str("enUS").u32(20).u32(28).zeros(4).b, {corrupted("dscm")}});
    m.push_back({"mluc records of 16 bytes", krmSig("dscm"), Writer().base("mluc").u32(1).u32(16).zeros(20).b,
                 {"multiLocalizedUnicodeType of len != 12 is not supported.", corrupted("dscm")}});
    m.push_back({"mluc count far past the data", krmSig("dscm"),
                 Writer().base("mluc").u32(0x10000000).u32(12).zeros(12).b, {corrupted("dscm")}});
    m.push_back({"curve of 32768 entries", krmSig("kTRC"), Writer().base("curv").u32(32768).zeros(64).b,
                 {corrupted("kTRC")}});
    m.push_back({"curve table past the data", krmSig("kTRC"), Writer().base("curv").u32(100).zeros(20).b,
                 {corrupted("kTRC")}});
    m.push_back({"parametric type 5", krmSig("kTRC"), Writer().base("para").u16(5).u16(0).zeros(28).b,
                 {"Unknown parametric curve type '5'", corrupted("kTRC")}});
    m.push_back({"parametric parameters cut short", krmSig("kTRC"), Writer().base("para").u16(4).u16(0).zeros(24).b,
                 {corrupted("kTRC")}});
    m.push_back({"17 colorants in the table", krmSig("clrt"), Writer().base("clrt").u32(17).zeros(17 * 38).b,
                 {"Too many colorants '17'", corrupted("clrt")}});
    m.push_back({"17 device coordinates", krmSig("ncl2"), Writer().base("ncl2").u32(0).u32(1).u32(17).zeros(140).b,
                 {"Too many device coordinates '17'", corrupted("ncl2")}});
    m.push_back({"more named colours than a list holds", krmSig("ncl2"),
                 Writer().base("ncl2").u32(0).u32(70000).u32(0).zeros(100).b,
                 {"Too many named colors '70000'", corrupted("ncl2")}});
    m.push_back({"named colours past the data", krmSig("ncl2"),
                 Writer().base("ncl2").u32(0).u32(3).u32(1).zeros(64).zeros(40).b, {corrupted("ncl2")}});
    m.push_back({"sequence of 0 profiles", krmSig("pseq"), Writer().base("pseq").u32(0).b, {corrupted("pseq")}});
    m.push_back({"sequence of 256 profiles", krmSig("pseq"), Writer().base("pseq").u32(256).zeros(64).b,
                 {corrupted("pseq")}});
    m.push_back({"sequence text of type XYZ", krmSig("pseq"),
                 Writer().base("pseq").u32(1).zeros(20).base("XYZ ").zeros(12).b, {corrupted("pseq")}});
    m.push_back({"position table past the stream", krmSig("psid"), Writer().base("psid").u32(200).zeros(16).b,
                 {corrupted("psid")}});
    m.push_back({"position table element past the tag", krmSig("psid"),
                 Writer().base("psid").u32(1).u32(4000).u32(40).zeros(40).b, {corrupted("psid")}});
    m.push_back({"CRD name past the data", krmSig("crdi"), Writer().base("crdi").u32(2).str("A").u8(0).u32(50).b,
                 {corrupted("crdi")}});
    m.push_back({"UCR curve of no entries", krmSig("bfd "), Writer().base("bfd ").u32(0).u32(1).u16(0).b,
                 {"Couldn't create tone curve with zero segments and no table", corrupted("bfd ")}});
    m.push_back({"UCR description past 32000 bytes", krmSig("bfd "),
                 Writer().base("bfd ").u32(1).u16(0).u32(1).u16(0).zeros(32001).b, {corrupted("bfd ")}});
    m.push_back({"vcgt tag type 2", krmSig("vcgt"), Writer().base("vcgt").u32(2).zeros(40).b,
                 {"Unsupported tag type for VCGT '2'", corrupted("vcgt")}});
    m.push_back({"vcgt of one channel", krmSig("vcgt"), Writer().base("vcgt").u32(0).u16(1).u16(2).u16(2).zeros(4).b,
                 {"Unsupported number of channels for VCGT '1'", corrupted("vcgt")}});
    m.push_back({"vcgt of three-byte entries", krmSig("vcgt"),
                 Writer().base("vcgt").u32(0).u16(3).u16(2).u16(3).zeros(18).b,
                 {"Unsupported bit depth for VCGT '24'", corrupted("vcgt")}});
    m.push_back({"vcgt table past the data", krmSig("vcgt"),
                 Writer().base("vcgt").u32(0).u16(3).u16(256).u16(2).zeros(100).b, {corrupted("vcgt")}});
    m.push_back({"dictionary records of 40 bytes", krmSig("meta"), Writer().base("dict").u32(1).u32(40).zeros(40).b,
                 {"Unknown record length in dictionary '40'", corrupted("meta")}});
    m.push_back({"dictionary value at offset 0", krmSig("meta"),
                 Writer().base("dict").u32(1).u32(16).u32(32).u32(2).u32(0).u32(0).utf16(u"n").zeros(2).b,
                 {"Bad dictionary Name/Value", corrupted("meta")}});
    m.push_back({"dictionary name past the tag", krmSig("meta"),
                 Writer().base("dict").u32(1).u32(16).u32(32).u32(200).u32(32).u32(2).utf16(u"n").zeros(2).b,
                 {corrupted("meta")}});
    m.push_back({"dictionary count past the data", krmSig("meta"),
                 Writer().base("dict").u32(0x01000000).u32(16).zeros(16).b, {corrupted("meta")}});
    m.push_back({"MHC2 of 4097 entries", krmSig("MHC2"), Writer().base("MHC2").u32(4097).zeros(24).b,
                 {corrupted("MHC2")}});
    m.push_back({"MHC2 curve past the stream", krmSig("MHC2"),
                 Writer().base("MHC2").u32(2).zeros(8).u32(0).u32(36).u32(52).u32(5000).base("sf32").zeros(8)
                     .base("sf32").zeros(8).b,
                 {corrupted("MHC2")}});
    m.push_back({"screening cut short", krmSig("scrn"), Writer().base("scrn").u32(0).u32(2).zeros(12).b,
                 {corrupted("scrn")}});
    return m;
}

}  // namespace

TEST_F(TagTypes, MalformedTagsFailWithTheirMessagesAndLeaveTheProfileUsable)
{
    const Bytes good = Writer().base("XYZ ").s15(0.9642).s15(1.0).s15(0.8249).b;
    for (const Malformed& m : malformed()) {
        SCOPED_TRACE(m.cause);
        krmTagSignature other = m.sig == krmSig("wtpt") ? krmSig("bkpt") : krmSig("wtpt");
        Bytes image = makeProfile({{m.sig, m.data}, {other, good}});
        krmProfile p = openMem(strict, image);
        ASSERT_NE(p, nullptr);
        for (int attempt = 0; attempt < 2; attempt++) {  // a failed read leaves the entry to try again
            g_messages.clear();
            EXPECT_EQ(krmReadTag(p, m.sig), nullptr);
            EXPECT_EQ(texts(), m.messages);
            for (const Message& msg : g_messages)
                EXPECT_LE(msg.code, krmUInt32Number(krmErrCorruptionDetected));
        }
        EXPECT_TRUE(krmIsTag(p, m.sig));
        const krmCIEXYZ* xyz = (const krmCIEXYZ*)krmReadTag(p, other);
        ASSERT_NE(xyz, nullptr);
        EXPECT_EQ(xyz->Y, 1.0);
        // Saving copies the undecodable tag unchanged.
        EXPECT_EQ(tagBytes(save(p), m.sig), m.data);
    }
}

// ---------------------------------------------------------------------------------------------
// Particular figures and rules
// ---------------------------------------------------------------------------------------------

TEST_F(TagTypes, NumberArraysIgnoreRemainders)
{
    Bytes image = makeProfile({{krmSig("chad"), Writer().base("sf32").s15(1).zeros(32).u16(0xFFFF).b}});
    krmProfile p = openMem(strict, image);
    const double* v = (const double*)krmReadTag(p, krmSig("chad"));
    ASSERT_NE(v, nullptr);  // 38 bytes: 9 values
    EXPECT_EQ(v[0], 1.0);
    EXPECT_EQ(v[8], 0.0);
}

TEST_F(TagTypes, ChromaticityWithALeadingZeroIsReadFromTheFollowingCount)
{
    Bytes image = makeProfile(
        {{krmSig("chrm"), Writer().base("chrm").u16(0).u16(0).u16(3).u16(1).s15(0.64).s15(0.33).s15(0.3).s15(0.6)
                              .s15(0.15).s15(0.06).b}});
    ASSERT_EQ(tagBytes(image, krmSig("chrm")).size(), 40u);
    krmProfile p = openMem(strict, image);
    const krmPrimaries* c = (const krmPrimaries*)krmReadTag(p, krmSig("chrm"));
    ASSERT_NE(c, nullptr);
    EXPECT_NEAR(c->Red.x, 0.64, 1.0 / 65536);
    EXPECT_NEAR(c->Blue.y, 0.06, 1.0 / 65536);
}

TEST_F(TagTypes, CurveOfCountZeroIsLinear)
{
    krmProfile p = openMem(strict, makeProfile({{krmSig("kTRC"), Writer().base("curv").u32(0).b}}));
    const krmToneCurve* c = (const krmToneCurve*)krmReadTag(p, krmSig("kTRC"));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(krmGetToneCurveParametricType(c), 1);
    EXPECT_EQ(krmGetToneCurveSegment(c, 0)->Params[0], 1.0);
    EXPECT_NEAR(krmEvalToneCurveFloat(c, 0.3f), 0.3f, 1e-6);
}

TEST_F(TagTypes, DeciderPicksTheTypeByVersion)
{
    krmToneCurve* gamma = krmBuildGamma(strict, 2.2);
    krmMLU* text = krmMLUAlloc(strict, 1);
    krmMLUSetASCII(text, "en", "US", "Copyright Corvane");
    for (double version : {2.1, 4.3}) {
        Bytes saved;
        krmProfile back = rewrite(strict, krmSig("kTRC"), gamma, version, &saved);
        ASSERT_NE(back, nullptr);
        Bytes curve = tagBytes(saved, krmSig("kTRC"));
        if (version < 4) {
            // count 1 and the gamma as u8Fixed8: 2.2 is 0x0233.
            EXPECT_EQ(curve, Writer().base("curv").u32(1).u16(0x0233).b);
        } else {
            EXPECT_EQ(curve, Writer().base("para").u16(0).u16(0).s15(2.2).b);
        }
        back = rewrite(strict, krmSig("cprt"), text, version, &saved);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(typeOf(tagBytes(saved, krmSig("cprt"))), version < 4 ? krmSig("text") : krmSig("mluc"));
        EXPECT_EQ(asciiOf((const krmMLU*)krmReadTag(back, krmSig("cprt")), "en", "US"), "Copyright Corvane");
        back = rewrite(strict, krmSig("desc"), text, version, &saved);
        EXPECT_EQ(typeOf(tagBytes(saved, krmSig("desc"))), version < 4 ? krmSig("desc") : krmSig("mluc"));
    }
    krmFreeToneCurve(gamma);
    krmMLUFree(text);
}

TEST_F(TagTypes, CurvesParaCannotHoldAreRefusedAtSaving)
{
    const krmFloat64Number params[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    krmToneCurve* srgb = krmBuildParametricToneCurve(strict, 4, params);
    krmToneCurve* inverse = krmReverseToneCurve(srgb);
    ASSERT_NE(inverse, nullptr);
    ASSERT_EQ(krmGetToneCurveParametricType(inverse), -4);

    // Written through the handler directly: the decider would never choose 'para' for it.
    const krmTagTypeHandler* para = _krmGetTagTypeHandler(strict, krmSig("para"));
    ASSERT_NE(para, nullptr);
    krmTagTypeHandler h = *para;
    h.ContextID = strict;
    krmIOHandler* io = krmOpenIOHandlerFromNull(strict);
    g_messages.clear();
    EXPECT_FALSE(h.WritePtr(&h, io, inverse, 1));
    EXPECT_EQ(texts(), std::vector<std::string>{"Multisegment or Inverted parametric curves cannot be written"});
    const krmFloat64Number p6[] = {1, 1, 0, 0, 0, 0};
    krmToneCurve* type6 = krmBuildParametricToneCurve(strict, 6, p6);
    g_messages.clear();
    EXPECT_FALSE(h.WritePtr(&h, io, type6, 1));
    EXPECT_EQ(texts(), std::vector<std::string>{"Unsupported parametric curve"});
    krmCloseIOHandler(io);

    // Through a version 4 profile the inverse goes out as a 16-bit table in 'curv'.
    Bytes saved;
    krmProfile back = rewrite(strict, krmSig("rTRC"), inverse, 4.3, &saved);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(typeOf(tagBytes(saved, krmSig("rTRC"))), krmSig("curv"));
    expectSameCurve(inverse, (const krmToneCurve*)krmReadTag(back, krmSig("rTRC")), 1.0 / 65535 * 2);
    krmFreeToneCurve(srgb);
    krmFreeToneCurve(inverse);
    krmFreeToneCurve(type6);
}

TEST_F(TagTypes, DescriptionWithOnlyItsAsciiPart)
{
    Bytes data = Writer().base("desc").u32(6).str("Hello").u8(0).b;
    krmProfile p = openMem(strict, makeProfile({{krmSig("desc"), data}}, 0x02100000));
    const krmMLU* m = (const krmMLU*)krmReadTag(p, krmSig("desc"));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(krmMLUTranslationsCount(m), 1u);
    EXPECT_EQ(asciiOf(m, "", ""), "Hello");
    // Written back with empty Unicode language, the same count and the ScriptCode part.
    Bytes saved;
    krmProfile back = rewrite(strict, krmSig("desc"), m, 2.1, &saved);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(tagBytes(saved, krmSig("desc")), descTag("Hello"));
}

TEST_F(TagTypes, OneByteVcgtOf1576BytesHoldsTwoByteEntries)
{
    Writer w;
    w.base("vcgt").u32(0).u16(3).u16(256).u16(1);
    for (int ch = 0; ch < 3; ch++)
        for (int j = 0; j < 256; j++)
            w.u16(krmUInt32Number(j * 257 - (j > 0 ? ch : 0)));
    w.zeros(30);  // the size such writers leave
    ASSERT_EQ(w.size() - 8, 1576u);
    krmProfile p = openMem(strict, makeProfile({{krmSig("vcgt"), w.b}}));
    const krmVcgtCurves* v = (const krmVcgtCurves*)krmReadTag(p, krmSig("vcgt"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->Curves[2]->nEntries, 256u);
    EXPECT_EQ(v->Curves[2]->Table16[255], 65535 - 2);

    // A real one-byte table scales each byte by 257.
    Writer one;
    one.base("vcgt").u32(0).u16(3).u16(2).u16(1).u8(0).u8(128).u8(0).u8(255).u8(10).u8(20).zeros(2);
    p = openMem(strict, makeProfile({{krmSig("vcgt"), one.b}}));
    v = (const krmVcgtCurves*)krmReadTag(p, krmSig("vcgt"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->Curves[0]->Table16[1], 128 * 257);
    EXPECT_EQ(v->Curves[2]->Table16[1], 20 * 257);
}

TEST_F(TagTypes, ScreeningOfTwentyChannelsKeepsFifteen)
{
    Writer w;
    w.base("scrn").u32(0).u32(20);
    for (int i = 0; i < 20; i++)
        w.s15(100 + i).s15(i).u32(1);
    krmProfile p = openMem(strict, makeProfile({{krmSig("scrn"), w.b}}));
    const krmScreening* sc = (const krmScreening*)krmReadTag(p, krmSig("scrn"));
    ASSERT_NE(sc, nullptr);
    EXPECT_EQ(sc->nChannels, 15u);
    EXPECT_EQ(sc->Channels[14].Frequency, 114.0);
}

TEST_F(TagTypes, DictionaryLayoutFollowsTheDisplayTexts)
{
    krmDict* d = krmDictAlloc(strict);
    krmMLU* shown = krmMLUAlloc(strict, 1);
    krmMLUSetASCII(shown, "en", "US", "Shown value");
    ASSERT_TRUE(krmDictAddEntry(d, u"plain", u"1", nullptr, nullptr));
    ASSERT_TRUE(krmDictAddEntry(d, u"shown", u"2", nullptr, shown));
    ASSERT_TRUE(krmDictAddEntry(d, u"no value", nullptr, nullptr, nullptr));

    Bytes saved;
    krmProfile back = rewrite(strict, krmSig("meta"), d, 4.3, &saved);
    ASSERT_NE(back, nullptr);
    Bytes tag = tagBytes(saved, krmSig("meta"));
    EXPECT_EQ(tag[15], 32);  // display values without display names still need 32-byte records
    const krmDict* again = (const krmDict*)krmReadTag(back, krmSig("meta"));
    ASSERT_NE(again, nullptr) << (g_messages.empty() ? "" : g_messages[0].text);
    std::vector<std::u16string> names;
    for (const krmDICTentry* e = krmDictGetEntryList(again); e; e = krmDictNextEntry(e)) {
        names.push_back(e->Name);
        if (std::u16string(e->Name) == u"shown") {
            EXPECT_EQ(asciiOf(e->DisplayValue, "en", "US"), "Shown value");
        } else {
            EXPECT_EQ(e->DisplayValue, nullptr);
        }
        // A missing value comes back as an empty one rather than making the tag unreadable.
        if (std::u16string(e->Name) == u"no value") {
            EXPECT_EQ(std::u16string(e->Value), u"");
        }
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"no value", u"shown", u"plain"}));

    krmDictFree(d);
    d = krmDictAlloc(strict);
    ASSERT_TRUE(krmDictAddEntry(d, u"k", u"v", nullptr, nullptr));
    back = rewrite(strict, krmSig("meta"), d, 4.3, &saved);
    EXPECT_EQ(tagBytes(saved, krmSig("meta"))[15], 16);
    krmDictFree(d);
    krmMLUFree(shown);
}

TEST_F(TagTypes, MHC2WithIdentityMatrixAndFollowingTags)
{
    krmMHC2 m{};
    double red[3] = {0, 0.5, 1}, green[3] = {0, 0.25, 1}, blue[3] = {0.1, 0.6, 0.9};
    m.CurveEntries = 3;
    m.RedCurve = red;
    m.GreenCurve = green;
    m.BlueCurve = blue;
    m.MinLuminance = 0.25;
    m.PeakLuminance = 600;
    for (int i = 0; i < 3; i++)
        m.XYZ2XYZmatrix[i][i] = 1.0;
    m.XYZ2XYZmatrix[0][1] = 0.5 / 65535;  // below the threshold: still the identity

    krmProfile np = krmCreateProfilePlaceholder(strict);
    open.push_back(np);
    krmSetProfileVersion(np, 4.3);
    krmCIEXYZ white = {0.9642, 1.0, 0.8249};
    ASSERT_TRUE(krmWriteTag(np, krmSig("MHC2"), &m));
    ASSERT_TRUE(krmWriteTag(np, krmSig("wtpt"), &white));
    ASSERT_TRUE(krmWriteTag(np, krmSig("lumi"), &white));
    Bytes saved = save(np);
    Bytes tag = tagBytes(saved, krmSig("MHC2"));
    ASSERT_GE(tag.size(), 36u);
    EXPECT_EQ(Bytes(tag.begin() + 20, tag.begin() + 24), Bytes(4, 0));  // matrix offset 0

    krmProfile back = openMem(strict, saved);
    const krmMHC2* r = (const krmMHC2*)krmReadTag(back, krmSig("MHC2"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->XYZ2XYZmatrix[0][1], 0.0);
    EXPECT_EQ(r->XYZ2XYZmatrix[2][2], 1.0);
    EXPECT_NEAR(r->BlueCurve[1], 0.6, 1.0 / 65536);
    for (krmTagSignature sig : {krmSig("wtpt"), krmSig("lumi")}) {
        const krmCIEXYZ* xyz = (const krmCIEXYZ*)krmReadTag(back, sig);
        ASSERT_NE(xyz, nullptr);
        EXPECT_NEAR(xyz->Z, 0.8249, 1.0 / 65536);
    }
}

TEST_F(TagTypes, ProfileSequenceTextsFollowTheProfileVersion)
{
    krmSequence* seq = krmAllocProfileSequence(strict, 1);
    seq->seq[0].deviceMfg = krmSig("ACME");
    seq->seq[0].Manufacturer = krmMLUAlloc(strict, 1);
    krmMLUSetASCII(seq->seq[0].Manufacturer, "en", "US", "Acme");
    // Model left null: written as an empty text.
    for (double version : {2.1, 4.3}) {
        Bytes saved;
        krmProfile back = rewrite(strict, krmSig("pseq"), seq, version, &saved);
        ASSERT_NE(back, nullptr);
        Bytes tag = tagBytes(saved, krmSig("pseq"));
        Bytes embedded(tag.begin() + 32, tag.begin() + 36);
        EXPECT_EQ(typeOf(embedded), version < 4 ? krmSig("desc") : krmSig("mluc"));
        const krmSequence* r = (const krmSequence*)krmReadTag(back, krmSig("pseq"));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(asciiOf(r->seq[0].Manufacturer, "en", "US"), "Acme");
        EXPECT_NE(r->seq[0].Model, nullptr);
    }
    krmFreeProfileSequence(seq);
}

// Every prefix of every hand-made tag, and copies with single bytes changed, decode or fail
// cleanly; the sanitizer build turns any read outside the data into a failure here.
TEST_F(TagTypes, TruncatedAndAlteredTagsNeverReadOutsideTheirData)
{
    int decoded = 0;
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.what);
        const size_t step = s.data.size() > 400 ? 37 : 1;
        for (size_t len = 8; len < s.data.size(); len += step) {
            Bytes cut(s.data.begin(), s.data.begin() + len);
            krmProfile p = openMem(permissive, makeProfile({{s.sig, cut}}));
            ASSERT_NE(p, nullptr);
            decoded += krmReadTag(p, s.sig) != nullptr;
            krmCloseProfile(p);
            open.pop_back();
        }
        for (size_t at = 8; at < s.data.size(); at += step) {
            for (krmUInt8Number v : {krmUInt8Number(0x00), krmUInt8Number(0xFF), krmUInt8Number(0x7F)}) {
                Bytes altered = s.data;
                altered[at] = v;
                krmProfile p = openMem(permissive, makeProfile({{s.sig, altered}}));
                ASSERT_NE(p, nullptr);
                decoded += krmReadTag(p, s.sig) != nullptr;
                krmCloseProfile(p);
                open.pop_back();
            }
        }
    }
    EXPECT_GT(decoded, 0);
}
