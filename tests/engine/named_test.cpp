// Localized text, named colour lists, profile sequences and dictionaries.

#include "krm_internal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string ascii(const krmMLU* mlu, const char* lang, const char* cntry)
{
    krmUInt32Number need = krmMLUGetASCII(mlu, lang, cntry, nullptr, 0);
    if (need == 0)
        return "<none>";
    std::vector<char> buf(need);
    EXPECT_EQ(krmMLUGetASCII(mlu, lang, cntry, buf.data(), need), need);
    return buf.data();
}

std::u16string wide(const krmMLU* mlu, const char* lang, const char* cntry)
{
    krmUInt32Number need = krmMLUGetWide(mlu, lang, cntry, nullptr, 0);
    if (need == 0)
        return u"<none>";
    std::vector<krmWChar> buf(need / 2);
    EXPECT_EQ(krmMLUGetWide(mlu, lang, cntry, buf.data(), need), need);
    return std::u16string(buf.data());
}

struct MLUPtr {
    krmMLU* p;
    explicit MLUPtr(krmMLU* m) : p(m) {}
    ~MLUPtr() { krmMLUFree(p); }
};

}  // namespace

TEST(MLU, LookupFallsBackToLanguageThenFirstEntry)
{
    MLUPtr m(krmMLUAlloc(nullptr, 0));
    ASSERT_NE(m.p, nullptr);
    ASSERT_TRUE(krmMLUSetASCII(m.p, "en", "US", "color"));
    ASSERT_TRUE(krmMLUSetASCII(m.p, "fr", "FR", "couleur"));
    ASSERT_TRUE(krmMLUSetASCII(m.p, "en", "GB", "colour"));  // forces the entry table to grow past 2

    EXPECT_EQ(ascii(m.p, "en", "GB"), "colour");
    EXPECT_EQ(ascii(m.p, "fr", "CA"), "couleur");
    EXPECT_EQ(ascii(m.p, "de", "DE"), "color");
    EXPECT_EQ(ascii(m.p, "en", "AU"), "color");  // first English entry
    EXPECT_EQ(krmMLUTranslationsCount(m.p), 3u);

    char lang[3], cntry[3];
    ASSERT_TRUE(krmMLUTranslationCodes(m.p, 1, lang, cntry));
    EXPECT_STREQ(lang, "fr");
    EXPECT_STREQ(cntry, "FR");
    EXPECT_FALSE(krmMLUTranslationCodes(m.p, 3, lang, cntry));
}

TEST(MLU, ExistingTranslationIsNeverReplaced)
{
    MLUPtr m(krmMLUAlloc(nullptr, 2));
    ASSERT_TRUE(krmMLUSetASCII(m.p, "en", "US", "first"));
    EXPECT_FALSE(krmMLUSetASCII(m.p, "en", "US", "second"));
    EXPECT_EQ(ascii(m.p, "en", "US"), "first");
    EXPECT_EQ(krmMLUTranslationsCount(m.p), 1u);
}

TEST(MLU, AsciiIsSignExtendedAndNonLatin1BecomesQuestionMark)
{
    MLUPtr m(krmMLUAlloc(nullptr, 0));
    ASSERT_TRUE(krmMLUSetASCII(m.p, "", "", "\xE9"));
    krmWChar w[4];
    ASSERT_EQ(krmMLUGetWide(m.p, "", "", w, sizeof w), 4u);
    EXPECT_EQ(w[0], 0xFFE9);
    EXPECT_EQ(ascii(m.p, "", ""), "?");

    const krmWChar text[] = {0x00E9, 0x20AC, 0};
    ASSERT_TRUE(krmMLUSetWide(m.p, "fr", "FR", text));
    char buf[8];
    ASSERT_EQ(krmMLUGetASCII(m.p, "fr", "FR", buf, sizeof buf), 3u);
    EXPECT_EQ(krmUInt8Number(buf[0]), 0xE9);
    EXPECT_EQ(buf[1], '?');
}

TEST(MLU, EmptyTextsStoreOneZeroUnit)
{
    MLUPtr m(krmMLUAlloc(nullptr, 0));
    ASSERT_TRUE(krmMLUSetASCII(m.p, "en", "US", ""));
    const krmWChar none[] = {0};
    ASSERT_TRUE(krmMLUSetWide(m.p, "de", "DE", none));
    EXPECT_EQ(krmMLUGetWide(m.p, "en", "US", nullptr, 0), 4u);
    EXPECT_EQ(krmMLUGetASCII(m.p, "de", "DE", nullptr, 0), 2u);
    EXPECT_FALSE(krmMLUSetASCII(m.p, "it", "IT", nullptr));
    EXPECT_FALSE(krmMLUSetWide(nullptr, "it", "IT", none));
}

TEST(MLU, GettersHonourBufferSizes)
{
    MLUPtr m(krmMLUAlloc(nullptr, 0));
    ASSERT_TRUE(krmMLUSetASCII(m.p, "en", "US", "abcdef"));

    krmWChar w[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(krmMLUGetWide(m.p, "en", "US", nullptr, 0), 14u);
    EXPECT_EQ(krmMLUGetWide(m.p, "en", "US", w, 6), 6u);
    EXPECT_EQ(w[0], u'a');
    EXPECT_EQ(w[1], u'b');
    EXPECT_EQ(w[2], 0);
    EXPECT_EQ(w[3], 9);  // nothing past the buffer
    EXPECT_EQ(krmMLUGetWide(m.p, "en", "US", w, 1), 0u);
    EXPECT_EQ(krmMLUGetWide(m.p, "en", "US", w, 7), 6u);  // odd sizes stop at a whole unit

    char a[4];
    EXPECT_EQ(krmMLUGetASCII(m.p, "en", "US", nullptr, 0), 7u);
    EXPECT_EQ(krmMLUGetASCII(m.p, "en", "US", a, 0), 0u);
    EXPECT_EQ(krmMLUGetASCII(m.p, "en", "US", a, sizeof a), 4u);
    EXPECT_STREQ(a, "abc");

    EXPECT_EQ(krmMLUGetASCII(nullptr, "en", "US", a, sizeof a), 0u);
    MLUPtr empty(krmMLUAlloc(nullptr, 0));
    EXPECT_EQ(krmMLUGetWide(empty.p, "en", "US", nullptr, 0), 0u);
}

TEST(MLU, Utf8JoinsSurrogatesAndWritesOnlyWholeCharacters)
{
    MLUPtr m(krmMLUAlloc(nullptr, 0));
    // "A", e-acute, euro sign, U+1F600 as a surrogate pair: 1 + 2 + 3 + 4 bytes.
    const krmWChar text[] = {0x41, 0x00E9, 0x20AC, 0xD83D, 0xDE00, 0};
    ASSERT_TRUE(krmMLUSetWide(m.p, "en", "US", text));

    EXPECT_EQ(krmMLUGetUTF8(m.p, "en", "US", nullptr, 0), 11u);
    char buf[16];
    ASSERT_EQ(krmMLUGetUTF8(m.p, "en", "US", buf, sizeof buf), 11u);
    EXPECT_STREQ(buf, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");

    // Room for 7 bytes and the terminator: the 4-byte character does not fit.
    std::memset(buf, 'x', sizeof buf);
    ASSERT_EQ(krmMLUGetUTF8(m.p, "en", "US", buf, 8), 7u);
    EXPECT_STREQ(buf, "A\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(krmMLUGetUTF8(m.p, "en", "US", buf, 0), 0u);

    // Conversion stops at a zero unit; a lone surrogate is replaced, not passed through.
    const krmWChar odd[] = {0xD800, 0x42, 0};
    ASSERT_TRUE(krmMLUSetWide(m.p, "de", "DE", odd));
    ASSERT_EQ(krmMLUGetUTF8(m.p, "de", "DE", buf, sizeof buf), 5u);
    EXPECT_STREQ(buf, "\xEF\xBF\xBD" "B");
}

TEST(MLU, DupIsDeepAndCompact)
{
    MLUPtr m(krmMLUAlloc(nullptr, 0));
    std::string longText(1000, 'z');  // forces several pool doublings
    ASSERT_TRUE(krmMLUSetASCII(m.p, "en", "US", longText.c_str()));
    ASSERT_TRUE(krmMLUSetASCII(m.p, "ja", "JP", "x"));

    MLUPtr d(krmMLUDup(m.p));
    ASSERT_NE(d.p, nullptr);
    EXPECT_EQ(d.p->PoolSize, m.p->PoolUsed);
    krmMLUFree(m.p);
    m.p = nullptr;
    EXPECT_EQ(ascii(d.p, "en", "US"), longText);
    EXPECT_EQ(wide(d.p, "ja", "JP"), u"x");
    EXPECT_EQ(krmMLUDup(nullptr), nullptr);
}

TEST(NamedColorList, ColorantLimitAndContents)
{
    EXPECT_EQ(krmAllocNamedColorList(nullptr, 0, 17, "", ""), nullptr);

    krmNamedColorList* v = krmAllocNamedColorList(nullptr, 0, 4, "PRE ", " SUF");
    ASSERT_NE(v, nullptr);
    const krmUInt16Number pcs[3] = {1, 2, 3};
    const krmUInt16Number dev[krmMAXCHANNELS] = {10, 20, 30, 40, 50};
    ASSERT_TRUE(krmAppendNamedColor(v, "Red", pcs, dev));
    ASSERT_TRUE(krmAppendNamedColor(v, nullptr, nullptr, nullptr));
    std::string longName(300, 'n');
    ASSERT_TRUE(krmAppendNamedColor(v, longName.c_str(), pcs, dev));

    char name[krmMAX_NAMED_COLOR_NAME], pre[33], suf[33];
    krmUInt16Number p[3], d[krmMAXCHANNELS] = {};
    ASSERT_TRUE(krmNamedColorInfo(v, 0, name, pre, suf, p, d));
    EXPECT_STREQ(name, "Red");
    EXPECT_STREQ(pre, "PRE ");
    EXPECT_STREQ(suf, " SUF");
    EXPECT_EQ(p[2], 3);
    EXPECT_EQ(d[3], 40);
    EXPECT_EQ(d[4], 0);  // only the four colorants are copied

    ASSERT_TRUE(krmNamedColorInfo(v, 1, name, nullptr, nullptr, p, d));
    EXPECT_STREQ(name, "");
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(d[0], 0);
    ASSERT_TRUE(krmNamedColorInfo(v, 2, name, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::strlen(name), 255u);
    EXPECT_FALSE(krmNamedColorInfo(v, 3, name, nullptr, nullptr, nullptr, nullptr));

    krmNamedColorList* c = krmDupNamedColorList(v);
    krmFreeNamedColorList(v);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(krmNamedColorCount(c), 3u);
    ASSERT_TRUE(krmNamedColorInfo(c, 0, name, pre, nullptr, nullptr, nullptr));
    EXPECT_STREQ(name, "Red");
    EXPECT_STREQ(pre, "PRE ");
    krmFreeNamedColorList(c);
}

TEST(NamedColorList, HoldsAtMost65536ColoursAndKeepsThemOnOverflow)
{
    krmNamedColorList* v = krmAllocNamedColorList(nullptr, 0, 1, "", "");
    ASSERT_NE(v, nullptr);
    for (krmUInt32Number i = 0; i < 65536; i++) {
        krmUInt16Number dev[krmMAXCHANNELS] = {krmUInt16Number(i)};
        ASSERT_TRUE(krmAppendNamedColor(v, "c", nullptr, dev)) << i;
    }
    EXPECT_FALSE(krmAppendNamedColor(v, "one too many", nullptr, nullptr));
    EXPECT_EQ(krmNamedColorCount(v), 65536u);
    krmUInt16Number d[krmMAXCHANNELS];
    ASSERT_TRUE(krmNamedColorInfo(v, 65535, nullptr, nullptr, nullptr, nullptr, d));
    EXPECT_EQ(d[0], 65535);
    krmFreeNamedColorList(v);

    EXPECT_EQ(krmAllocNamedColorList(nullptr, 65537, 0, "", ""), nullptr);
    krmNamedColorList* full = krmAllocNamedColorList(nullptr, 65536, 0, "", "");
    EXPECT_NE(full, nullptr);
    krmFreeNamedColorList(full);
}

TEST(ProfileSequence, SizeLimitsAndDeepCopy)
{
    EXPECT_EQ(krmAllocProfileSequence(nullptr, 0), nullptr);
    EXPECT_EQ(krmAllocProfileSequence(nullptr, 256), nullptr);

    krmSequence* s = krmAllocProfileSequence(nullptr, 255);
    ASSERT_NE(s, nullptr);
    s->seq[254].deviceMfg = krmSig("ACME");
    s->seq[254].attributes = 0x0102030405060708ull;
    s->seq[254].ProfileID[15] = 0xAB;
    s->seq[254].Model = krmMLUAlloc(nullptr, 1);
    krmMLUSetASCII(s->seq[254].Model, "en", "US", "Model X");

    krmSequence* c = krmDupProfileSequence(s);
    krmFreeProfileSequence(s);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->n, 255u);
    EXPECT_EQ(c->seq[254].deviceMfg, krmSig("ACME"));
    EXPECT_EQ(c->seq[254].attributes, 0x0102030405060708ull);
    EXPECT_EQ(c->seq[254].ProfileID[15], 0xAB);
    EXPECT_EQ(c->seq[254].Manufacturer, nullptr);
    EXPECT_EQ(ascii(c->seq[254].Model, "en", "US"), "Model X");
    krmFreeProfileSequence(c);
}

TEST(Dictionary, NewestFirstAndDupReverses)
{
    krmDict* d = krmDictAlloc(nullptr);
    ASSERT_NE(d, nullptr);
    MLUPtr dn(krmMLUAlloc(nullptr, 1));
    krmMLUSetASCII(dn.p, "en", "US", "Shown");
    ASSERT_TRUE(krmDictAddEntry(d, u"first", u"1", nullptr, nullptr));
    ASSERT_TRUE(krmDictAddEntry(d, u"second", nullptr, dn.p, nullptr));
    ASSERT_TRUE(krmDictAddEntry(d, u"third", u"3", nullptr, dn.p));

    std::vector<std::u16string> names;
    for (const krmDICTentry* e = krmDictGetEntryList(d); e != nullptr; e = krmDictNextEntry(e))
        names.push_back(e->Name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"third", u"second", u"first"}));

    const krmDICTentry* second = krmDictNextEntry(krmDictGetEntryList(d));
    EXPECT_EQ(second->Value, nullptr);
    EXPECT_EQ(ascii(second->DisplayName, "en", "US"), "Shown");
    EXPECT_NE(second->DisplayName, dn.p);  // a copy, not the caller's object

    krmDict* c = krmDictDup(d);
    krmDictFree(d);
    ASSERT_NE(c, nullptr);
    names.clear();
    for (const krmDICTentry* e = krmDictGetEntryList(c); e != nullptr; e = krmDictNextEntry(e))
        names.push_back(e->Name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"first", u"second", u"third"}));
    EXPECT_EQ(ascii(krmDictGetEntryList(c)->DisplayName, "", ""), "<none>");
    krmDictFree(c);
}
