// Whole-line workers. For chunky 8- and 16-bit pixels over an integer matrix-shaper or a 3-input
// tetrahedral CLUT, a line is converted without a formatter call per pixel, and the arithmetic runs
// on the widest vector unit the processor offers (chosen at run time, never at build time). Every
// path gives the same words as the per-pixel evaluators: the same integer operations, regrouped only
// where the regrouping is exact.
//
// KRM_SIMD in the environment caps the choice, for tests and measurements: "generic" keeps the
// per-pixel workers, "portable" the plain C++ line workers, then "sse2", "avx2", "avx512".
#include "krm_internal.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KRM_X86 1
// Vector helpers are internal and inlined into functions of the same target: no ABI crosses.
#pragma GCC diagnostic ignored "-Wpsabi"
// GCC 12 reports the undefined upper halves inside its own AVX-512 headers.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

enum SimdLevel { kGeneric = -1, kPortable = 0, kSSE2 = 1, kAVX2 = 2, kAVX512 = 3 };

namespace {

constexpr krmUInt32Number kShaperSteps = 16385;  // 1.14 fixed point, 0..1 inclusive
constexpr krmUInt32Number kBlock = 64;           // CLUT pixels prepared per batch

// ---------------------------------------------------------------------------------------------
// Processor and request
// ---------------------------------------------------------------------------------------------

int CpuLevel()
{
#ifdef KRM_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl"))
        return kAVX512;
    if (__builtin_cpu_supports("avx2")) return kAVX2;
    if (__builtin_cpu_supports("sse2")) return kSSE2;
#endif
    return kPortable;
}

int RequestedLevel()
{
    static const int cpu = CpuLevel();
    const char* env = std::getenv("KRM_SIMD");
    if (!env || !*env) return cpu;
    static const struct {
        const char* name;
        int level;
    } kNames[] = {{"generic", kGeneric}, {"portable", kPortable}, {"sse2", kSSE2}, {"avx2", kAVX2}, {"avx512", kAVX512}};
    for (const auto& n : kNames)
        if (std::strcmp(env, n.name) == 0) return std::min(n.level, cpu);
    return cpu;
}

// ---------------------------------------------------------------------------------------------
// Pixel layouts
// ---------------------------------------------------------------------------------------------

// Byte offsets of the working channels inside one chunky pixel.
struct Layout {
    krmUInt32Number bytes;  // 1 or 2 per sample
    krmUInt32Number nChan;
    krmUInt32Number pixelSize;
    krmUInt32Number off[4];
    krmInt32Number alpha;  // offset of the single extra channel, else -1
};

// Mirrors the integer formatters: unpacking reads storage slot i into working value (swap ? n-1-i : i)
// and then rotates left for swapfirst without extra channels; packing undoes exactly that.
bool DescribeChunky(krmUInt32Number fmt, Layout* l)
{
    const krmUInt32Number bytes = krmT_BYTES(fmt), n = krmT_CHANNELS(fmt), extra = krmT_EXTRA(fmt);
    if (krmT_FLOAT(fmt) || krmT_PLANAR(fmt) || krmT_FLAVOR(fmt) || krmT_PREMUL(fmt)) return false;
    if (bytes != 1 && bytes != 2) return false;
    if (bytes == 2 && krmT_ENDIAN16(fmt)) return false;
    if (n < 3 || n > 4) return false;
    const bool swap = krmT_DOSWAP(fmt);
    const bool extraFirst = swap != bool(krmT_SWAPFIRST(fmt));
    const bool rotate = extra == 0 && krmT_SWAPFIRST(fmt);
    const krmUInt32Number first = extraFirst ? extra : 0;
    l->bytes = bytes;
    l->nChan = n;
    l->pixelSize = (n + extra) * bytes;
    for (krmUInt32Number c = 0; c < n; c++) {
        const krmUInt32Number k = rotate ? (c + 1) % n : c;
        l->off[c] = (first + (swap ? n - 1 - k : k)) * bytes;
    }
    l->alpha = extra == 1 ? krmInt32Number(extraFirst ? 0 : n * bytes) : -1;
    return true;
}

inline krmUInt8Number From16To8(krmUInt32Number w) { return krmUInt8Number((w * 65281u + 8388608u) >> 24); }

inline krmUInt16Number Load16(const krmUInt8Number* p)
{
    krmUInt16Number v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void Store16(krmUInt8Number* p, krmUInt16Number v) { std::memcpy(p, &v, 2); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Worker data
// ---------------------------------------------------------------------------------------------

enum FastKind { kMatShaper, kCLUT };
enum CellState : krmUInt8Number { kMixed = 0, kAllIn = 1, kAllOut = 2 };

// The gamut check's one-output grid of 3 or 4 inputs, indexed like a CLUT's, and per node whether
// the corners of the cell above it are all zero (in gamut), all above zero (out: the interpolated
// value, with weights summing to 65536 and the base corner's at least 1, rounds to at least 1, and
// so does the linear step between two such values along a fourth input) or mixed. Only a pixel in
// a mixed cell needs the interpolation.
struct _krmGamutGrid {
    krmUInt32Number nInputs;
    krmUInt32Number Base[4][256];
    krmUInt64Number Key[4][256];  // fraction above, upper-neighbour offset below
    krmUInt32Number Domain[4];
    krmUInt32Number Stride[4];
    krmUInt16Number* Table;
    krmUInt8Number* CellState;
};

struct _krmFastWorker {
    FastKind kind;
    int level;
    const char* name;
    Layout in, out;
    bool fuseAlpha;  // the alpha copied inside the pixel loop
    bool prelin;     // the CLUT is indexed through prelinearisation tables
    // The per-pixel worker, for buffers that overlap in a way the line workers would read
    // differently (a line is read a block ahead of its writes, and the alpha with the pixel).
    _krmTransform2Fn generic;

    // Matrix-shaper: per input channel and byte, the matrix column times the linearised value
    // (the first channel also carries the offset and the rounding), then the 8-bit output tables.
    alignas(64) krmInt32Number Fused[3][256][4];
    krmUInt8Number Out8[3][kShaperSteps];

    // CLUT: per input byte the cell offset, upper-neighbour offset and fraction; for 16-bit input
    // the domain and stride of each input; the nodes, padded so four outputs can always be read.
    // With four inputs the first is interpolated linearly between two tetrahedral evaluations of
    // the other three.
    krmUInt32Number nInputs, nOutputs;
    krmUInt32Number Base[4][256];
    krmUInt32Number Upper[4][256];
    krmUInt32Number Rest[4][256];
    krmUInt64Number Key[4][256];  // fraction above, upper-neighbour offset below: the sort key
    krmUInt32Number Domain[4];
    krmUInt32Number Stride[4];
    krmUInt16Number* Table;
    _krmGamutGrid* Gamut;  // the gamut check's grid, or null
    void (*clutLine)(const _krmFastWorker* f, const krmUInt8Number* s, krmUInt8Number* d, krmUInt32Number n,
                     const krmUInt16Number* alarm);
};

namespace {

// A line's layout copied out of the worker data into locals: byte stores could alias the fields,
// which would make the compiler reload them for every sample.
struct Offsets {
    krmUInt32Number in[4], ia, ps, out[4], oa, pd, outN, inBytes, outBytes, domain[4], stride[4];
    bool alpha;
    explicit Offsets(const _krmFastWorker* f)
        : ia(krmUInt32Number(f->in.alpha)), ps(f->in.pixelSize), oa(krmUInt32Number(f->out.alpha)),
          pd(f->out.pixelSize), outN(f->out.nChan), inBytes(f->in.bytes), outBytes(f->out.bytes), alpha(f->fuseAlpha)
    {
        for (int i = 0; i < 4; i++) {
            in[i] = f->in.off[i];
            domain[i] = f->Domain[i];
            stride[i] = f->Stride[i];
        }
        for (int i = 0; i < 4; i++) out[i] = f->out.off[i];
    }
};

// ---------------------------------------------------------------------------------------------
// Matrix-shaper lines (8-bit RGB in and out)
// ---------------------------------------------------------------------------------------------

// The two layouts that matter most with their offsets fixed at compile time: BGRA8 in place with
// its alpha (the proofing view, QImage's RGB32) and RGB8. A fixed 4-byte pixel with alpha is
// written with one store.
template <krmUInt32Number PS, krmUInt32Number PD, krmUInt32Number I0, krmUInt32Number I1, krmUInt32Number I2,
          krmUInt32Number O0, krmUInt32Number O1, krmUInt32Number O2, krmInt32Number IA, krmInt32Number OA>
struct FixedOffsets {
    static constexpr krmUInt32Number in[3] = {I0, I1, I2}, out[4] = {O0, O1, O2, 0};
    static constexpr krmUInt32Number ps = PS, pd = PD, ia = krmUInt32Number(IA), oa = krmUInt32Number(OA);
    static constexpr bool alpha = IA >= 0 && OA >= 0;
    static constexpr bool wholePixel = alpha && PD == 4;
    explicit FixedOffsets(const _krmFastWorker*) {}
    static bool Matches(const _krmFastWorker* f)
    {
        return f->in.pixelSize == PS && f->out.pixelSize == PD && f->in.off[0] == I0 && f->in.off[1] == I1 &&
               f->in.off[2] == I2 && f->out.off[0] == O0 && f->out.off[1] == O1 && f->out.off[2] == O2 &&
               f->fuseAlpha == alpha && (!alpha || (f->in.alpha == IA && f->out.alpha == OA));
    }
};
using BGRA8WithAlpha = FixedOffsets<4, 4, 2, 1, 0, 2, 1, 0, 3, 3>;
using RGB8Only = FixedOffsets<3, 3, 0, 1, 2, 0, 1, 2, -1, -1>;
using RGBA8ToBGRA8 = FixedOffsets<4, 4, 0, 1, 2, 2, 1, 0, 3, 3>;  // the proofing view's RGB images

struct RuntimeOffsets : Offsets {
    static constexpr bool wholePixel = false;
    using Offsets::Offsets;
};

template <class L>
inline void MatShaperWrite(const L& l, krmUInt8Number* d, krmUInt8Number r, krmUInt8Number g, krmUInt8Number b,
                           krmUInt8Number alpha)
{
    if constexpr (L::wholePixel) {
        const krmUInt32Number px = (krmUInt32Number(r) << (8 * l.out[0])) | (krmUInt32Number(g) << (8 * l.out[1])) |
                                   (krmUInt32Number(b) << (8 * l.out[2])) | (krmUInt32Number(alpha) << (8 * l.oa));
        std::memcpy(d, &px, 4);
    } else {
        d[l.out[0]] = r;
        d[l.out[1]] = g;
        d[l.out[2]] = b;
        if (l.alpha) d[l.oa] = alpha;
    }
}

template <class L>
inline void MatShaperPixel(const _krmFastWorker* f, const L& l, const krmUInt8Number* s, krmUInt8Number* d)
{
    const krmInt32Number* a = f->Fused[0][s[l.in[0]]];
    const krmInt32Number* b = f->Fused[1][s[l.in[1]]];
    const krmInt32Number* c = f->Fused[2][s[l.in[2]]];
    const krmUInt8Number alpha = l.alpha ? s[l.ia] : 0;
    krmUInt8Number o[3];
    for (int k = 0; k < 3; k++) {
        const krmInt32Number v = std::clamp((a[k] + b[k] + c[k]) >> 14, 0, krmInt32Number(kShaperSteps - 1));
        o[k] = f->Out8[k][v];
    }
    MatShaperWrite(l, d, o[0], o[1], o[2], alpha);
}

template <class L>
void MatShaperLinePortable(const _krmFastWorker* f, const krmUInt8Number* s, krmUInt8Number* d, krmUInt32Number n,
                           const krmUInt16Number*)
{
    const L l(f);
    for (krmUInt32Number i = 0; i < n; i++, s += l.ps, d += l.pd) MatShaperPixel(f, l, s, d);
}

#ifdef KRM_X86
template <class L>
__attribute__((target("sse2"))) inline __m128i MatShaperSum128(const _krmFastWorker* f, const L& l,
                                                                const krmUInt8Number* s)
{
    const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(f->Fused[0][s[l.in[0]]]));
    const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(f->Fused[1][s[l.in[1]]]));
    const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(f->Fused[2][s[l.in[2]]]));
    return _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(a, b), c), 14);
}

// Four pixels, two to a register: the signed 16-bit pack saturates beyond the clamp range, so
// min/max on words clamp exactly as the 32-bit clamp does. Wider registers measured slower here:
// the work is table loads, not arithmetic.
template <class L>
__attribute__((target("sse2"))) void MatShaperLineSSE2(const _krmFastWorker* f, const krmUInt8Number* s,
                                                       krmUInt8Number* d, krmUInt32Number n, const krmUInt16Number*)
{
    const L l(f);
    const __m128i lo = _mm_setzero_si128(), hi = _mm_set1_epi16(std::int16_t(kShaperSteps - 1));
    const krmUInt32Number ps = l.ps, pd = l.pd;
    krmUInt32Number i = 0;
    for (; i + 4 <= n; i += 4, s += 4 * ps, d += 4 * pd) {
        const krmUInt8Number a0 = l.alpha ? s[l.ia] : 0, a1 = l.alpha ? s[ps + l.ia] : 0,
                             a2 = l.alpha ? s[2 * ps + l.ia] : 0, a3 = l.alpha ? s[3 * ps + l.ia] : 0;
        __m128i w0 = _mm_packs_epi32(MatShaperSum128(f, l, s), MatShaperSum128(f, l, s + ps));
        __m128i w1 = _mm_packs_epi32(MatShaperSum128(f, l, s + 2 * ps), MatShaperSum128(f, l, s + 3 * ps));
        w0 = _mm_min_epi16(_mm_max_epi16(w0, lo), hi);
        w1 = _mm_min_epi16(_mm_max_epi16(w1, lo), hi);
        MatShaperWrite(l, d, f->Out8[0][_mm_extract_epi16(w0, 0)], f->Out8[1][_mm_extract_epi16(w0, 1)],
                       f->Out8[2][_mm_extract_epi16(w0, 2)], a0);
        MatShaperWrite(l, d + pd, f->Out8[0][_mm_extract_epi16(w0, 4)], f->Out8[1][_mm_extract_epi16(w0, 5)],
                       f->Out8[2][_mm_extract_epi16(w0, 6)], a1);
        MatShaperWrite(l, d + 2 * pd, f->Out8[0][_mm_extract_epi16(w1, 0)], f->Out8[1][_mm_extract_epi16(w1, 1)],
                       f->Out8[2][_mm_extract_epi16(w1, 2)], a2);
        MatShaperWrite(l, d + 3 * pd, f->Out8[0][_mm_extract_epi16(w1, 4)], f->Out8[1][_mm_extract_epi16(w1, 5)],
                       f->Out8[2][_mm_extract_epi16(w1, 6)], a3);
    }
    for (; i < n; i++, s += ps, d += pd) MatShaperPixel(f, l, s, d);
}
#endif

// ---------------------------------------------------------------------------------------------
// CLUT lines (3 inputs, 3 or 4 outputs, tetrahedral)
// ---------------------------------------------------------------------------------------------

// One pixel's tetrahedron: the base node, the offsets of the three further corners along the path,
// and the weights of the four corners. Sorting the fractions picks the same tetrahedron as the
// interpolation routine; where fractions tie, either order gives the same exact sum.
struct Cells {
    alignas(64) krmUInt32Number off[kBlock][4];  // base, A, B, C
    alignas(64) krmUInt32Number w[kBlock][4];    // c0, A, B, C weights
    alignas(64) krmUInt16Number out[kBlock][4];
    // Four inputs: the first input's upper-neighbour offset and fraction, and the lower evaluation.
    alignas(64) krmUInt32Number lerpUpper[kBlock];
    alignas(64) krmUInt32Number lerpRest[kBlock];
    alignas(64) krmUInt16Number low[kBlock][4];
};

inline krmUInt64Number SortKey(krmUInt32Number rest, krmUInt32Number upper)
{
    return (krmUInt64Number(rest) << 32) | upper;
}

inline void MakeCell(krmUInt32Number* off, krmUInt32Number* w, krmUInt32Number base, krmUInt64Number x,
                     krmUInt64Number y, krmUInt64Number z)
{
    const krmUInt32Number X1 = krmUInt32Number(x), Y1 = krmUInt32Number(y), Z1 = krmUInt32Number(z);
    // Sorted descending with masks rather than branches: random pixels would defeat prediction.
    auto order = [](krmUInt64Number& hi, krmUInt64Number& lo) {
        const krmUInt64Number swap = (hi ^ lo) & (krmUInt64Number(0) - krmUInt64Number(hi < lo));
        hi ^= swap;
        lo ^= swap;
    };
    krmUInt64Number a = x, b = y, cl = z;
    order(a, b);
    order(b, cl);
    order(a, b);
    const krmUInt32Number rp = krmUInt32Number(a >> 32), rq = krmUInt32Number(b >> 32), rs = krmUInt32Number(cl >> 32);
    const krmUInt32Number A = krmUInt32Number(a);
    off[0] = base;
    off[1] = base + A;
    off[2] = base + A + krmUInt32Number(b);
    off[3] = base + X1 + Y1 + Z1;
    w[0] = 65536 - rp;
    w[1] = rp - rq;
    w[2] = rq - rs;
    w[3] = rs;
}

inline void PrepareCell(Cells& c, krmUInt32Number k, krmUInt32Number base, krmUInt64Number x, krmUInt64Number y,
                        krmUInt64Number z)
{
    MakeCell(c.off[k], c.w[k], base, x, y, z);
}

// The cell of a 16-bit input: adds its node offset to *base and returns its sort key. The division
// (a + 0x7FFF) / 0xFFFF is done without one: exact below 2^24 + 2^15, and a grid has at most 256
// points per input.
inline krmUInt64Number Cell16(krmUInt32Number v, krmUInt32Number domain, krmUInt32Number stride, krmUInt32Number* base)
{
    const krmUInt32Number a = v * domain;
    const krmUInt32Number x = a + 0x7FFFu;
    const krmUInt32Number fk = a + ((x + (x >> 16) + 1) >> 16);
    *base += (fk >> 16) * stride;
    // No upper neighbour for the last code or a one-point grid; masks, not branches.
    const krmUInt32Number upper = domain == 0 ? 0 : stride;
    return SortKey(fk & 0xFFFF, upper & (0u - krmUInt32Number(v != 0xFFFF)));
}

// The linear step of the first of four inputs, l + (((h - l) a + 0x8000) >> 16), all in unsigned
// 32 bits: a h + (65536 - a) l + 0x8000 stays below 2^32.
inline krmUInt16Number Lerp(krmUInt32Number a, krmUInt32Number l, krmUInt32Number h)
{
    return krmUInt16Number((a * h + (65536u - a) * l + 0x8000u) >> 16);
}

// c0 + ((t + (t >> 16)) >> 16) with t = R + 0x8001 is, with T = 65536 c0 + t (never negative and
// below 2^32 for words), (T - c0 + (T >> 16)) >> 16: all in unsigned 32 bits.
inline krmUInt16Number Tetra(krmUInt32Number c0, krmUInt32Number pa, krmUInt32Number pb, krmUInt32Number pc,
                             const krmUInt32Number* w)
{
    const krmUInt32Number T = c0 * w[0] + pa * w[1] + pb * w[2] + pc * w[3] + 0x8001u;
    return krmUInt16Number((T - c0 + (T >> 16)) >> 16);
}

inline void InterpolateCell(const krmUInt16Number* t, Cells& c, krmUInt32Number k)
{
    const krmUInt16Number *p0 = t + c.off[k][0], *pa = t + c.off[k][1], *pb = t + c.off[k][2], *pc = t + c.off[k][3];
    for (krmUInt32Number o = 0; o < 4; o++) c.out[k][o] = Tetra(p0[o], pa[o], pb[o], pc[o], c.w[k]);
}

void InterpolatePortable(const _krmFastWorker* f, Cells& c, krmUInt32Number count)
{
    for (krmUInt32Number k = 0; k < count; k++) InterpolateCell(f->Table, c, k);
}

#ifdef KRM_X86
__attribute__((target("avx2"))) inline __m256i Corners2(const krmUInt16Number* t, krmUInt32Number a, krmUInt32Number b)
{
    const __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + a));
    const __m128i y = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + b));
    return _mm256_cvtepu16_epi32(_mm_unpacklo_epi64(x, y));
}

// Two pixels of four outputs per 256-bit register.
__attribute__((target("avx2"))) void InterpolateAVX2(const _krmFastWorker* f, Cells& c, krmUInt32Number count)
{
    const krmUInt16Number* t = f->Table;
    const __m256i bias = _mm256_set1_epi32(0x8001);
    krmUInt32Number k = 0;
    for (; k + 2 <= count; k += 2) {
        const __m256i w = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.w[k]));
        const __m256i c0 = Corners2(t, c.off[k][0], c.off[k + 1][0]);
        __m256i T = _mm256_add_epi32(_mm256_mullo_epi32(c0, _mm256_shuffle_epi32(w, 0x00)), bias);
        T = _mm256_add_epi32(T, _mm256_mullo_epi32(Corners2(t, c.off[k][1], c.off[k + 1][1]), _mm256_shuffle_epi32(w, 0x55)));
        T = _mm256_add_epi32(T, _mm256_mullo_epi32(Corners2(t, c.off[k][2], c.off[k + 1][2]), _mm256_shuffle_epi32(w, 0xAA)));
        T = _mm256_add_epi32(T, _mm256_mullo_epi32(Corners2(t, c.off[k][3], c.off[k + 1][3]), _mm256_shuffle_epi32(w, 0xFF)));
        const __m256i r = _mm256_srli_epi32(_mm256_add_epi32(_mm256_sub_epi32(T, c0), _mm256_srli_epi32(T, 16)), 16);
        const __m256i packed = _mm256_packus_epi32(r, r);  // words: pixel k twice | pixel k+1 twice
        _mm_storel_epi64(reinterpret_cast<__m128i*>(c.out[k]), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(c.out[k + 1]), _mm256_extracti128_si256(packed, 1));
    }
    for (; k < count; k++) InterpolateCell(t, c, k);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i Corners4(const krmUInt16Number* t,
                                                                            const Cells& c, krmUInt32Number k,
                                                                            int corner)
{
    auto pair = [&](int i) {
        return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + c.off[k + i][corner])),
                                  _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + c.off[k + i + 1][corner])));
    };
    return _mm512_cvtepu16_epi32(_mm256_inserti128_si256(_mm256_castsi128_si256(pair(0)), pair(2), 1));
}

// Four pixels of four outputs per 512-bit register.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void InterpolateAVX512(const _krmFastWorker* f, Cells& c,
                                                                           krmUInt32Number count)
{
    const krmUInt16Number* t = f->Table;
    const __m512i bias = _mm512_set1_epi32(0x8001);
    krmUInt32Number k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m512i w = _mm512_load_si512(c.w[k]);
        const __m512i c0 = Corners4(t, c, k, 0);
        __m512i T = _mm512_add_epi32(_mm512_mullo_epi32(c0, _mm512_shuffle_epi32(w, _MM_PERM_AAAA)), bias);
        T = _mm512_add_epi32(T, _mm512_mullo_epi32(Corners4(t, c, k, 1), _mm512_shuffle_epi32(w, _MM_PERM_BBBB)));
        T = _mm512_add_epi32(T, _mm512_mullo_epi32(Corners4(t, c, k, 2), _mm512_shuffle_epi32(w, _MM_PERM_CCCC)));
        T = _mm512_add_epi32(T, _mm512_mullo_epi32(Corners4(t, c, k, 3), _mm512_shuffle_epi32(w, _MM_PERM_DDDD)));
        const __m512i r = _mm512_srli_epi32(_mm512_add_epi32(_mm512_sub_epi32(T, c0), _mm512_srli_epi32(T, 16)), 16);
        _mm256_store_si256(reinterpret_cast<__m256i*>(c.out[k]), _mm512_cvtepi32_epi16(r));
    }
    for (; k < count; k++) InterpolateCell(t, c, k);
}
#endif

typedef void (*InterpolateFn)(const _krmFastWorker* f, Cells& c, krmUInt32Number count);

// The conversions to CMYK with their layouts fixed at compile time: RGB of 8 or 16 bits in, four
// adjacent output samples, no alpha; the cells' four words per pixel then are the output order.
template <krmUInt32Number InBytes, krmUInt32Number OutBytes>
struct RGBToCMYK : Offsets {
    static constexpr krmUInt32Number in[3] = {0, InBytes, 2 * InBytes};
    static constexpr krmUInt32Number ps = 3 * InBytes, pd = 4 * OutBytes, inBytes = InBytes, outBytes = OutBytes,
                                      outN = 4;
    static constexpr bool alpha = false, contiguous = true, wholePixel = false;
    using Offsets::Offsets;
    static bool Matches(const _krmFastWorker* f)
    {
        if (f->in.bytes != InBytes || f->out.bytes != OutBytes || f->fuseAlpha || f->out.nChan != 4) return false;
        if (f->in.pixelSize != ps || f->out.pixelSize != pd) return false;
        for (krmUInt32Number i = 0; i < 3; i++)
            if (f->in.off[i] != in[i]) return false;
        for (krmUInt32Number i = 0; i < 4; i++)
            if (f->out.off[i] != i * OutBytes) return false;
        return true;
    }
};

struct RuntimeCLUTOffsets : Offsets {
    static constexpr bool contiguous = false, wholePixel = false;
    using Offsets::Offsets;
};

// The proofing view's layouts: NIn adjacent colour samples and one alpha sample in, 8-bit pixels
// of four bytes with the alpha out, each pixel written with one store.
template <krmUInt32Number InBytes, krmUInt32Number NIn, krmUInt32Number O0, krmUInt32Number O1, krmUInt32Number O2,
          krmUInt32Number OA>
struct ToPixel32 : Offsets {
    static constexpr krmUInt32Number in[4] = {0, InBytes, 2 * InBytes, 3 * InBytes}, out[4] = {O0, O1, O2, 0};
    static constexpr krmUInt32Number ps = (NIn + 1) * InBytes, ia = NIn * InBytes, pd = 4, oa = OA,
                                      inBytes = InBytes, outBytes = 1, outN = 3;
    static constexpr bool alpha = true, contiguous = false, wholePixel = true;
    using Offsets::Offsets;
    static bool Matches(const _krmFastWorker* f)
    {
        if (f->in.bytes != InBytes || f->in.nChan != NIn || f->in.pixelSize != ps || f->in.alpha != krmInt32Number(ia))
            return false;
        for (krmUInt32Number i = 0; i < NIn; i++)
            if (f->in.off[i] != in[i]) return false;
        return f->fuseAlpha && f->out.bytes == 1 && f->out.nChan == 3 && f->out.pixelSize == 4 &&
               f->out.alpha == krmInt32Number(OA) && f->out.off[0] == O0 && f->out.off[1] == O1 && f->out.off[2] == O2;
    }
};

// The extra-channel copy's conversions between 8- and 16-bit samples.
template <class L>
inline void CopyAlpha(const L& l, const krmUInt8Number* s, krmUInt8Number* d)
{
    if (l.inBytes == l.outBytes)
        std::memcpy(d, s, l.inBytes);
    else if (l.inBytes == 2)
        *d = From16To8(Load16(s));
    else
        Store16(d, krmUInt16Number(*s * 257u));
}

// Words to bytes as the formatters round, the whole block at once so that it vectorises:
// (w * 65281 + 2^23) >> 24 equals (t - (t >> 8)) >> 8 with t = w + 128 for every word.
inline void BlockTo8(const Cells& c, krmUInt8Number* bytes)
{
    const krmUInt16Number* w = &c.out[0][0];
    for (krmUInt32Number i = 0; i < kBlock * 4; i++) {
        const krmUInt32Number t = krmUInt32Number(w[i]) + 128;
        bytes[i] = krmUInt8Number((t - (t >> 8)) >> 8);
    }
}

// Fills the cells of up to kBlock pixels from 8- or 16-bit input; the last three inputs pick the
// tetrahedron.
template <int NIn, class L>
void PrepareBlock(const _krmFastWorker* f, const L& l, const krmUInt8Number* s, Cells& c, krmUInt32Number count,
                  krmUInt32Number first = 0)
{
    constexpr int t = NIn - 3;
    if (l.inBytes == 1) {
        for (krmUInt32Number k = first; k < count; k++, s += l.ps) {
            const krmUInt32Number x = s[l.in[t]], y = s[l.in[t + 1]], z = s[l.in[t + 2]];
            krmUInt32Number base = f->Base[t][x] + f->Base[t + 1][y] + f->Base[t + 2][z];
            if constexpr (NIn == 4) {
                const krmUInt32Number v = s[l.in[0]];
                base += f->Base[0][v];
                c.lerpUpper[k] = f->Upper[0][v];
                c.lerpRest[k] = f->Rest[0][v];
            }
            PrepareCell(c, k, base, f->Key[t][x], f->Key[t + 1][y], f->Key[t + 2][z]);
        }
        return;
    }
    for (krmUInt32Number k = first; k < count; k++, s += l.ps) {
        krmUInt32Number base = 0;
        krmUInt64Number key[3];
        for (int ch = 0; ch < 3; ch++) key[ch] = Cell16(Load16(s + l.in[t + ch]), l.domain[t + ch], l.stride[t + ch], &base);
        if constexpr (NIn == 4) {
            const krmUInt64Number k0 = Cell16(Load16(s + l.in[0]), l.domain[0], l.stride[0], &base);
            c.lerpUpper[k] = krmUInt32Number(k0);
            c.lerpRest[k] = krmUInt32Number(k0 >> 32);
        }
        PrepareCell(c, k, base, key[0], key[1], key[2]);
    }
}


// The first n pixels' input samples as 16-bit words, one row per input, for the vector code.
template <int NIn, class L>
inline void SamplesAsWords(const L& l, const krmUInt8Number* s, krmUInt32Number n, krmUInt32Number (*v)[kBlock])
{
    for (krmUInt32Number k = 0; k < n; k++, s += l.ps)
        for (int ch = 0; ch < NIn; ch++) v[ch][k] = l.inBytes == 1 ? s[l.in[ch]] * 257u : Load16(s + l.in[ch]);
}

#ifdef KRM_X86
// Four registers of eight pixels each (one value per pixel) stored as eight rows of four.
__attribute__((target("avx2"))) inline void Transpose4x8(__m256i a, __m256i b, __m256i c, __m256i d, krmUInt32Number* dst)
{
    const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpackhi_epi32(a, b);
    const __m256i t2 = _mm256_unpacklo_epi32(c, d), t3 = _mm256_unpackhi_epi32(c, d);
    const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
    const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
    _mm256_store_si256(reinterpret_cast<__m256i*>(dst), _mm256_permute2x128_si256(u0, u1, 0x20));
    _mm256_store_si256(reinterpret_cast<__m256i*>(dst + 8), _mm256_permute2x128_si256(u2, u3, 0x20));
    _mm256_store_si256(reinterpret_cast<__m256i*>(dst + 16), _mm256_permute2x128_si256(u0, u1, 0x31));
    _mm256_store_si256(reinterpret_cast<__m256i*>(dst + 24), _mm256_permute2x128_si256(u2, u3, 0x31));
}

// Puts the larger fraction (with its upper-neighbour offset) first, lane by lane.
__attribute__((target("avx2"))) inline void Order8(__m256i& rh, __m256i& uh, __m256i& rl, __m256i& ul)
{
    const __m256i m = _mm256_cmpgt_epi32(rl, rh);
    const __m256i r = rh, u = uh;
    rh = _mm256_blendv_epi8(rh, rl, m);
    rl = _mm256_blendv_epi8(rl, r, m);
    uh = _mm256_blendv_epi8(uh, ul, m);
    ul = _mm256_blendv_epi8(ul, u, m);
}

// PrepareBlock for grids addressed by arithmetic, eight pixels per step, as PrepareBlockAVX512.
template <int NIn, class L>
__attribute__((target("avx2"))) void PrepareBlockAVX2(const _krmFastWorker* f, const L& l, const krmUInt8Number* s,
                                                      Cells& c, krmUInt32Number count)
{
    const krmUInt32Number whole = count & ~7u;
    alignas(64) krmUInt32Number v[NIn][kBlock];
    SamplesAsWords<NIn>(l, s, whole, v);
    constexpr int t = NIn - 3;
    const __m256i ffff = _mm256_set1_epi32(0xFFFF), bias = _mm256_set1_epi32(0x7FFF), one = _mm256_set1_epi32(1),
                  full = _mm256_set1_epi32(65536);
    for (krmUInt32Number k = 0; k < whole; k += 8) {
        __m256i base = _mm256_setzero_si256(), rest[NIn], upper[NIn];
        for (int ch = 0; ch < NIn; ch++) {
            const __m256i x = _mm256_load_si256(reinterpret_cast<const __m256i*>(v[ch] + k));
            const __m256i stride = _mm256_set1_epi32(int(l.stride[ch]));
            const __m256i a = _mm256_mullo_epi32(x, _mm256_set1_epi32(int(l.domain[ch])));
            const __m256i y = _mm256_add_epi32(a, bias);
            const __m256i fk =
                _mm256_add_epi32(a, _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(y, _mm256_srli_epi32(y, 16)), one), 16));
            base = _mm256_add_epi32(base, _mm256_mullo_epi32(_mm256_srli_epi32(fk, 16), stride));
            rest[ch] = _mm256_and_si256(fk, ffff);
            upper[ch] = l.domain[ch] == 0 ? _mm256_setzero_si256() : _mm256_andnot_si256(_mm256_cmpeq_epi32(x, ffff), stride);
        }
        if constexpr (NIn == 4) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(c.lerpRest + k), rest[0]);
            _mm256_store_si256(reinterpret_cast<__m256i*>(c.lerpUpper + k), upper[0]);
        }
        __m256i ra = rest[t], rb = rest[t + 1], rc = rest[t + 2], ua = upper[t], ub = upper[t + 1], uc = upper[t + 2];
        Order8(ra, ua, rb, ub);
        Order8(rb, ub, rc, uc);
        Order8(ra, ua, rb, ub);
        const __m256i o1 = _mm256_add_epi32(base, ua);
        const __m256i o2 = _mm256_add_epi32(o1, ub);
        const __m256i o3 = _mm256_add_epi32(o2, uc);
        Transpose4x8(base, o1, o2, o3, &c.off[k][0]);
        Transpose4x8(_mm256_sub_epi32(full, ra), _mm256_sub_epi32(ra, rb), _mm256_sub_epi32(rb, rc), rc, &c.w[k][0]);
    }
    if (whole < count) PrepareBlock<NIn>(f, l, s + whole * l.ps, c, count, whole);
}

// Four registers of sixteen pixels each (one value per pixel) stored as sixteen rows of four.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline void Transpose4(__m512i a, __m512i b, __m512i c, __m512i d,
                                                                           krmUInt32Number* dst)
{
    const __m512i t0 = _mm512_unpacklo_epi32(a, b), t1 = _mm512_unpackhi_epi32(a, b);
    const __m512i t2 = _mm512_unpacklo_epi32(c, d), t3 = _mm512_unpackhi_epi32(c, d);
    const __m512i u0 = _mm512_unpacklo_epi64(t0, t2), u1 = _mm512_unpackhi_epi64(t0, t2);
    const __m512i u2 = _mm512_unpacklo_epi64(t1, t3), u3 = _mm512_unpackhi_epi64(t1, t3);
    const __m512i v0 = _mm512_shuffle_i32x4(u0, u1, 0x44), v1 = _mm512_shuffle_i32x4(u2, u3, 0x44);
    const __m512i v2 = _mm512_shuffle_i32x4(u0, u1, 0xEE), v3 = _mm512_shuffle_i32x4(u2, u3, 0xEE);
    _mm512_store_si512(dst, _mm512_shuffle_i32x4(v0, v1, 0x88));
    _mm512_store_si512(dst + 16, _mm512_shuffle_i32x4(v0, v1, 0xDD));
    _mm512_store_si512(dst + 32, _mm512_shuffle_i32x4(v2, v3, 0x88));
    _mm512_store_si512(dst + 48, _mm512_shuffle_i32x4(v2, v3, 0xDD));
}

// Puts the larger fraction (with its upper-neighbour offset) first, lane by lane.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline void Order(__m512i& rh, __m512i& uh, __m512i& rl,
                                                                      __m512i& ul)
{
    const __mmask16 m = _mm512_cmpgt_epi32_mask(rl, rh);
    const __m512i r = rh, u = uh;
    rh = _mm512_mask_blend_epi32(m, rh, rl);
    rl = _mm512_mask_blend_epi32(m, rl, r);
    uh = _mm512_mask_blend_epi32(m, uh, ul);
    ul = _mm512_mask_blend_epi32(m, ul, u);
}

// PrepareBlock for grids addressed by arithmetic (not through prelinearisation tables), sixteen
// pixels per step: the same cells, fractions and weights. Fractions are ordered on their own here;
// where two tie, the corner between them has weight zero, so either order gives the same sum.
template <int NIn, class L>
__attribute__((target("avx512f,avx512bw,avx512vl"))) void PrepareBlockAVX512(const _krmFastWorker* f, const L& l,
                                                                             const krmUInt8Number* s, Cells& c,
                                                                             krmUInt32Number count)
{
    const krmUInt32Number whole = count & ~15u;
    alignas(64) krmUInt32Number v[NIn][kBlock];
    SamplesAsWords<NIn>(l, s, whole, v);
    constexpr int t = NIn - 3;
    const __m512i ffff = _mm512_set1_epi32(0xFFFF), bias = _mm512_set1_epi32(0x7FFF), one = _mm512_set1_epi32(1),
                  full = _mm512_set1_epi32(65536);
    for (krmUInt32Number k = 0; k < whole; k += 16) {
        __m512i base = _mm512_setzero_si512(), rest[NIn], upper[NIn];
        for (int ch = 0; ch < NIn; ch++) {
            const __m512i x = _mm512_load_si512(v[ch] + k);
            const __m512i stride = _mm512_set1_epi32(int(l.stride[ch]));
            const __m512i a = _mm512_mullo_epi32(x, _mm512_set1_epi32(int(l.domain[ch])));
            const __m512i y = _mm512_add_epi32(a, bias);
            const __m512i fk =
                _mm512_add_epi32(a, _mm512_srli_epi32(_mm512_add_epi32(_mm512_add_epi32(y, _mm512_srli_epi32(y, 16)), one), 16));
            base = _mm512_add_epi32(base, _mm512_mullo_epi32(_mm512_srli_epi32(fk, 16), stride));
            rest[ch] = _mm512_and_si512(fk, ffff);
            upper[ch] = l.domain[ch] == 0 ? _mm512_setzero_si512()
                                          : _mm512_maskz_mov_epi32(_mm512_cmpneq_epi32_mask(x, ffff), stride);
        }
        if constexpr (NIn == 4) {
            _mm512_store_si512(c.lerpRest + k, rest[0]);
            _mm512_store_si512(c.lerpUpper + k, upper[0]);
        }
        __m512i ra = rest[t], rb = rest[t + 1], rc = rest[t + 2], ua = upper[t], ub = upper[t + 1], uc = upper[t + 2];
        Order(ra, ua, rb, ub);
        Order(rb, ub, rc, uc);
        Order(ra, ua, rb, ub);
        const __m512i o1 = _mm512_add_epi32(base, ua);
        const __m512i o2 = _mm512_add_epi32(o1, ub);
        const __m512i o3 = _mm512_add_epi32(o2, uc);
        Transpose4(base, o1, o2, o3, &c.off[k][0]);
        Transpose4(_mm512_sub_epi32(full, ra), _mm512_sub_epi32(ra, rb), _mm512_sub_epi32(rb, rc), rc, &c.w[k][0]);
    }
    if (whole < count) PrepareBlock<NIn>(f, l, s + whole * l.ps, c, count, whole);
}

// Four inputs, four pixels of four outputs per register: both tetrahedral evaluations and the
// linear step between them.
template <bool Upper>
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i CornersAt(const krmUInt16Number* t, const Cells& c,
                                                                             krmUInt32Number k, int corner)
{
    auto at = [&](int i) {
        return t + c.off[k + i][corner] + (Upper ? c.lerpUpper[k + i] : 0);
    };
    auto pair = [&](int i) {
        return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at(i))),
                                  _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at(i + 1))));
    };
    return _mm512_cvtepu16_epi32(_mm256_inserti128_si256(_mm256_castsi128_si256(pair(0)), pair(2), 1));
}

template <bool Upper>
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i Tetra4(const krmUInt16Number* t, const Cells& c,
                                                                          krmUInt32Number k, __m512i w)
{
    const __m512i c0 = CornersAt<Upper>(t, c, k, 0);
    __m512i T = _mm512_add_epi32(_mm512_mullo_epi32(c0, _mm512_shuffle_epi32(w, _MM_PERM_AAAA)), _mm512_set1_epi32(0x8001));
    T = _mm512_add_epi32(T, _mm512_mullo_epi32(CornersAt<Upper>(t, c, k, 1), _mm512_shuffle_epi32(w, _MM_PERM_BBBB)));
    T = _mm512_add_epi32(T, _mm512_mullo_epi32(CornersAt<Upper>(t, c, k, 2), _mm512_shuffle_epi32(w, _MM_PERM_CCCC)));
    T = _mm512_add_epi32(T, _mm512_mullo_epi32(CornersAt<Upper>(t, c, k, 3), _mm512_shuffle_epi32(w, _MM_PERM_DDDD)));
    return _mm512_srli_epi32(_mm512_add_epi32(_mm512_sub_epi32(T, c0), _mm512_srli_epi32(T, 16)), 16);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void Interpolate4AVX512(const _krmFastWorker* f, Cells& c,
                                                                            krmUInt32Number count)
{
    const krmUInt16Number* t = f->Table;
    const __m512i spread = _mm512_set_epi32(3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0);
    const __m512i full = _mm512_set1_epi32(65536), half = _mm512_set1_epi32(0x8000);
    krmUInt32Number k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m512i w = _mm512_load_si512(c.w[k]);
        const __m512i lo = Tetra4<false>(t, c, k, w), hi = Tetra4<true>(t, c, k, w);
        const __m512i a =
            _mm512_permutexvar_epi32(spread, _mm512_castsi128_si512(_mm_load_si128(reinterpret_cast<const __m128i*>(c.lerpRest + k))));
        const __m512i r = _mm512_srli_epi32(
            _mm512_add_epi32(_mm512_add_epi32(_mm512_mullo_epi32(a, hi), _mm512_mullo_epi32(_mm512_sub_epi32(full, a), lo)), half),
            16);
        _mm256_store_si256(reinterpret_cast<__m256i*>(c.out[k]), _mm512_cvtepi32_epi16(r));
    }
    for (; k < count; k++) {
        krmUInt16Number low[4];
        InterpolateCell(t, c, k);
        std::memcpy(low, c.out[k], sizeof low);
        for (int j = 0; j < 4; j++) c.off[k][j] += c.lerpUpper[k];
        InterpolateCell(t, c, k);
        for (int o = 0; o < 4; o++) c.out[k][o] = Lerp(c.lerpRest[k], low[o], c.out[k][o]);
    }
}
#endif

// The gamut check of up to kBlock pixels: the out-of-gamut ones take the alarm codes. The last
// three inputs pick the tetrahedron; a fourth, first, input is interpolated linearly between the
// tetrahedra of two neighbouring slices, as the four-input routine does.
template <int NIn, class L>
void GamutBlock(const _krmFastWorker* f, const L& l, const krmUInt8Number* s, Cells& c, krmUInt32Number count,
                const krmUInt16Number* alarm, krmUInt32Number first = 0)
{
    constexpr int t0 = NIn - 3;
    const _krmGamutGrid* g = f->Gamut;
    const krmUInt16Number* t = g->Table;
    for (krmUInt32Number k = first; k < count; k++, s += l.ps) {
        krmUInt32Number base = 0;
        krmUInt64Number key[4];
        for (int ch = 0; ch < NIn; ch++) {
            if (l.inBytes == 1) {
                const krmUInt32Number v = s[l.in[ch]];
                base += g->Base[ch][v];
                key[ch] = g->Key[ch][v];
            } else {
                key[ch] = Cell16(Load16(s + l.in[ch]), g->Domain[ch], g->Stride[ch], &base);
            }
        }
        const krmUInt8Number state = g->CellState[base];
        if (state == kAllIn) continue;
        if (state == kMixed) {
            krmUInt32Number off[4], w[4];
            MakeCell(off, w, base, key[t0], key[t0 + 1], key[t0 + 2]);
            krmUInt32Number r = Tetra(t[off[0]], t[off[1]], t[off[2]], t[off[3]], w);
            if constexpr (NIn == 4) {
                const krmUInt32Number up = krmUInt32Number(key[0]);
                r = Lerp(krmUInt32Number(key[0] >> 32), r,
                         Tetra(t[off[0] + up], t[off[1] + up], t[off[2] + up], t[off[3] + up], w));
            }
            if (r == 0) continue;
        }
        for (krmUInt32Number o = 0; o < 4; o++) c.out[k][o] = alarm[o];
    }
}

template <class L>
void StoreBlock(const L& l, const Cells& c, const krmUInt8Number* s, krmUInt8Number* d, krmUInt32Number count)
{
    if constexpr (L::contiguous) {
        if constexpr (L::outBytes == 2) {
            std::memcpy(d, c.out, count * 8);
        } else {
            alignas(64) krmUInt8Number bytes[kBlock * 4];
            BlockTo8(c, bytes);
            std::memcpy(d, bytes, count * 4);
        }
        return;
    }
    if constexpr (L::wholePixel) {
        alignas(64) krmUInt8Number bytes[kBlock * 4];
        BlockTo8(c, bytes);
        for (krmUInt32Number k = 0; k < count; k++, s += l.ps, d += l.pd) {
            const krmUInt32Number alpha = l.inBytes == 1 ? s[l.ia] : From16To8(Load16(s + l.ia));
            const krmUInt32Number px = (krmUInt32Number(bytes[4 * k]) << (8 * l.out[0])) |
                                       (krmUInt32Number(bytes[4 * k + 1]) << (8 * l.out[1])) |
                                       (krmUInt32Number(bytes[4 * k + 2]) << (8 * l.out[2])) | (alpha << (8 * l.oa));
            std::memcpy(d, &px, 4);
        }
        return;
    }
    const krmUInt32Number n = l.outN;
    for (krmUInt32Number k = 0; k < count; k++, s += l.ps, d += l.pd) {
        // Read before the pixel is written: in place, the alpha may sit where a colour goes.
        krmUInt8Number alpha[2];
        if (l.alpha) std::memcpy(alpha, s + l.ia, l.inBytes);
        if (l.outBytes == 1) {
            krmUInt8Number o8[4];
            for (krmUInt32Number o = 0; o < 4; o++) o8[o] = From16To8(c.out[k][o]);
            for (krmUInt32Number o = 0; o < n; o++) d[l.out[o]] = o8[o];
        } else
            for (krmUInt32Number o = 0; o < n; o++) Store16(d + l.out[o], c.out[k][o]);
        if (l.alpha) CopyAlpha(l, alpha, d + l.oa);
    }
}


#ifdef KRM_X86
// The tetrahedral value of sixteen one-output cells (the mixed ones), their corners gathered at
// the offsets o plus shift.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i GamutTetra(const krmUInt16Number* table,
                                                                              __mmask16 mixed, const __m512i o[4],
                                                                              const __m512i w[4], __m512i shift)
{
    const __m512i ffff = _mm512_set1_epi32(0xFFFF);
    __m512i corner[4];
    for (int i = 0; i < 4; i++)
        corner[i] = _mm512_and_si512(
            _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), mixed, _mm512_add_epi32(o[i], shift), table, 2), ffff);
    __m512i T = _mm512_add_epi32(_mm512_mullo_epi32(corner[0], w[0]), _mm512_set1_epi32(0x8001));
    for (int i = 1; i < 4; i++) T = _mm512_add_epi32(T, _mm512_mullo_epi32(corner[i], w[i]));
    return _mm512_srli_epi32(_mm512_add_epi32(_mm512_sub_epi32(T, corner[0]), _mm512_srli_epi32(T, 16)), 16);
}

// GamutBlock sixteen pixels at a time: cells by arithmetic, the cell states and, for the mixed
// cells, the corners gathered (with four inputs, in both slices).
template <int NIn, class L>
__attribute__((target("avx512f,avx512bw,avx512vl"))) void GamutBlockAVX512(const _krmFastWorker* f, const L& l,
                                                                           const krmUInt8Number* s, Cells& c,
                                                                           krmUInt32Number count,
                                                                           const krmUInt16Number* alarm)
{
    constexpr int t0 = NIn - 3;
    const _krmGamutGrid* g = f->Gamut;
    const krmUInt32Number whole = count & ~15u;
    alignas(64) krmUInt32Number v[NIn][kBlock];
    SamplesAsWords<NIn>(l, s, whole, v);
    const __m512i ffff = _mm512_set1_epi32(0xFFFF), bias = _mm512_set1_epi32(0x7FFF), one = _mm512_set1_epi32(1),
                  full = _mm512_set1_epi32(65536), byte = _mm512_set1_epi32(0xFF), none = _mm512_setzero_si512();
    krmUInt64Number alarm64;
    std::memcpy(&alarm64, alarm, 8);
    for (krmUInt32Number k = 0; k < whole; k += 16) {
        __m512i base = _mm512_setzero_si512(), rest[NIn], upper[NIn];
        for (int ch = 0; ch < NIn; ch++) {
            const __m512i x = _mm512_load_si512(v[ch] + k);
            const __m512i stride = _mm512_set1_epi32(int(g->Stride[ch]));
            const __m512i a = _mm512_mullo_epi32(x, _mm512_set1_epi32(int(g->Domain[ch])));
            const __m512i y = _mm512_add_epi32(a, bias);
            const __m512i fk =
                _mm512_add_epi32(a, _mm512_srli_epi32(_mm512_add_epi32(_mm512_add_epi32(y, _mm512_srli_epi32(y, 16)), one), 16));
            base = _mm512_add_epi32(base, _mm512_mullo_epi32(_mm512_srli_epi32(fk, 16), stride));
            rest[ch] = _mm512_and_si512(fk, ffff);
            upper[ch] = g->Domain[ch] == 0 ? _mm512_setzero_si512()
                                           : _mm512_maskz_mov_epi32(_mm512_cmpneq_epi32_mask(x, ffff), stride);
        }
        const __m512i state = _mm512_and_si512(_mm512_i32gather_epi32(base, g->CellState, 1), byte);
        __mmask16 out = _mm512_cmpeq_epi32_mask(state, _mm512_set1_epi32(kAllOut));
        const __mmask16 mixed = _mm512_cmpeq_epi32_mask(state, _mm512_setzero_si512());
        if (mixed) {
            __m512i ra = rest[t0], rb = rest[t0 + 1], rc = rest[t0 + 2], ua = upper[t0], ub = upper[t0 + 1],
                    uc = upper[t0 + 2];
            Order(ra, ua, rb, ub);
            Order(rb, ub, rc, uc);
            Order(ra, ua, rb, ub);
            const __m512i o1 = _mm512_add_epi32(base, ua);
            const __m512i o2 = _mm512_add_epi32(o1, ub);
            const __m512i o3 = _mm512_add_epi32(o2, uc);
            const __m512i w0 = _mm512_sub_epi32(full, ra), w1 = _mm512_sub_epi32(ra, rb), w2 = _mm512_sub_epi32(rb, rc);
            const __m512i o[4] = {base, o1, o2, o3}, w[4] = {w0, w1, w2, rc};
            __m512i r = GamutTetra(g->Table, mixed, o, w, none);
            if constexpr (NIn == 4) {
                // The linear step along the first input, in unsigned 32 bits as Lerp.
                const __m512i hi = GamutTetra(g->Table, mixed, o, w, upper[0]);
                r = _mm512_srli_epi32(_mm512_add_epi32(_mm512_add_epi32(_mm512_mullo_epi32(rest[0], hi),
                                                                        _mm512_mullo_epi32(_mm512_sub_epi32(full, rest[0]), r)),
                                                       _mm512_set1_epi32(0x8000)),
                                      16);
            }
            out |= _mm512_mask_cmpneq_epi32_mask(mixed, r, _mm512_setzero_si512());
        }
        for (unsigned bits = out; bits; bits &= bits - 1)
            std::memcpy(c.out[k + krmUInt32Number(__builtin_ctz(bits))], &alarm64, 8);
    }
    if (whole < count) GamutBlock<NIn>(f, l, s + whole * l.ps, c, count, alarm, whole);
}
#endif

// Vector preparation of the cells for grids addressed by arithmetic: none, AVX2, or AVX-512 (with
// its four-input interpolation and gamut check).
enum Prep { kPrepScalar, kPrepAVX2, kPrepAVX512 };

template <InterpolateFn Interpolate, Prep P, class L, int NIn>
void CLUTLine(const _krmFastWorker* f, const krmUInt8Number* s, krmUInt8Number* d, krmUInt32Number n,
              const krmUInt16Number* alarm)
{
    Cells c;
    std::memset(c.out, 0, sizeof c.out);  // a short block still converts whole rows of words
    const L l(f);
    while (n > 0) {
        const krmUInt32Number count = std::min(n, kBlock);
#ifdef KRM_X86
        if constexpr (P == kPrepAVX512) {
            if (f->prelin)
                PrepareBlock<NIn>(f, l, s, c, count);
            else
                PrepareBlockAVX512<NIn>(f, l, s, c, count);
            if constexpr (NIn == 4)
                Interpolate4AVX512(f, c, count);
            else
                Interpolate(f, c, count);
        } else
#endif
        {
#ifdef KRM_X86
            if (P == kPrepAVX2 && !f->prelin)  // prelinearised grids index through tables
                PrepareBlockAVX2<NIn>(f, l, s, c, count);
            else
#endif
                PrepareBlock<NIn>(f, l, s, c, count);
            Interpolate(f, c, count);
        }
        if constexpr (NIn == 4 && P != kPrepAVX512) {
            std::memcpy(c.low, c.out, sizeof c.out);
            for (krmUInt32Number k = 0; k < count; k++)
                for (int j = 0; j < 4; j++) c.off[k][j] += c.lerpUpper[k];
            Interpolate(f, c, count);
            for (krmUInt32Number k = 0; k < count; k++)
                for (int o = 0; o < 4; o++) c.out[k][o] = Lerp(c.lerpRest[k], c.low[k][o], c.out[k][o]);
        }
        if (f->Gamut) {
#ifdef KRM_X86
            if constexpr (P == kPrepAVX512)
                GamutBlockAVX512<NIn>(f, l, s, c, count, alarm);
            else
#endif
                GamutBlock<NIn>(f, l, s, c, count, alarm);
        }
        StoreBlock(l, c, s, d, count);
        s += count * l.ps;
        d += count * l.pd;
        n -= count;
    }
}

typedef void (*LineFn)(const _krmFastWorker* f, const krmUInt8Number* s, krmUInt8Number* d, krmUInt32Number n,
                       const krmUInt16Number* alarm);

// The line routine for an interpolation kernel and the worker's layout.
template <InterpolateFn Interpolate, Prep P = kPrepScalar>
LineFn CLUTLineFor(const _krmFastWorker* f)
{
    using RGBAToBGRA8 = ToPixel32<1, 3, 2, 1, 0, 3>;
    using CMYKA16ToBGRA8 = ToPixel32<2, 4, 2, 1, 0, 3>;
    if (CMYKA16ToBGRA8::Matches(f)) return CLUTLine<Interpolate, P, CMYKA16ToBGRA8, 4>;
    if (f->nInputs == 4) return CLUTLine<Interpolate, P, RuntimeCLUTOffsets, 4>;
    if (RGBAToBGRA8::Matches(f)) return CLUTLine<Interpolate, P, RGBAToBGRA8, 3>;
    if (RGBToCMYK<1, 1>::Matches(f)) return CLUTLine<Interpolate, P, RGBToCMYK<1, 1>, 3>;
    if (RGBToCMYK<2, 2>::Matches(f)) return CLUTLine<Interpolate, P, RGBToCMYK<2, 2>, 3>;
    if (RGBToCMYK<2, 1>::Matches(f)) return CLUTLine<Interpolate, P, RGBToCMYK<2, 1>, 3>;
    return CLUTLine<Interpolate, P, RuntimeCLUTOffsets, 3>;
}

// ---------------------------------------------------------------------------------------------
// Workers
// ---------------------------------------------------------------------------------------------

// The CLUT line routine depends on the layout: kept in the worker data.
void CLUTLineOf(const _krmFastWorker* f, const krmUInt8Number* s, krmUInt8Number* d, krmUInt32Number n,
                const krmUInt16Number* alarm)
{
    f->clutLine(f, s, d, n, alarm);
}

// In place with the same layout converts pixel by pixel alike; any other overlap goes to the
// per-pixel worker, which defines what it gives.
bool Overlap(const _krmTransform_struct* p, const _krmFastWorker* f, const void* in, const void* out,
             krmUInt32Number PixelsPerLine, krmUInt32Number LineCount, const krmStride* Stride)
{
    const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(in), b = reinterpret_cast<std::uintptr_t>(out);
    const std::uintptr_t aEnd = a + std::uintptr_t(LineCount - 1) * Stride->BytesPerLineIn +
                                std::uintptr_t(PixelsPerLine) * f->in.pixelSize;
    const std::uintptr_t bEnd = b + std::uintptr_t(LineCount - 1) * Stride->BytesPerLineOut +
                                std::uintptr_t(PixelsPerLine) * f->out.pixelSize;
    if (aEnd <= b || bEnd <= a) return false;
    const bool sameLayout = ((p->InputFormat ^ p->OutputFormat) & ~krmFMT_OPTIMIZED(1)) == 0;
    return !(a == b && sameLayout && Stride->BytesPerLineIn == Stride->BytesPerLineOut);
}

template <LineFn Line>
void FastXFORM(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
               krmUInt32Number LineCount, const krmStride* Stride)
{
    const _krmFastWorker* f = p->Fast;
    if (LineCount == 0 || PixelsPerLine == 0) return;
    if (Overlap(p, f, in, out, PixelsPerLine, LineCount, Stride)) {
        f->generic(p, in, out, PixelsPerLine, LineCount, Stride);
        return;
    }
    if ((p->dwOriginalFlags & krmFlagCopyAlpha) && !f->fuseAlpha)
        _krmHandleExtraChannels(p, in, out, PixelsPerLine, LineCount, Stride);
    // The alarm codes as they are now: they may change after the transform is made.
    const krmUInt16Number* alarm =
        f->Gamut ? static_cast<const _krmAlarmCodesChunkType*>(_krmContextGetClientChunk(p->ContextID, AlarmCodesContext))
                       ->AlarmCodes
                 : nullptr;
    const krmUInt8Number* s = static_cast<const krmUInt8Number*>(in);
    krmUInt8Number* d = static_cast<krmUInt8Number*>(out);
    for (krmUInt32Number l = 0; l < LineCount; l++) {
        Line(f, s, d, PixelsPerLine, alarm);
        s += Stride->BytesPerLineIn;
        d += Stride->BytesPerLineOut;
    }
}

// ---------------------------------------------------------------------------------------------
// Building
// ---------------------------------------------------------------------------------------------

// The fused tables reproduce the 64-bit sum exactly when no partial sum can leave 32 bits.
bool BuildMatShaper(_krmFastWorker* f, const _krmMatShaper8Data* m)
{
    std::int64_t bound = 0;
    for (int ch = 0; ch < 3; ch++) {
        std::int64_t largest = 0;
        for (int v = 0; v < 256; v++)
            for (int k = 0; k < 3; k++) {
                std::int64_t x = std::int64_t(m->Mat[k][ch]) * m->Shaper1[ch][v];
                if (ch == 0) x += std::int64_t(m->Off[k]) + 0x2000;
                largest = std::max(largest, x < 0 ? -x : x);
                f->Fused[ch][v][k] = krmInt32Number(x);
            }
        bound += largest;
    }
    if (bound >= (std::int64_t(1) << 31)) return false;
    for (int k = 0; k < 3; k++)
        for (krmUInt32Number i = 0; i < kShaperSteps; i++) f->Out8[k][i] = From16To8(m->Shaper2[k][i]);
    return true;
}

bool BuildCLUT(_krmFastWorker* f, const krmInterpParams* params, const _krmPrelin8Data* prelin, krmContext ctx)
{
    const krmUInt32Number nValues = prelin ? prelin->nValues : [params] {
        krmUInt32Number n = params->nOutputs;
        for (krmUInt32Number i = 0; i < params->nInputs; i++) n *= params->nSamples[i];
        return n;
    }();
    f->nInputs = prelin ? 3 : params->nInputs;
    f->prelin = prelin != nullptr;
    f->nOutputs = prelin ? prelin->nOutputs : params->nOutputs;
    f->Table = static_cast<krmUInt16Number*>(krmMallocZero(ctx, (nValues + 8) * sizeof(krmUInt16Number)));
    if (!f->Table) return false;
    std::memcpy(f->Table, prelin ? prelin->Table : static_cast<const krmUInt16Number*>(params->Table),
                nValues * sizeof(krmUInt16Number));
    if (prelin) {
        std::memcpy(f->Base, prelin->Base, sizeof f->Base);
        std::memcpy(f->Upper, prelin->Upper, sizeof f->Upper);
        std::memcpy(f->Rest, prelin->Rest, sizeof f->Rest);
    }
    for (krmUInt32Number ch = 0; ch < f->nInputs && !prelin; ch++) {
        f->Domain[ch] = params->Domain[ch];
        f->Stride[ch] = params->opta[f->nInputs - 1 - ch];
        for (krmUInt32Number v = 0; v < 256; v++) {
            const krmUInt32Number a = v * 257u * f->Domain[ch];
            const krmUInt32Number fk = a + (a + 0x7FFFu) / 0xFFFFu;
            f->Base[ch][v] = (fk >> 16) * f->Stride[ch];
            f->Rest[ch][v] = fk & 0xFFFF;
            f->Upper[ch][v] = (v == 255 || f->Domain[ch] == 0) ? 0 : f->Stride[ch];
        }
    }
    for (krmUInt32Number ch = 0; ch < f->nInputs; ch++)
        for (int v = 0; v < 256; v++) f->Key[ch][v] = SortKey(f->Rest[ch][v], f->Upper[ch][v]);
    return true;
}

// The gamut check's grid when it is the one its creation makes: a lone 16-bit CLUT stage of three
// or four inputs and one output with the built-in tetrahedral or four-input routine. Its pipeline
// passes words through single precision and back, which gives every word back unchanged, so the
// grid alone decides.
const krmInterpParams* GamutGridOf(const krmPipeline* g)
{
    if (!g || (g->InputChannels != 3 && g->InputChannels != 4) || g->OutputChannels != 1) return nullptr;
    const krmStage* s = g->Elements;
    if (!s || s->Next || s->Type != krmSigCLutElemType) return nullptr;
    const krmStageCLutData* d = static_cast<const krmStageCLutData*>(s->Data);
    if (d->HasFloatValues) return nullptr;
    const krmInterpParams* p = d->Params;
    if (!p || p->nInputs != g->InputChannels || p->nOutputs != 1) return nullptr;
    if (!(p->nInputs == 3 ? _krmIsTetrahedral16(p) : _krmIsEval4Inputs16(p))) return nullptr;
    for (krmUInt32Number ch = 0; ch < p->nInputs; ch++)
        if (p->Domain[ch] >= 256) return nullptr;
    return p;
}

bool BuildGamut(_krmFastWorker* f, const krmInterpParams* p, krmContext ctx)
{
    _krmGamutGrid* g = static_cast<_krmGamutGrid*>(krmMallocZero(ctx, sizeof(_krmGamutGrid)));
    if (!g) return false;
    f->Gamut = g;
    const krmUInt32Number n = g->nInputs = p->nInputs;
    krmUInt32Number nodes = 1;
    for (krmUInt32Number ch = 0; ch < n; ch++) nodes *= p->nSamples[ch];
    g->Table = static_cast<krmUInt16Number*>(krmMallocZero(ctx, (nodes + 8) * sizeof(krmUInt16Number)));
    g->CellState = static_cast<krmUInt8Number*>(krmMallocZero(ctx, nodes + 4));  // gathers read four bytes
    if (!g->Table || !g->CellState) return false;
    std::memcpy(g->Table, p->Table, nodes * sizeof(krmUInt16Number));
    for (krmUInt32Number ch = 0; ch < n; ch++) {
        g->Domain[ch] = p->Domain[ch];
        g->Stride[ch] = p->opta[n - 1 - ch];
        for (krmUInt32Number v = 0; v < 256; v++) {
            const krmUInt32Number a = v * 257u * g->Domain[ch];
            const krmUInt32Number fk = a + (a + 0x7FFFu) / 0xFFFFu;
            g->Base[ch][v] = (fk >> 16) * g->Stride[ch];
            const krmUInt32Number upper = (v == 255 || g->Domain[ch] == 0) ? 0 : g->Stride[ch];
            g->Key[ch][v] = SortKey(fk & 0xFFFF, upper);
        }
    }
    // A cell's corners: its node and the upper neighbours that exist (none past the last node).
    // The three inputs that pick the tetrahedron first, slice by slice of a fourth input.
    const krmUInt32Number d = n - 3, slices = n == 4 ? g->Domain[0] + 1 : 1;
    for (krmUInt32Number h = 0; h < slices; h++)
        for (krmUInt32Number i = 0; i <= g->Domain[d]; i++)
            for (krmUInt32Number j = 0; j <= g->Domain[d + 1]; j++)
                for (krmUInt32Number k = 0; k <= g->Domain[d + 2]; k++) {
                    const krmUInt32Number node =
                        (n == 4 ? h * g->Stride[0] : 0) + i * g->Stride[d] + j * g->Stride[d + 1] + k * g->Stride[d + 2];
                    const krmUInt32Number ui = i < g->Domain[d] ? g->Stride[d] : 0;
                    const krmUInt32Number uj = j < g->Domain[d + 1] ? g->Stride[d + 1] : 0;
                    const krmUInt32Number uk = k < g->Domain[d + 2] ? g->Stride[d + 2] : 0;
                    bool zero = true, positive = true;
                    for (int c = 0; c < 8; c++) {
                        const krmUInt16Number v =
                            g->Table[node + ((c & 1) ? ui : 0) + ((c & 2) ? uj : 0) + ((c & 4) ? uk : 0)];
                        zero = zero && v == 0;
                        positive = positive && v > 0;
                    }
                    g->CellState[node] = zero ? kAllIn : (positive ? kAllOut : kMixed);
                }
    // With four inputs a cell spans its slice and the next (none past the last): both must agree.
    // Upwards, so that the next slice still holds its own states when it is read.
    if (n == 4)
        for (krmUInt32Number h = 0; h < g->Domain[0]; h++)
            for (krmUInt32Number node = h * g->Stride[0]; node < (h + 1) * g->Stride[0]; node++) {
                const krmUInt8Number a = g->CellState[node], b = g->CellState[node + g->Stride[0]];
                g->CellState[node] = a == b ? a : krmUInt8Number(kMixed);
            }
    return true;
}

}  // namespace

_krmTransform2Fn _krmChooseFastWorker(_krmTransform_struct* p, krmUInt32Number InputFormat,
                                      krmUInt32Number OutputFormat, krmUInt32Number dwFlags)
{
    if (!p->Lut || (dwFlags & krmFlagNullTransform)) return nullptr;
    const krmInterpParams* gamut = nullptr;
    if (dwFlags & krmFlagGamutCheck) {
        gamut = GamutGridOf(p->GamutCheck);
        if (!gamut) return nullptr;
    }
    const int level = RequestedLevel();
    if (level == kGeneric) return nullptr;

    // Only the plain integer formatters are mirrored here: Lab version 2 words, for one, are not.
    if (!_krmIsPlainIntegerFormatter(p->FromInput, krmFormatterInput) ||
        !_krmIsPlainIntegerFormatter(p->ToOutput, krmFormatterOutput))
        return nullptr;
    Layout in, out;
    if (!DescribeChunky(InputFormat, &in) || !DescribeChunky(OutputFormat, &out)) return nullptr;
    if (gamut && gamut->nInputs != in.nChan) return nullptr;

    const _krmMatShaper8Data* ms = _krmOptimizedMatShaper(p->Lut);
    const _krmPrelin8Data* prelin = _krmOptimizedPrelin8(p->Lut);
    const krmInterpParams* clut = _krmOptimizedPlainCLUT(p->Lut);
    auto gridFits = [&in](const krmInterpParams* c) {
        for (krmUInt32Number i = 0; i < in.nChan; i++)
            if (c->Domain[i] >= 256) return false;
        return in.nChan == 3 ? bool(_krmIsTetrahedral16(c)) : bool(_krmIsEval4Inputs16(c));
    };
    FastKind kind;
    if (ms && in.nChan == 3 && in.bytes == 1 && out.bytes == 1 && out.nChan == 3 && !gamut)
        kind = kMatShaper;
    else if (prelin && in.nChan == 3 && in.bytes == 1 && (prelin->nOutputs == out.nChan))
        kind = kCLUT;
    else if (clut && clut->nInputs == in.nChan && clut->nOutputs == out.nChan && gridFits(clut))
        kind = kCLUT;
    else
        return nullptr;

    _krmFastWorker* f = static_cast<_krmFastWorker*>(krmMallocZero(p->ContextID, sizeof(_krmFastWorker)));
    if (!f) return nullptr;
    f->kind = kind;
    f->level = level;
    f->generic = p->xform;
    f->in = in;
    f->out = out;
    f->fuseAlpha = (dwFlags & krmFlagCopyAlpha) && in.alpha >= 0 && out.alpha >= 0;
    p->Fast = f;

    const bool ok = kind == kMatShaper ? BuildMatShaper(f, ms)
                                       : BuildCLUT(f, clut, prelin, p->ContextID) &&
                                             (!gamut || BuildGamut(f, gamut, p->ContextID));
    if (!ok) {
        _krmFreeFastWorker(p);
        return nullptr;
    }

    auto use = [f](const char* name, _krmTransform2Fn worker) {
        f->name = name;
        return worker;
    };
    if (kind == kMatShaper) {
#ifdef KRM_X86
        if (level >= kSSE2) {
            if (BGRA8WithAlpha::Matches(f)) return use("matrix-shaper sse2", FastXFORM<MatShaperLineSSE2<BGRA8WithAlpha>>);
            if (RGB8Only::Matches(f)) return use("matrix-shaper sse2", FastXFORM<MatShaperLineSSE2<RGB8Only>>);
            if (RGBA8ToBGRA8::Matches(f))
                return use("matrix-shaper sse2", FastXFORM<MatShaperLineSSE2<RGBA8ToBGRA8>>);
            return use("matrix-shaper sse2", FastXFORM<MatShaperLineSSE2<RuntimeOffsets>>);
        }
#endif
        return use("matrix-shaper portable", FastXFORM<MatShaperLinePortable<RuntimeOffsets>>);
    }
#ifdef KRM_X86
    if (level >= kAVX512) {
        f->clutLine = CLUTLineFor<InterpolateAVX512, kPrepAVX512>(f);
        return use("clut avx512", FastXFORM<CLUTLineOf>);
    }
    if (level >= kAVX2) {
        f->clutLine = CLUTLineFor<InterpolateAVX2, kPrepAVX2>(f);
        return use("clut avx2", FastXFORM<CLUTLineOf>);
    }
#endif
    // SSE2 has no 32-bit multiply-low: the portable code is as fast there.
    f->clutLine = CLUTLineFor<InterpolatePortable>(f);
    return use("clut portable", FastXFORM<CLUTLineOf>);
}

void _krmFreeFastWorker(_krmTransform_struct* p)
{
    if (!p->Fast) return;
    if (_krmGamutGrid* g = p->Fast->Gamut) {
        krmFree(p->ContextID, g->Table);
        krmFree(p->ContextID, g->CellState);
        krmFree(p->ContextID, g);
    }
    krmFree(p->ContextID, p->Fast->Table);
    krmFree(p->ContextID, p->Fast);
    p->Fast = nullptr;
}

const char* _krmFastWorkerName(krmTransform t) { return t && t->Fast ? t->Fast->name : nullptr; }
