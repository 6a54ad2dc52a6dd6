// Pixel formats: the formatters that unpack one pixel into working values and pack it back, the
// ordered tables by which a format word finds them, and the copying of extra (alpha) channels.
#include "krm_internal.h"

#include <cmath>
#include <cstring>
#include <type_traits>

namespace {

// ---------------------------------------------------------------------------------------------
// Small conversions
// ---------------------------------------------------------------------------------------------

constexpr krmFloat64Number kMaxEncodableXYZ = 1.999969482421875;  // 1 + 32767/32768

inline krmUInt16Number From8To16(krmUInt8Number v) { return krmUInt16Number(v * 257u); }
inline krmUInt8Number From16To8(krmUInt32Number w) { return krmUInt8Number((w * 65281u + 8388608u) >> 24); }
inline krmUInt16Number ChangeEndian(krmUInt16Number w) { return krmUInt16Number((w << 8) | (w >> 8)); }

// Fixed-point domain used by premultiplied alpha: a + (a + 32767) / 65535.
inline krmUInt32Number ToFixedDomain(krmUInt32Number a) { return a + (a + 0x7FFFu) / 0xFFFFu; }

inline krmUInt16Number Load16(const krmUInt8Number* p)
{
    krmUInt16Number v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void Store16(krmUInt8Number* p, krmUInt16Number v) { std::memcpy(p, &v, 2); }

template <typename T>
inline T LoadT(const krmUInt8Number* p)
{
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}
template <typename T>
inline void StoreT(krmUInt8Number* p, T v)
{
    std::memcpy(p, &v, sizeof(T));
}

inline krmBool IsInkSpaceCode(krmUInt32Number code)
{
    return code == krmPT_CMY || code == krmPT_CMYK || (code >= krmPT_MCH1 + 4 && code <= krmPT_MCH15);
}

// Lab version 2 words to version 4 and back (ICC.1:2001 legacy 16-bit Lab).
inline krmUInt16Number LabV2ToV4(krmUInt16Number v) { return krmUInt16Number(v | (v >> 8)); }
inline krmUInt16Number LabV4ToV2(krmUInt16Number v) { return krmUInt16Number((krmUInt32Number(v) * 256u + 128u) / 257u); }

void LabToV4Words(krmFloat64Number L, krmFloat64Number a, krmFloat64Number b, krmUInt16Number w[3])
{
    const krmCIELab Lab = {L, a, b};
    krmFloat2LabEncoded(w, &Lab);
}

void LabToV2Words(krmFloat64Number L, krmFloat64Number a, krmFloat64Number b, krmUInt16Number w[3])
{
    const krmCIELab Lab = {L, a, b};
    krmFloat2LabEncodedV2(w, &Lab);
}

void XYZToWords(krmFloat64Number X, krmFloat64Number Y, krmFloat64Number Z, krmUInt16Number w[3])
{
    const krmCIEXYZ XYZ = {X, Y, Z};
    krmFloat2XYZEncoded(w, &XYZ);
}

// Extra channels come first when swap and swapfirst differ.
inline bool ExtraFirst(krmUInt32Number fmt) { return krmT_DOSWAP(fmt) != krmT_SWAPFIRST(fmt); }

// Swapfirst without extra channels: the first working value moves to the end (input).
inline void RotateIn16(krmUInt16Number w[], krmUInt32Number n)
{
    if (n < 2) return;
    krmUInt16Number t = w[0];
    std::memmove(&w[0], &w[1], (n - 1) * sizeof(krmUInt16Number));
    w[n - 1] = t;
}
template <typename T>
inline void RotateOut(T s[], krmUInt32Number n)
{
    if (n < 2) return;
    T t = s[n - 1];
    std::memmove(&s[1], &s[0], (n - 1) * sizeof(T));
    s[0] = t;
}
inline void RotateInFloat(krmFloat32Number w[], krmUInt32Number n)
{
    if (n < 2) return;
    krmFloat32Number t = w[0];
    std::memmove(&w[0], &w[1], (n - 1) * sizeof(krmFloat32Number));
    w[n - 1] = t;
}

// Output mirrors input: input reverses (swap) and then rotates left (swapfirst without extra), so
// output rotates the working values right and then reverses them.
template <typename T>
inline void StorageOrder(T val[], krmUInt32Number n, bool swap, bool rotate, T stored[])
{
    if (rotate) RotateOut(val, n);
    for (krmUInt32Number i = 0; i < n; i++) stored[i] = val[swap ? n - i - 1 : i];
}

// ---------------------------------------------------------------------------------------------
// Integer samples (bytes and words) <-> 16-bit working values
// ---------------------------------------------------------------------------------------------

// The layout of an integer format, read from the word at run time (general rows)...
struct RuntimeLayout {
    krmUInt32Number nChan, bytes, extra;
    bool swap, swapFirst, flavor, endian, premul, planar;
    explicit RuntimeLayout(krmUInt32Number fmt)
        : nChan(krmT_CHANNELS(fmt)), bytes(krmT_BYTES(fmt)), extra(krmT_EXTRA(fmt)), swap(krmT_DOSWAP(fmt)),
          swapFirst(krmT_SWAPFIRST(fmt)), flavor(krmT_FLAVOR(fmt)), endian(krmT_ENDIAN16(fmt)),
          premul(krmT_PREMUL(fmt)), planar(krmT_PLANAR(fmt))
    {
    }
};

// ...or fixed at compile time (fast rows). Both run the same code below, so they agree.
template <unsigned N, unsigned B, unsigned E, bool Swap, bool SwapFirst, bool Flavor, bool Endian>
struct FixedLayout {
    static constexpr krmUInt32Number nChan = N, bytes = B, extra = E;
    static constexpr bool swap = Swap, swapFirst = SwapFirst, flavor = Flavor, endian = Endian, premul = false,
                          planar = false;
    static constexpr krmUInt32Number Word = krmFMT_CHANNELS(N) | krmFMT_BYTES(B) | krmFMT_EXTRA(E) |
                                            krmFMT_DOSWAP(Swap) | krmFMT_SWAPFIRST(SwapFirst) |
                                            krmFMT_FLAVOR(Flavor) | krmFMT_ENDIAN16(Endian);
};

template <class L>
inline krmUInt16Number ReadSample16(const L& l, const krmUInt8Number* p)
{
    if (l.bytes == 1) return From8To16(*p);
    krmUInt16Number v = Load16(p);
    return l.endian ? ChangeEndian(v) : v;
}

template <class L>
inline void WriteSample16(const L& l, krmUInt8Number* p, krmUInt16Number v)
{
    if (l.bytes == 1)
        *p = From16To8(v);
    else
        Store16(p, l.endian ? ChangeEndian(v) : v);
}

template <class L>
inline krmUInt8Number* UnrollInts(const L& l, krmUInt16Number wIn[], krmUInt8Number* accum, krmUInt32Number Stride)
{
    const bool extraFirst = l.swap != l.swapFirst;
    const krmUInt32Number step = l.planar ? Stride : l.bytes;
    krmUInt8Number* const init = accum;

    krmUInt32Number alpha = 0;
    if (l.premul && l.extra > 0)
        alpha = ToFixedDomain(ReadSample16(l, init + (extraFirst ? l.extra - 1 : l.nChan) * step));

    if (extraFirst) accum += l.extra * step;
    for (krmUInt32Number i = 0; i < l.nChan; i++) {
        const krmUInt32Number index = l.swap ? l.nChan - i - 1 : i;
        krmUInt32Number v = ReadSample16(l, accum);
        if (l.flavor) v = 0xFFFF - v;
        if (l.premul && alpha > 0) {
            v = krmUInt32Number((krmUInt64Number(v) << 16) / alpha);
            if (v > 0xFFFF) v = 0xFFFF;
        }
        wIn[index] = krmUInt16Number(v);
        accum += step;
    }
    if (!extraFirst) accum += l.extra * step;
    if (l.extra == 0 && l.swapFirst) RotateIn16(wIn, l.nChan);
    if (l.planar) return init + l.bytes;

    // A grey pixel feeds the first three working values, so that 1-channel data can drive
    // pipelines that look at three.
    if (l.nChan == 1) wIn[1] = wIn[2] = wIn[0];
    return accum;
}

template <class L>
inline krmUInt8Number* PackInts(const L& l, const krmUInt16Number wOut[], krmUInt8Number* output, krmUInt32Number Stride)
{
    const bool extraFirst = l.swap != l.swapFirst;
    const krmUInt32Number step = l.planar ? Stride : l.bytes;
    krmUInt8Number* const init = output;

    // The alpha has been copied into the output pixel before packing.
    krmUInt32Number alpha = 0;
    if (l.premul && l.extra > 0)
        alpha = ToFixedDomain(ReadSample16(l, init + (extraFirst ? l.extra - 1 : l.nChan) * step));

    krmUInt16Number val[krmMAXCHANNELS], stored[krmMAXCHANNELS];
    for (krmUInt32Number c = 0; c < l.nChan; c++) {
        krmUInt32Number v = wOut[c];
        if (l.flavor) v = 0xFFFF - v;
        if (l.premul && l.extra > 0) v = krmUInt32Number((krmUInt64Number(alpha) * v + 0x8000) >> 16);
        val[c] = krmUInt16Number(v);
    }
    StorageOrder(val, l.nChan, l.swap, l.extra == 0 && l.swapFirst, stored);

    if (extraFirst) output += l.extra * step;
    for (krmUInt32Number i = 0; i < l.nChan; i++) {
        WriteSample16(l, output, stored[i]);
        output += step;
    }
    if (!extraFirst) output += l.extra * step;
    return l.planar ? init + l.bytes : output;
}

krmUInt8Number* UnrollAnyInts(_krmTransform_struct* p, krmUInt16Number wIn[], krmUInt8Number* accum,
                              krmUInt32Number Stride)
{
    return UnrollInts(RuntimeLayout(p->InputFormat), wIn, accum, Stride);
}

krmUInt8Number* PackAnyInts(_krmTransform_struct* p, krmUInt16Number wOut[], krmUInt8Number* output,
                            krmUInt32Number Stride)
{
    return PackInts(RuntimeLayout(p->OutputFormat), wOut, output, Stride);
}

template <class L>
krmUInt8Number* UnrollFixed(_krmTransform_struct*, krmUInt16Number wIn[], krmUInt8Number* accum, krmUInt32Number Stride)
{
    return UnrollInts(L(), wIn, accum, Stride);
}

template <class L>
krmUInt8Number* PackFixed(_krmTransform_struct*, krmUInt16Number wOut[], krmUInt8Number* output, krmUInt32Number Stride)
{
    return PackInts(L(), wOut, output, Stride);
}

// ---------------------------------------------------------------------------------------------
// Floating-point samples <-> 16-bit working values
// ---------------------------------------------------------------------------------------------

struct Half {
    krmUInt16Number bits;
};

template <typename T>
inline krmFloat32Number LoadFloating(const krmUInt8Number* p)
{
    if constexpr (std::is_same_v<T, Half>)
        return _krmHalf2Float(Load16(p));
    else
        return krmFloat32Number(LoadT<T>(p));
}

template <typename T>
inline void StoreFloating(krmUInt8Number* p, krmFloat64Number v)
{
    if constexpr (std::is_same_v<T, Half>)
        Store16(p, _krmFloat2Half(krmFloat32Number(v)));
    else
        StoreT<T>(p, T(v));
}

template <typename T>
constexpr krmUInt32Number SampleSize()
{
    return std::is_same_v<T, Half> ? 2 : sizeof(T);
}

template <typename T>
krmUInt8Number* UnrollFloatingTo16(_krmTransform_struct* p, krmUInt16Number wIn[], krmUInt8Number* accum,
                                   krmUInt32Number Stride)
{
    const krmUInt32Number fmt = p->InputFormat;
    const krmUInt32Number nChan = krmT_CHANNELS(fmt), extra = krmT_EXTRA(fmt);
    const bool swap = krmT_DOSWAP(fmt), flavor = krmT_FLAVOR(fmt), planar = krmT_PLANAR(fmt);
    const krmUInt32Number size = SampleSize<T>();
    const krmUInt32Number step = planar ? Stride : size;
    const krmFloat64Number maximum = krmIsInkSpace(fmt) ? 655.35 : 65535.0;

    const krmUInt8Number* s = accum + (ExtraFirst(fmt) ? extra * step : 0);
    for (krmUInt32Number i = 0; i < nChan; i++, s += step) {
        const krmFloat32Number v = LoadFloating<T>(s);
        krmUInt16Number w = krmQuickSaturateWord(v * maximum);
        if (flavor) w = krmUInt16Number(0xFFFF - w);
        wIn[swap ? nChan - i - 1 : i] = w;
    }
    if (extra == 0 && krmT_SWAPFIRST(fmt)) RotateIn16(wIn, nChan);
    return planar ? accum + size : accum + (nChan + extra) * size;
}

template <typename T>
krmUInt8Number* PackFloatingFrom16(_krmTransform_struct* p, krmUInt16Number wOut[], krmUInt8Number* output,
                                   krmUInt32Number Stride)
{
    const krmUInt32Number fmt = p->OutputFormat;
    const krmUInt32Number nChan = krmT_CHANNELS(fmt), extra = krmT_EXTRA(fmt);
    const bool swap = krmT_DOSWAP(fmt), flavor = krmT_FLAVOR(fmt), planar = krmT_PLANAR(fmt);
    const krmUInt32Number size = SampleSize<T>();
    const krmUInt32Number step = planar ? Stride : size;
    const bool ink = krmIsInkSpace(fmt);
    const krmFloat64Number maximum = ink ? 655.35 : 65535.0;
    const krmFloat64Number range = ink ? 100.0 : 1.0;

    krmFloat64Number val[krmMAXCHANNELS], stored[krmMAXCHANNELS];
    for (krmUInt32Number c = 0; c < nChan; c++) {
        const krmFloat64Number v = wOut[c] / maximum;
        val[c] = flavor ? range - v : v;
    }
    StorageOrder(val, nChan, swap, extra == 0 && krmT_SWAPFIRST(fmt), stored);

    krmUInt8Number* s = output + (ExtraFirst(fmt) ? extra * step : 0);
    for (krmUInt32Number i = 0; i < nChan; i++, s += step) StoreFloating<T>(s, stored[i]);
    return planar ? output + size : output + (nChan + extra) * size;
}

// Lab and XYZ doubles or floats: 3 channels, extra channels skipped, chunky or planar.
template <typename T>
inline void LoadTriple(krmUInt32Number fmt, const krmUInt8Number* accum, krmUInt32Number Stride, krmFloat64Number v[3])
{
    const krmUInt32Number step = krmT_PLANAR(fmt) ? Stride : sizeof(T);
    for (int i = 0; i < 3; i++) v[i] = krmFloat64Number(LoadT<T>(accum + i * step));
}
template <typename T>
inline void StoreTriple(krmUInt32Number fmt, krmUInt8Number* output, krmUInt32Number Stride, const krmFloat64Number v[3])
{
    const krmUInt32Number step = krmT_PLANAR(fmt) ? Stride : sizeof(T);
    for (int i = 0; i < 3; i++) StoreT<T>(output + i * step, T(v[i]));
}
template <typename T>
inline krmUInt8Number* NextTriple(krmUInt32Number fmt, krmUInt8Number* p)
{
    return krmT_PLANAR(fmt) ? p + sizeof(T) : p + (3 + krmT_EXTRA(fmt)) * sizeof(T);
}

template <typename T>
krmUInt8Number* UnrollLabTo16(_krmTransform_struct* p, krmUInt16Number wIn[], krmUInt8Number* accum, krmUInt32Number Stride)
{
    krmFloat64Number v[3];
    LoadTriple<T>(p->InputFormat, accum, Stride, v);
    LabToV4Words(v[0], v[1], v[2], wIn);
    return NextTriple<T>(p->InputFormat, accum);
}

template <typename T>
krmUInt8Number* UnrollXYZTo16(_krmTransform_struct* p, krmUInt16Number wIn[], krmUInt8Number* accum, krmUInt32Number Stride)
{
    krmFloat64Number v[3];
    LoadTriple<T>(p->InputFormat, accum, Stride, v);
    XYZToWords(v[0], v[1], v[2], wIn);
    return NextTriple<T>(p->InputFormat, accum);
}

template <typename T>
krmUInt8Number* PackLabFrom16(_krmTransform_struct* p, krmUInt16Number wOut[], krmUInt8Number* output, krmUInt32Number Stride)
{
    const krmFloat64Number v[3] = {wOut[0] / 655.35, wOut[1] / 257.0 - 128.0, wOut[2] / 257.0 - 128.0};
    StoreTriple<T>(p->OutputFormat, output, Stride, v);
    return NextTriple<T>(p->OutputFormat, output);
}

template <typename T>
krmUInt8Number* PackXYZFrom16(_krmTransform_struct* p, krmUInt16Number wOut[], krmUInt8Number* output, krmUInt32Number Stride)
{
    const krmFloat64Number v[3] = {wOut[0] / 32768.0, wOut[1] / 32768.0, wOut[2] / 32768.0};
    StoreTriple<T>(p->OutputFormat, output, Stride, v);
    return NextTriple<T>(p->OutputFormat, output);
}

// Lab version 2 layouts (colour-space code 30).
krmUInt8Number* UnrollLabV2_8To16(_krmTransform_struct*, krmUInt16Number wIn[], krmUInt8Number* accum, krmUInt32Number)
{
    for (int i = 0; i < 3; i++) wIn[i] = From8To16(accum[i]);  // 8-bit Lab is the same in both encodings
    return accum + 3;
}
krmUInt8Number* UnrollALabV2_8To16(_krmTransform_struct*, krmUInt16Number wIn[], krmUInt8Number* accum, krmUInt32Number)
{
    for (int i = 0; i < 3; i++) wIn[i] = From8To16(accum[i + 1]);
    return accum + 4;
}
krmUInt8Number* UnrollLabV2_16To16(_krmTransform_struct*, krmUInt16Number wIn[], krmUInt8Number* accum, krmUInt32Number)
{
    for (int i = 0; i < 3; i++) wIn[i] = LabV2ToV4(Load16(accum + 2 * i));
    return accum + 6;
}
krmUInt8Number* PackLabV2_8From16(_krmTransform_struct*, krmUInt16Number wOut[], krmUInt8Number* output, krmUInt32Number)
{
    for (int i = 0; i < 3; i++) output[i] = From16To8(wOut[i]);
    return output + 3;
}
krmUInt8Number* PackALabV2_8From16(_krmTransform_struct*, krmUInt16Number wOut[], krmUInt8Number* output, krmUInt32Number)
{
    for (int i = 0; i < 3; i++) output[i + 1] = From16To8(wOut[i]);
    return output + 4;
}
krmUInt8Number* PackLabV2_16From16(_krmTransform_struct*, krmUInt16Number wOut[], krmUInt8Number* output, krmUInt32Number)
{
    for (int i = 0; i < 3; i++) Store16(output + 2 * i, LabV4ToV2(wOut[i]));
    return output + 6;
}

// ---------------------------------------------------------------------------------------------
// Float working values (1.0 = full scale)
// ---------------------------------------------------------------------------------------------

// Floats and doubles in: percent for ink spaces, premultiplied alpha allowed.
template <typename T>
krmUInt8Number* UnrollFloatingToFloat(_krmTransform_struct* p, krmFloat32Number wIn[], krmUInt8Number* accum,
                                      krmUInt32Number Stride)
{
    const krmUInt32Number fmt = p->InputFormat;
    const krmUInt32Number nChan = krmT_CHANNELS(fmt), extra = krmT_EXTRA(fmt);
    const bool swap = krmT_DOSWAP(fmt), flavor = krmT_FLAVOR(fmt), planar = krmT_PLANAR(fmt);
    const bool extraFirst = ExtraFirst(fmt);
    const krmUInt32Number size = SampleSize<T>();
    const krmUInt32Number step = planar ? Stride : size;
    const krmFloat64Number maximum = krmIsInkSpace(fmt) ? 100.0 : 1.0;

    krmFloat64Number alpha = 0;
    const bool premul = krmT_PREMUL(fmt) && extra > 0;
    if (premul) alpha = LoadFloating<T>(accum + (extraFirst ? extra - 1 : nChan) * step) / maximum;

    const krmUInt8Number* s = accum + (extraFirst ? extra * step : 0);
    for (krmUInt32Number i = 0; i < nChan; i++, s += step) {
        krmFloat64Number v = LoadFloating<T>(s) / maximum;
        if (flavor) v = 1.0 - v;
        if (premul && alpha > 0) v /= alpha;
        wIn[swap ? nChan - i - 1 : i] = krmFloat32Number(v);
    }
    if (extra == 0 && krmT_SWAPFIRST(fmt)) RotateInFloat(wIn, nChan);
    return planar ? accum + size : accum + (nChan + extra) * size;
}

// Bytes and words in.
krmUInt8Number* UnrollIntsToFloat(_krmTransform_struct* p, krmFloat32Number wIn[], krmUInt8Number* accum,
                                  krmUInt32Number Stride)
{
    const krmUInt32Number fmt = p->InputFormat;
    const krmUInt32Number nChan = krmT_CHANNELS(fmt), extra = krmT_EXTRA(fmt), bytes = krmT_BYTES(fmt);
    const bool swap = krmT_DOSWAP(fmt), flavor = krmT_FLAVOR(fmt), planar = krmT_PLANAR(fmt);
    const bool endian = krmT_ENDIAN16(fmt);
    const krmUInt32Number step = planar ? Stride : bytes;

    const krmUInt8Number* s = accum + (ExtraFirst(fmt) ? extra * step : 0);
    for (krmUInt32Number i = 0; i < nChan; i++, s += step) {
        krmFloat64Number v;
        if (bytes == 1)
            v = *s / 255.0;
        else {
            krmUInt16Number w = Load16(s);
            v = (endian ? ChangeEndian(w) : w) / 65535.0;
        }
        if (flavor) v = 1.0 - v;
        wIn[swap ? nChan - i - 1 : i] = krmFloat32Number(v);
    }
    if (extra == 0 && krmT_SWAPFIRST(fmt)) RotateInFloat(wIn, nChan);
    return planar ? accum + bytes : accum + (nChan + extra) * bytes;
}

template <typename T>
krmUInt8Number* UnrollLabToFloat(_krmTransform_struct* p, krmFloat32Number wIn[], krmUInt8Number* accum,
                                 krmUInt32Number Stride)
{
    krmFloat64Number v[3];
    LoadTriple<T>(p->InputFormat, accum, Stride, v);
    wIn[0] = krmFloat32Number(v[0] / 100.0);
    wIn[1] = krmFloat32Number((v[1] + 128.0) / 255.0);
    wIn[2] = krmFloat32Number((v[2] + 128.0) / 255.0);
    return NextTriple<T>(p->InputFormat, accum);
}

template <typename T>
krmUInt8Number* UnrollXYZToFloat(_krmTransform_struct* p, krmFloat32Number wIn[], krmUInt8Number* accum,
                                 krmUInt32Number Stride)
{
    krmFloat64Number v[3];
    LoadTriple<T>(p->InputFormat, accum, Stride, v);
    for (int i = 0; i < 3; i++) wIn[i] = krmFloat32Number(v[i] / kMaxEncodableXYZ);
    return NextTriple<T>(p->InputFormat, accum);
}

krmUInt8Number* UnrollLabV2_8ToFloat(_krmTransform_struct*, krmFloat32Number wIn[], krmUInt8Number* accum, krmUInt32Number)
{
    wIn[0] = krmFloat32Number(accum[0] * 257.0 / 65535.0);
    wIn[1] = krmFloat32Number(accum[1] / 255.0);
    wIn[2] = krmFloat32Number(accum[2] / 255.0);
    return accum + 3;
}
krmUInt8Number* UnrollALabV2_8ToFloat(_krmTransform_struct* p, krmFloat32Number wIn[], krmUInt8Number* accum,
                                      krmUInt32Number s)
{
    UnrollLabV2_8ToFloat(p, wIn, accum + 1, s);
    return accum + 4;
}
krmUInt8Number* UnrollLabV2_16ToFloat(_krmTransform_struct*, krmFloat32Number wIn[], krmUInt8Number* accum, krmUInt32Number)
{
    for (int i = 0; i < 3; i++) wIn[i] = krmFloat32Number(LabV2ToV4(Load16(accum + 2 * i)) / 65535.0);
    return accum + 6;
}

// Floats and doubles out.
template <typename T>
krmUInt8Number* PackFloatingFromFloat(_krmTransform_struct* p, krmFloat32Number wOut[], krmUInt8Number* output,
                                      krmUInt32Number Stride)
{
    const krmUInt32Number fmt = p->OutputFormat;
    const krmUInt32Number nChan = krmT_CHANNELS(fmt), extra = krmT_EXTRA(fmt);
    const bool swap = krmT_DOSWAP(fmt), flavor = krmT_FLAVOR(fmt), planar = krmT_PLANAR(fmt);
    const krmUInt32Number size = SampleSize<T>();
    const krmUInt32Number step = planar ? Stride : size;
    const krmFloat64Number maximum = krmIsInkSpace(fmt) ? 100.0 : 1.0;

    krmFloat64Number val[krmMAXCHANNELS], stored[krmMAXCHANNELS];
    for (krmUInt32Number c = 0; c < nChan; c++) {
        const krmFloat64Number v = wOut[c] * maximum;
        val[c] = flavor ? maximum - v : v;
    }
    StorageOrder(val, nChan, swap, extra == 0 && krmT_SWAPFIRST(fmt), stored);

    krmUInt8Number* s = output + (ExtraFirst(fmt) ? extra * step : 0);
    for (krmUInt32Number i = 0; i < nChan; i++, s += step) StoreFloating<T>(s, stored[i]);
    return planar ? output + size : output + (nChan + extra) * size;
}

// Bytes and words out.
krmUInt8Number* PackIntsFromFloat(_krmTransform_struct* p, krmFloat32Number wOut[], krmUInt8Number* output,
                                  krmUInt32Number Stride)
{
    const krmUInt32Number fmt = p->OutputFormat;
    const krmUInt32Number nChan = krmT_CHANNELS(fmt), extra = krmT_EXTRA(fmt), bytes = krmT_BYTES(fmt);
    const bool swap = krmT_DOSWAP(fmt), flavor = krmT_FLAVOR(fmt), planar = krmT_PLANAR(fmt);
    const bool endian = krmT_ENDIAN16(fmt);
    const krmUInt32Number step = planar ? Stride : bytes;

    krmUInt16Number val[krmMAXCHANNELS], stored[krmMAXCHANNELS];
    for (krmUInt32Number c = 0; c < nChan; c++) {
        const krmFloat64Number v = wOut[c];
        val[c] = krmQuickSaturateWord(flavor ? 65535.0 - v * 65535.0 : v * 65535.0);
    }
    StorageOrder(val, nChan, swap, extra == 0 && krmT_SWAPFIRST(fmt), stored);

    krmUInt8Number* s = output + (ExtraFirst(fmt) ? extra * step : 0);
    for (krmUInt32Number i = 0; i < nChan; i++, s += step) {
        if (bytes == 1)
            *s = From16To8(stored[i]);
        else
            Store16(s, endian ? ChangeEndian(stored[i]) : stored[i]);
    }
    return planar ? output + bytes : output + (nChan + extra) * bytes;
}

template <typename T>
krmUInt8Number* PackLabFromFloat(_krmTransform_struct* p, krmFloat32Number wOut[], krmUInt8Number* output,
                                 krmUInt32Number Stride)
{
    const krmFloat64Number v[3] = {wOut[0] * 100.0, wOut[1] * 255.0 - 128.0, wOut[2] * 255.0 - 128.0};
    StoreTriple<T>(p->OutputFormat, output, Stride, v);
    return NextTriple<T>(p->OutputFormat, output);
}

template <typename T>
krmUInt8Number* PackXYZFromFloat(_krmTransform_struct* p, krmFloat32Number wOut[], krmUInt8Number* output,
                                 krmUInt32Number Stride)
{
    const krmFloat64Number v[3] = {wOut[0] * kMaxEncodableXYZ, wOut[1] * kMaxEncodableXYZ, wOut[2] * kMaxEncodableXYZ};
    StoreTriple<T>(p->OutputFormat, output, Stride, v);
    return NextTriple<T>(p->OutputFormat, output);
}

// These rows accept extra channels and planes: samples are one sample size (or plane) apart.
template <typename T>
krmUInt8Number* StoreLabV2Samples(krmUInt32Number fmt, const krmUInt16Number w[3], krmUInt8Number* output,
                                  krmUInt32Number Stride)
{
    const krmUInt32Number step = krmT_PLANAR(fmt) ? Stride : sizeof(T);
    for (int i = 0; i < 3; i++) {
        if constexpr (sizeof(T) == 1)
            output[i * step] = krmUInt8Number(w[i] >> 8);
        else
            Store16(output + i * step, w[i]);
    }
    return krmT_PLANAR(fmt) ? output + sizeof(T) : output + (3 + krmT_EXTRA(fmt)) * sizeof(T);
}

krmUInt8Number* PackLabV2_8FromFloat(_krmTransform_struct* p, krmFloat32Number wOut[], krmUInt8Number* output,
                                     krmUInt32Number Stride)
{
    krmUInt16Number w[3];
    LabToV4Words(wOut[0] * 100.0, wOut[1] * 255.0 - 128.0, wOut[2] * 255.0 - 128.0, w);
    return StoreLabV2Samples<krmUInt8Number>(p->OutputFormat, w, output, Stride);
}
krmUInt8Number* PackLabV2_16FromFloat(_krmTransform_struct* p, krmFloat32Number wOut[], krmUInt8Number* output,
                                      krmUInt32Number Stride)
{
    krmUInt16Number w[3];
    LabToV2Words(wOut[0] * 100.0, wOut[1] * 255.0 - 128.0, wOut[2] * 255.0 - 128.0, w);
    return StoreLabV2Samples<krmUInt16Number>(p->OutputFormat, w, output, Stride);
}

// ---------------------------------------------------------------------------------------------
// The ordered tables
// ---------------------------------------------------------------------------------------------

struct Row16 {
    krmUInt32Number Type, Mask;
    krmFormatter16 Frm;
};
struct RowFloat {
    krmUInt32Number Type, Mask;
    krmFormatterFloat Frm;
};

// Fast rows: exact layouts, any colour space.
constexpr krmUInt32Number kAnySpace = 0x1F0000;
#define KRM_FAST_ROW(Fn, N, B, E, SW, SF, FL, EN) \
    {FixedLayout<N, B, E, SW, SF, FL, EN>::Word, kAnySpace, Fn<FixedLayout<N, B, E, SW, SF, FL, EN>>}
#define KRM_FAST_ROWS(Fn)                                                                   \
    KRM_FAST_ROW(Fn, 1, 1, 0, false, false, false, false),      /* grey */                  \
        KRM_FAST_ROW(Fn, 1, 1, 0, false, false, true, false),   /* grey, subtractive */     \
        KRM_FAST_ROW(Fn, 1, 1, 1, false, false, false, false),  /* grey + alpha */          \
        KRM_FAST_ROW(Fn, 1, 1, 2, false, false, false, false),                              \
        KRM_FAST_ROW(Fn, 2, 1, 0, false, false, false, false),                              \
        KRM_FAST_ROW(Fn, 3, 1, 0, false, false, false, false),  /* RGB */                   \
        KRM_FAST_ROW(Fn, 3, 1, 0, true, false, false, false),   /* BGR */                   \
        KRM_FAST_ROW(Fn, 3, 1, 1, false, false, false, false),  /* RGBA */                  \
        KRM_FAST_ROW(Fn, 3, 1, 1, false, true, false, false),   /* ARGB */                  \
        KRM_FAST_ROW(Fn, 3, 1, 1, true, false, false, false),   /* ABGR */                  \
        KRM_FAST_ROW(Fn, 3, 1, 1, true, true, false, false),    /* BGRA */                  \
        KRM_FAST_ROW(Fn, 4, 1, 0, false, false, false, false),  /* CMYK */                  \
        KRM_FAST_ROW(Fn, 4, 1, 0, false, false, true, false),   /* CMYK, subtractive */     \
        KRM_FAST_ROW(Fn, 4, 1, 0, true, false, false, false),   /* KYMC */                  \
        KRM_FAST_ROW(Fn, 4, 1, 0, false, true, false, false),   /* KCMY */                  \
        KRM_FAST_ROW(Fn, 6, 1, 0, false, false, false, false),                              \
        KRM_FAST_ROW(Fn, 1, 2, 0, false, false, false, false),                              \
        KRM_FAST_ROW(Fn, 1, 2, 0, false, false, true, false),                               \
        KRM_FAST_ROW(Fn, 1, 2, 0, false, false, false, true),                               \
        KRM_FAST_ROW(Fn, 1, 2, 3, false, false, false, false),                              \
        KRM_FAST_ROW(Fn, 2, 2, 0, false, false, false, false),                              \
        KRM_FAST_ROW(Fn, 3, 2, 0, false, false, false, false),                              \
        KRM_FAST_ROW(Fn, 3, 2, 0, true, false, false, false),                               \
        KRM_FAST_ROW(Fn, 3, 2, 0, false, false, false, true),                               \
        KRM_FAST_ROW(Fn, 3, 2, 1, false, false, false, false),                              \
        KRM_FAST_ROW(Fn, 3, 2, 1, false, true, false, false),                               \
        KRM_FAST_ROW(Fn, 3, 2, 1, true, true, false, false),                                \
        KRM_FAST_ROW(Fn, 4, 2, 0, false, false, false, false),                              \
        KRM_FAST_ROW(Fn, 4, 2, 0, false, false, true, false),                               \
        KRM_FAST_ROW(Fn, 4, 2, 0, true, false, false, false),                               \
        KRM_FAST_ROW(Fn, 4, 2, 0, false, false, false, true),                               \
        KRM_FAST_ROW(Fn, 6, 2, 0, false, false, false, false)

const Row16 kInput16[] = {
    {0x4A0018, 0x1380, UnrollLabTo16<krmFloat64Number>},
    {0x490018, 0x1380, UnrollXYZTo16<krmFloat64Number>},
    {0x4A001C, 0x1380, UnrollLabTo16<krmFloat32Number>},
    {0x49001C, 0x1380, UnrollXYZTo16<krmFloat32Number>},
    {0x1E0019, 0, UnrollLabV2_8To16},
    {0x1E4099, 0, UnrollALabV2_8To16},
    {0x1E001A, 0, UnrollLabV2_16To16},
    KRM_FAST_ROWS(UnrollFixed),
    {0x400000, 0x1F77F8, UnrollFloatingTo16<krmFloat64Number>},
    {0x400004, 0x1F77F8, UnrollFloatingTo16<krmFloat32Number>},
    {0x400002, 0x1F77F8, UnrollFloatingTo16<Half>},
    {0x1001, 0x9F67F8, UnrollAnyInts},
    {0x1, 0x9F67F8, UnrollAnyInts},
    {0x1002, 0x9F2FF8, UnrollAnyInts},
    {0x2, 0x9F6FF8, UnrollAnyInts},
};

const Row16 kOutput16[] = {
    {0x4A0018, 0x1380, PackLabFrom16<krmFloat64Number>},
    {0x490018, 0x1380, PackXYZFrom16<krmFloat64Number>},
    {0x4A001C, 0x1380, PackLabFrom16<krmFloat32Number>},
    {0x49001C, 0x1380, PackXYZFrom16<krmFloat32Number>},
    {0x400000, 0x1F77F8, PackFloatingFrom16<krmFloat64Number>},
    {0x400004, 0x1F77F8, PackFloatingFrom16<krmFloat32Number>},
    {0x400002, 0x1F77F8, PackFloatingFrom16<Half>},
    {0x1E0019, 0, PackLabV2_8From16},
    {0x1E4099, 0, PackALabV2_8From16},
    {0x1E001A, 0, PackLabV2_16From16},
    KRM_FAST_ROWS(PackFixed),
    {0x1, 0x9F67F8, PackAnyInts},
    {0x1001, 0x9F67F8, PackAnyInts},
    {0x2, 0x9F6FF8, PackAnyInts},
    {0x1002, 0x9F2FF8, PackAnyInts},
};

const RowFloat kInputFloat[] = {
    {0x4A0018, 0x1380, UnrollLabToFloat<krmFloat64Number>},
    {0x4A001C, 0x1380, UnrollLabToFloat<krmFloat32Number>},
    {0x490018, 0x1380, UnrollXYZToFloat<krmFloat64Number>},
    {0x49001C, 0x1380, UnrollXYZToFloat<krmFloat32Number>},
    {0x400004, 0x9F57F8, UnrollFloatingToFloat<krmFloat32Number>},
    {0x400000, 0x9F57F8, UnrollFloatingToFloat<krmFloat64Number>},
    {0x1E0019, 0, UnrollLabV2_8ToFloat},
    {0x1E4099, 0, UnrollALabV2_8ToFloat},
    {0x1E001A, 0, UnrollLabV2_16ToFloat},
    {0x1, 0x1F57F8, UnrollIntsToFloat},
    {0x2, 0x1F57F8, UnrollIntsToFloat},
    {0x400002, 0x1F57F8, UnrollFloatingToFloat<Half>},
};

const RowFloat kOutputFloat[] = {
    {0x4A001C, 0x1380, PackLabFromFloat<krmFloat32Number>},
    {0x49001C, 0x1380, PackXYZFromFloat<krmFloat32Number>},
    {0x4A0018, 0x1380, PackLabFromFloat<krmFloat64Number>},
    {0x490018, 0x1380, PackXYZFromFloat<krmFloat64Number>},
    {0x1E0019, 0x1380, PackLabV2_8FromFloat},
    {0x1E001A, 0x1380, PackLabV2_16FromFloat},
    {0x400004, 0x1F77F8, PackFloatingFromFloat<krmFloat32Number>},
    {0x400000, 0x1F77F8, PackFloatingFromFloat<krmFloat64Number>},
    {0x2, 0x1F77F8, PackIntsFromFloat},
    {0x1, 0x1F77F8, PackIntsFromFloat},
    {0x400002, 0x1F67F8, PackFloatingFromFloat<Half>},
};

// The plain integer rows alone: the whole-line workers reproduce these formatters and no others.
const Row16 kPlainInput16[] = {KRM_FAST_ROWS(UnrollFixed), {0, 0, UnrollAnyInts}};
const Row16 kPlainOutput16[] = {KRM_FAST_ROWS(PackFixed), {0, 0, PackAnyInts}};

template <class Row, size_t N>
auto FindRow(const Row (&table)[N], krmUInt32Number Type) -> decltype(table[0].Frm)
{
    for (const Row& r : table)
        if ((Type & ~r.Mask) == r.Type) return r.Frm;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Extra channels
// ---------------------------------------------------------------------------------------------

enum SampleType { kU8 = 0, kU16, kU16Swapped, kHalf, kFloat, kDouble, kSampleTypes };

int SampleTypeOf(krmUInt32Number fmt)
{
    const krmUInt32Number bytes = krmT_BYTES(fmt);
    const bool isFloat = krmT_FLOAT(fmt);
    switch (bytes) {
    case 0: return kDouble;
    case 1: return isFloat ? -1 : kU8;
    case 2: return isFloat ? kHalf : (krmT_ENDIAN16(fmt) ? kU16Swapped : kU16);
    case 4: return isFloat ? kFloat : -1;
    default: return -1;
    }
}

constexpr krmUInt32Number SampleBytes(int t) { return t == kU8 ? 1 : (t <= kHalf ? 2 : (t == kFloat ? 4 : 8)); }

inline krmUInt8Number SaturateByte(krmFloat64Number d)
{
    d = std::floor(d * 255.0 + 0.5);
    return krmUInt8Number(d <= 0 ? 0 : (d >= 255 ? 255 : d));
}
inline krmUInt16Number SaturateWordFloor(krmFloat64Number d)
{
    d = std::floor(d * 65535.0 + 0.5);
    return krmUInt16Number(d <= 0 ? 0 : (d >= 65535 ? 65535 : d));
}

// One sample of type From at src becomes one of type To at dst.
template <int From, int To>
void CopySample(const krmUInt8Number* src, krmUInt8Number* dst)
{
    if constexpr (From == To) {
        std::memcpy(dst, src, SampleBytes(From));
    } else if constexpr (From == kU16Swapped) {
        krmUInt16Number w = ChangeEndian(Load16(src));
        CopySample<kU16, To>(reinterpret_cast<const krmUInt8Number*>(&w), dst);
    } else if constexpr (To == kU16Swapped) {
        krmUInt16Number w;
        CopySample<From, kU16>(src, reinterpret_cast<krmUInt8Number*>(&w));
        Store16(dst, ChangeEndian(w));
    } else if constexpr (From == kU8 && To == kU16) {
        Store16(dst, From8To16(*src));
    } else if constexpr (From == kU16 && To == kU8) {
        *dst = From16To8(Load16(src));
    } else {
        // Through a real number: integers are divided by their maximum, and multiplied back.
        krmFloat64Number v;
        if constexpr (From == kU8)
            v = *src / 255.0;
        else if constexpr (From == kU16)
            v = Load16(src) / 65535.0;
        else if constexpr (From == kHalf)
            v = _krmHalf2Float(Load16(src));
        else if constexpr (From == kFloat)
            v = LoadT<krmFloat32Number>(src);
        else
            v = LoadT<krmFloat64Number>(src);

        if constexpr (To == kU8)
            *dst = SaturateByte(v);
        else if constexpr (To == kU16)
            Store16(dst, SaturateWordFloor(v));
        else if constexpr (To == kHalf)
            Store16(dst, _krmFloat2Half(krmFloat32Number(v)));
        else if constexpr (To == kFloat)
            StoreT<krmFloat32Number>(dst, krmFloat32Number(v));
        else
            StoreT<krmFloat64Number>(dst, v);
    }
}

typedef void (*CopySampleFn)(const krmUInt8Number* src, krmUInt8Number* dst);

#define KRM_COPY_ROW(F)                                                                                         \
    {                                                                                                           \
        CopySample<F, kU8>, CopySample<F, kU16>, CopySample<F, kU16Swapped>, CopySample<F, kHalf>,              \
            CopySample<F, kFloat>, CopySample<F, kDouble>                                                       \
    }
const CopySampleFn kCopySample[kSampleTypes][kSampleTypes] = {
    KRM_COPY_ROW(kU8), KRM_COPY_ROW(kU16), KRM_COPY_ROW(kU16Swapped),
    KRM_COPY_ROW(kHalf), KRM_COPY_ROW(kFloat), KRM_COPY_ROW(kDouble),
};

// Where each extra channel starts within a pixel, and the distance from one pixel to the next.
bool ComputeExtraLayout(krmUInt32Number fmt, krmUInt32Number planeStride, krmUInt32Number starts[],
                        krmUInt32Number* pixelStep)
{
    const krmUInt32Number nChan = krmT_CHANNELS(fmt), extra = krmT_EXTRA(fmt);
    const krmUInt32Number total = nChan + extra;
    const int type = SampleTypeOf(fmt);
    if (total < 1 || total > 15 || type < 0) return false;
    const krmUInt32Number bytes = SampleBytes(type);

    // pos[c] is the stored slot of channel c (colour channels first, then extras).
    krmUInt32Number pos[16];
    for (krmUInt32Number i = 0; i < total; i++) pos[i] = krmT_DOSWAP(fmt) ? total - 1 - i : i;
    if (krmT_SWAPFIRST(fmt) && total > 1) {
        krmUInt32Number first = pos[0];
        for (krmUInt32Number i = 0; i + 1 < total; i++) pos[i] = pos[i + 1];
        pos[total - 1] = first;
    }

    const bool planar = krmT_PLANAR(fmt);
    for (krmUInt32Number e = 0; e < extra; e++) starts[e] = pos[nChan + e] * (planar ? planeStride : bytes);
    *pixelStep = planar ? bytes : total * bytes;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Public and engine-internal entry points
// ---------------------------------------------------------------------------------------------

krmFloat32Number _krmHalf2Float(krmUInt16Number h)
{
    const krmUInt32Number sign = krmUInt32Number(h & 0x8000u) << 16;
    const krmUInt32Number exp = (h >> 10) & 0x1Fu;
    const krmUInt32Number mant = h & 0x3FFu;
    if (exp == 0) {
        // Zero and subnormals: mant * 2^-24.
        krmFloat32Number v = std::ldexp(krmFloat32Number(mant), -24);
        return sign ? -v : v;
    }
    krmUInt32Number bits;
    if (exp == 31)
        bits = sign | 0x7F800000u | (mant << 13);
    else
        bits = sign | ((exp - 15 + 127) << 23) | (mant << 13);
    krmFloat32Number f;
    std::memcpy(&f, &bits, 4);
    return f;
}

krmUInt16Number _krmFloat2Half(krmFloat32Number flt)
{
    krmUInt32Number f;
    std::memcpy(&f, &flt, 4);
    const krmUInt32Number sign = (f >> 16) & 0x8000u;
    const krmUInt32Number exp = (f >> 23) & 0xFFu;
    krmUInt32Number mant = f & 0x7FFFFFu;

    if (exp == 255) return krmUInt16Number(sign | 0x7C00u | (mant ? 0x200u | (mant >> 13) : 0));
    const int e = int(exp) - 127 + 15;
    if (e >= 31) return krmUInt16Number(sign | 0x7C00u);
    if (e <= 0) {
        if (e < -10) return krmUInt16Number(sign);
        mant |= 0x800000u;
        const krmUInt32Number shift = krmUInt32Number(14 - e);
        krmUInt32Number half = mant >> shift;
        const krmUInt32Number rem = mant & ((1u << shift) - 1);
        const krmUInt32Number halfway = 1u << (shift - 1);
        if (rem > halfway || (rem == halfway && (half & 1))) half++;
        return krmUInt16Number(sign | half);
    }
    krmUInt32Number half = (krmUInt32Number(e) << 10) | (mant >> 13);
    const krmUInt32Number rem = mant & 0x1FFFu;
    if (rem > 0x1000u || (rem == 0x1000u && (half & 1))) half++;  // a carry into the exponent is right
    return krmUInt16Number(sign | half);
}

krmUInt32Number krmColorSpaceCode(krmColorSpaceSignature ColorSpace)
{
    switch (ColorSpace) {
    case krmSig("GRAY"): return krmPT_GRAY;
    case krmSig("RGB "): return krmPT_RGB;
    case krmSig("CMY "): return krmPT_CMY;
    case krmSig("CMYK"): return krmPT_CMYK;
    case krmSig("YCbr"): return krmPT_YCbCr;
    case krmSig("Luv "): return krmPT_Luv;
    case krmSig("XYZ "): return krmPT_XYZ;
    case krmSig("Lab "): return krmPT_Lab;
    case krmSig("LuvK"): return krmPT_LuvK;
    case krmSig("HSV "): return krmPT_HSV;
    case krmSig("HLS "): return krmPT_HLS;
    case krmSig("Yxy "): return krmPT_Yxy;
    default: break;
    }
    // nCLR and MCHn: 14 + n, n being a hexadecimal digit 1..F.
    const char c0 = char(ColorSpace >> 24);
    const krmUInt32Number rest = ColorSpace & 0xFFFFFFu;
    const krmUInt32Number mchPrefix = ColorSpace & 0xFFFFFF00u;
    auto digit = [](char c) -> int {
        if (c >= '1' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (rest == (krmSig("xCLR") & 0xFFFFFFu)) {
        int n = digit(c0);
        if (n > 0) return krmUInt32Number(14 + n);
    }
    if (mchPrefix == (krmSig("MCHx") & 0xFFFFFF00u)) {
        int n = digit(char(ColorSpace & 0xFF));
        if (n > 0) return krmUInt32Number(14 + n);
    }
    return 0;
}

krmBool krmIsInkSpace(krmUInt32Number Format) { return IsInkSpaceCode(krmT_COLORSPACE(Format)); }

krmUInt32Number krmFormatterForColorspaceOfProfile(krmProfile hProfile, krmUInt32Number nBytes, krmBool lIsFloat)
{
    const krmColorSpaceSignature space = krmGetProfileColorSpace(hProfile);
    const krmInt32Number nChannels = krmChannelsOfColorSpace(space);
    if (nChannels <= 0) return 0;
    return krmFMT_FLOAT(lIsFloat ? 1 : 0) | krmFMT_COLORSPACE(krmColorSpaceCode(space)) |
           krmFMT_CHANNELS(krmUInt32Number(nChannels)) | krmFMT_BYTES(nBytes);
}

krmFormatter _krmGetFormatter(krmContext ContextID, krmUInt32Number Type, krmFormatterDirection Dir,
                              krmUInt32Number dwFlags)
{
    krmFormatter fr;
    fr.Fmt16 = nullptr;
    if (Dir == krmFormatterOutput) Type &= ~krmFMT_OPTIMIZED(1);

    for (const _krmPluginListEntry* e = _krmGetPluginList(ContextID, krmPluginFormattersSig); e; e = e->Next) {
        const krmPluginFormatters* plugin = reinterpret_cast<const krmPluginFormatters*>(e->Plugin);
        if (!plugin->FormattersFactory) continue;
        krmFormatter f = plugin->FormattersFactory(Type, Dir, dwFlags);
        if (f.Fmt16) return f;
    }

    if (krmT_CHANNELS(Type) == 0) return fr;

    const bool isFloat = (dwFlags & krmPACK_FLAGS_FLOAT) != 0;
    if (Dir == krmFormatterInput) {
        if (isFloat)
            fr.FmtFloat = FindRow(kInputFloat, Type);
        else
            fr.Fmt16 = FindRow(kInput16, Type);
    } else {
        if (isFloat)
            fr.FmtFloat = FindRow(kOutputFloat, Type);
        else
            fr.Fmt16 = FindRow(kOutput16, Type);
    }
    return fr;
}

krmBool _krmIsPlainIntegerFormatter(krmFormatter16 f, krmFormatterDirection Dir)
{
    if (!f) return false;
    if (Dir == krmFormatterInput) {
        for (const Row16& r : kPlainInput16)
            if (r.Frm == f) return true;
    } else {
        for (const Row16& r : kPlainOutput16)
            if (r.Frm == f) return true;
    }
    return false;
}

void _krmHandleExtraChannels(_krmTransform_struct* p, const void* in, void* out, krmUInt32Number PixelsPerLine,
                             krmUInt32Number LineCount, const krmStride* Stride)
{
    if (p->InputFormat == p->OutputFormat && in == out) return;
    const krmUInt32Number nExtra = krmT_EXTRA(p->InputFormat);
    if (nExtra == 0 || nExtra != krmT_EXTRA(p->OutputFormat)) return;

    const int inType = SampleTypeOf(p->InputFormat), outType = SampleTypeOf(p->OutputFormat);
    if (inType < 0 || outType < 0) {
        krmSignalError(p->ContextID, krmErrUnknownExtension, "Unrecognized alpha channel width");
        return;
    }

    krmUInt32Number srcStart[8], dstStart[8], srcStep, dstStep;
    if (!ComputeExtraLayout(p->InputFormat, Stride->BytesPerPlaneIn, srcStart, &srcStep)) return;
    if (!ComputeExtraLayout(p->OutputFormat, Stride->BytesPerPlaneOut, dstStart, &dstStep)) return;

    const CopySampleFn copy = kCopySample[inType][outType];
    const krmUInt8Number* srcLine = static_cast<const krmUInt8Number*>(in);
    krmUInt8Number* dstLine = static_cast<krmUInt8Number*>(out);

    if (nExtra == 1) {
        for (krmUInt32Number l = 0; l < LineCount; l++) {
            const krmUInt8Number* s = srcLine + srcStart[0];
            krmUInt8Number* d = dstLine + dstStart[0];
            for (krmUInt32Number i = 0; i < PixelsPerLine; i++, s += srcStep, d += dstStep) copy(s, d);
            srcLine += Stride->BytesPerLineIn;
            dstLine += Stride->BytesPerLineOut;
        }
        return;
    }

    for (krmUInt32Number l = 0; l < LineCount; l++) {
        const krmUInt8Number* s = srcLine;
        krmUInt8Number* d = dstLine;
        for (krmUInt32Number i = 0; i < PixelsPerLine; i++, s += srcStep, d += dstStep)
            for (krmUInt32Number e = 0; e < nExtra; e++) copy(s + srcStart[e], d + dstStart[e]);
        srcLine += Stride->BytesPerLineIn;
        dstLine += Stride->BytesPerLineOut;
    }
}
