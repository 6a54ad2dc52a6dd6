// CGATS.17 reader: recognition, tables, properties, data, labels, includes and syntax errors.

#include "krm_internal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Message {
    krmUInt32Number code;
    std::string text;
};
std::vector<Message> g_messages;

void capture(krmContext, krmUInt32Number code, const char* text)
{
    g_messages.push_back({code, text});
}

// A context of the test's own whose messages are collected.
class CGATS : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_messages.clear();
        ctx = krmCreateContext(nullptr, nullptr);
        ASSERT_NE(ctx, nullptr);
        krmSetLogErrorHandlerInContext(ctx, capture);
    }
    void TearDown() override { krmDeleteContext(ctx); }

    krmIT8* load(const std::string& text) { return krmIT8LoadFromMem(ctx, text.data(), krmUInt32Number(text.size())); }

    // Loading must fail with exactly one syntax message.
    void expectSyntaxError(const std::string& text, const std::string& expected)
    {
        g_messages.clear();
        krmIT8* it8 = load(text);
        EXPECT_EQ(it8, nullptr) << text;
        krmIT8Free(it8);
        ASSERT_EQ(g_messages.size(), 1u) << text;
        EXPECT_EQ(g_messages[0].code, krmUInt32Number(krmErrCorruptionDetected));
        EXPECT_EQ(g_messages[0].text, expected);
    }

    krmContext ctx = nullptr;
};

// A measurement file in the shape instruments write: a one-word first line, several tables,
// quoted and numeric properties, a pair-list property and a LABEL field.
const char* kMeasurement =
    "IT8.7/2\n"
    "ORIGINATOR\t\"Corvane Lab\"\n"
    "DESCRIPTOR \"Test chart, three patches\"   # a comment after the value\n"
    "CREATED \"December 9, 2026\"\n"
    "KEYWORD \"PAPER\"\n"
    "PAPER \"Gloss 250\"\n"
    "WEIGHTING_FUNCTION \"ILLUMINANT, D50; OBSERVER, 2 degree\"\n"
    "SERIAL 1234\n"
    "CHISQ_DOF 2.5\n"
    "NUMBER_OF_FIELDS 5\n"
    "BEGIN_DATA_FORMAT\n"
    "SAMPLE_ID XYZ_X XYZ_Y XYZ_Z LABEL\n"
    "END_DATA_FORMAT\n"
    "NUMBER_OF_SETS 3\n"
    "BEGIN_DATA\n"
    "A1 96.42 100.0 82.49 PAPER\n"
    "A2 41.24 21.26 1.93 \"red\"\n"
    "A3 0x10 -1e-2 3 none\r\n"
    "END_DATA\n"
    "CGATS.5\n"
    "NUMBER_OF_FIELDS 2\n"
    "NUMBER_OF_SETS 2\n"
    "BEGIN_DATA_FORMAT\n"
    "SAMPLE_ID RGB_R\n"
    "END_DATA_FORMAT\n"
    "BEGIN_DATA\n"
    "1 255\n"
    "2 0\n"
    "END_DATA\n"
    "\"Quoted sheet\"\n"
    "TABLE_NAME spectra\n";

}  // namespace

TEST_F(CGATS, RealisticMeasurementFileWithSeveralTables)
{
    krmIT8* it8 = load(kMeasurement);
    ASSERT_NE(it8, nullptr) << (g_messages.empty() ? "" : g_messages[0].text);
    EXPECT_TRUE(g_messages.empty());

    ASSERT_EQ(krmIT8TableCount(it8), 3u);
    EXPECT_STREQ(krmIT8GetSheetType(it8), "IT8.7/2");
    EXPECT_STREQ(krmIT8GetProperty(it8, "originator"), "Corvane Lab");
    EXPECT_STREQ(krmIT8GetProperty(it8, "DESCRIPTOR"), "Test chart, three patches");
    EXPECT_STREQ(krmIT8GetProperty(it8, "PAPER"), "Gloss 250");
    EXPECT_STREQ(krmIT8GetProperty(it8, "SERIAL"), "1234");
    EXPECT_DOUBLE_EQ(krmIT8GetPropertyDbl(it8, "CHISQ_DOF"), 2.5);
    EXPECT_EQ(krmIT8GetProperty(it8, "TABLE_NAME"), nullptr);

    EXPECT_STREQ(krmIT8GetPropertyMulti(it8, "WEIGHTING_FUNCTION", "ILLUMINANT"), "D50");
    EXPECT_STREQ(krmIT8GetPropertyMulti(it8, "WEIGHTING_FUNCTION", "observer"), "2 degree");
    const char** subs = nullptr;
    ASSERT_EQ(krmIT8EnumPropertyMulti(it8, "WEIGHTING_FUNCTION", &subs), 2u);
    EXPECT_STREQ(subs[0], "ILLUMINANT");
    EXPECT_STREQ(subs[1], "OBSERVER");

    const char** props = nullptr;
    krmUInt32Number n = krmIT8EnumProperties(it8, &props);
    ASSERT_EQ(n, 9u);  // KEYWORD only allows a name
    EXPECT_STREQ(props[0], "ORIGINATOR");
    EXPECT_STREQ(props[8], "NUMBER_OF_SETS");

    const char** fields = nullptr;
    ASSERT_EQ(krmIT8EnumDataFormat(it8, &fields), 5);
    EXPECT_STREQ(fields[4], "LABEL");
    EXPECT_EQ(krmIT8FindDataFormat(it8, "xyz_y"), 2);
    EXPECT_EQ(krmIT8FindDataFormat(it8, "LAB_L"), -1);

    EXPECT_STREQ(krmIT8GetData(it8, "A1", "XYZ_X"), "96.42");
    EXPECT_STREQ(krmIT8GetData(it8, "A1", "XYZ_Y"), "100");  // the integer as printed
    EXPECT_DOUBLE_EQ(krmIT8GetDataDbl(it8, "A2", "XYZ_Z"), 1.93);
    EXPECT_STREQ(krmIT8GetDataRowCol(it8, 2, 1), "16");  // 0x10
    EXPECT_STREQ(krmIT8GetDataRowCol(it8, 2, 2), "-0.01");
    EXPECT_EQ(krmIT8GetPatchByName(it8, "a3"), 2);
    EXPECT_STREQ(krmIT8GetPatchName(it8, 1), "A2");
    EXPECT_EQ(krmIT8GetDataRowCol(it8, 3, 0), nullptr);

    // LABEL values naming a property get the table index and its value.
    EXPECT_STREQ(krmIT8GetData(it8, "A1", "LABEL"), "PAPER 0 Gloss 250");
    EXPECT_STREQ(krmIT8GetData(it8, "A2", "LABEL"), "red");
    EXPECT_STREQ(krmIT8GetData(it8, "A3", "LABEL"), "none");

    ASSERT_EQ(krmIT8SetTable(it8, 1), 1);
    EXPECT_STREQ(krmIT8GetSheetType(it8), "CGATS.5");
    EXPECT_STREQ(krmIT8GetData(it8, "1", "RGB_R"), "255");
    EXPECT_DOUBLE_EQ(krmIT8GetDataDbl(it8, "2", "RGB_R"), 0.0);
    EXPECT_EQ(krmIT8GetProperty(it8, "ORIGINATOR"), nullptr);  // properties belong to their table

    ASSERT_EQ(krmIT8SetTable(it8, 2), 2);
    EXPECT_STREQ(krmIT8GetSheetType(it8), "Quoted sheet");
    EXPECT_STREQ(krmIT8GetProperty(it8, "TABLE_NAME"), "spectra");
    EXPECT_EQ(krmIT8SetTable(it8, 3), -1);
    krmIT8Free(it8);
}

TEST_F(CGATS, RecognitionOfTheFirstLine)
{
    // One word: it is the sheet type.
    krmIT8* it8 = load("ECI2002R\nORIGINATOR \"x\"\n");
    ASSERT_NE(it8, nullptr);
    EXPECT_STREQ(krmIT8GetSheetType(it8), "ECI2002R");
    krmIT8Free(it8);

    // Two words: the default sheet type stays and the line is a property.
    it8 = load("ORIGINATOR \"two words\"\n");
    ASSERT_NE(it8, nullptr);
    EXPECT_STREQ(krmIT8GetSheetType(it8), "CGATS.17");
    EXPECT_STREQ(krmIT8GetProperty(it8, "ORIGINATOR"), "two words");
    krmIT8Free(it8);

    g_messages.clear();
    EXPECT_EQ(load("CGATS.17\n"), nullptr);  // nine bytes
    EXPECT_EQ(load("ONE TWO THREE\n"), nullptr);
    EXPECT_EQ(load(std::string(140, 'A') + "\n"), nullptr);  // first line past 131 characters
    EXPECT_EQ(load("ORIGINATOR \"unterminated\n"), nullptr);
    EXPECT_EQ(load("CGATS.17 no line end at all"), nullptr);
    EXPECT_EQ(load("C\xC3\xA9GATS17\nX 1\n"), nullptr);  // bytes above 127
    EXPECT_EQ(load(std::string("\x7F\x45LF\x02\x01\x01\0\0\0\0", 12)), nullptr);
    EXPECT_TRUE(g_messages.empty());  // not recognised is silent
    krmIT8* longest = load(std::string(130, 'A') + "\n");  // 131 characters with the line end
    EXPECT_NE(longest, nullptr);
    krmIT8Free(longest);
}

TEST_F(CGATS, RepeatedPropertiesAndCountMismatches)
{
    expectSyntaxError("CGATS.17\nORIGINATOR \"a\"\nORIGINATOR \"b\"\n", ": Line 3, duplicate key <ORIGINATOR>");

    krmIT8* it8 = load("CGATS.17\nNUMBER_OF_SETS 5\nNUMBER_OF_SETS 1\nNUMBER_OF_FIELDS 1\n"
                       "BEGIN_DATA_FORMAT\nSAMPLE_ID\nEND_DATA_FORMAT\nBEGIN_DATA\nP1\nEND_DATA\n");
    ASSERT_NE(it8, nullptr);
    EXPECT_STREQ(krmIT8GetProperty(it8, "NUMBER_OF_SETS"), "1");
    krmIT8Free(it8);

    const std::string format = "CGATS.17\nNUMBER_OF_FIELDS 2\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R\nEND_DATA_FORMAT\n";
    expectSyntaxError(format + "NUMBER_OF_SETS 3\nBEGIN_DATA\n1 2\n3 4\nEND_DATA\n",
                      ": Line 10, Count mismatch. NUMBER_OF_SETS was 3, found 2\n");
    expectSyntaxError("CGATS.17\nNUMBER_OF_FIELDS 3\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R\nEND_DATA_FORMAT\n",
                      ": Line 5, Count mismatch. NUMBER_OF_FIELDS was 3, found 2\n");
    expectSyntaxError("CGATS.17\nNUMBER_OF_FIELDS 1\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R\nEND_DATA_FORMAT\n",
                      ": Line 4, Invalid or more than NUMBER_OF_FIELDS fields.");
    expectSyntaxError("CGATS.17\nNUMBER_OF_FIELDS 0\nBEGIN_DATA_FORMAT\nEND_DATA_FORMAT\n",
                      ": Line 4, Wrong NUMBER_OF_FIELDS");
    expectSyntaxError(format + "NUMBER_OF_SETS 1\nBEGIN_DATA\n1 2 3\nEND_DATA\n",
                      ": Line 8, Patch 1 out of range, there are 1 patches");
    expectSyntaxError(format + "NUMBER_OF_SETS 1000\nNUMBER_OF_FIELDS 201\nBEGIN_DATA\n",
                      ": Line 9, AllocateDataSet: too much data");
    // Regression: changing NUMBER_OF_FIELDS after the data format read past the format array.
    expectSyntaxError(format + "NUMBER_OF_FIELDS 4\nNUMBER_OF_SETS 1\nBEGIN_DATA\n",
                      ": Line 9, Count mismatch. NUMBER_OF_FIELDS was 4, found 2\n");
}

TEST_F(CGATS, SyntaxMessagesCarryTheLineNumber)
{
    expectSyntaxError("CGATS.17\nORIGINATOR \"a\"\n\n  ~ok \x01\n", ": Line 4, Unrecognized character: 0x1");
    expectSyntaxError("CGATS.17\nORIGINATOR BEGIN_DATA\n", ": Line 2, Property data expected");
    expectSyntaxError("CGATS.17\n\"just a string\"\n", ": Line 2, expected keyword or identifier");
    expectSyntaxError("CGATS.17\nWEIGHTING_FUNCTION 12\n",
                      ": Line 2, Invalid value '12' for property 'WEIGHTING_FUNCTION'.");
    expectSyntaxError("CGATS.17\nVALUE 0x1FFFFFFFF\n", ": Line 2, Invalid hexadecimal number");
    expectSyntaxError("CGATS.17\nVALUE 0b111111111111111111111111111111111\n", ": Line 2, Invalid binary number");
    expectSyntaxError("CGATS.17\nNUMBER_OF_FIELDS 1\nBEGIN_DATA_FORMAT\n\"quoted\"\nEND_DATA_FORMAT\n",
                      ": Line 4, Sample type expected");
    expectSyntaxError("CGATS.17\nNUMBER_OF_FIELDS 1\nNUMBER_OF_SETS 1\nBEGIN_DATA\nKEYWORD\nEND_DATA\n",
                      ": Line 5, Sample data expected");
    expectSyntaxError("CGATS.17\nNUMBER_OF_FIELDS 1\nNUMBER_OF_SETS 1\nBEGIN_DATA\n7\nEND_DATA\n",
                      ": Line 7, Undefined DATA_FORMAT");
    expectSyntaxError("CGATS.17\n.INCLUDE 12\n", ": Line 2, Filename expected");
    // A memory block has no directory to resolve a relative name against.
    expectSyntaxError("CGATS.17\n$include \"other.txt\"\n", ": Line 2, File path too long");
    expectSyntaxError("CGATS.17\n.INCLUDE \"/nonexistent/cgats.txt\"\n",
                      ": Line 2, File /nonexistent/cgats.txt not found");
}

TEST_F(CGATS, NumbersGluedToWordsBecomeIdentifiers)
{
    krmIT8* it8 = load("CGATS.17\nA 007B\nB 1.50x\nC 2147483648\nD -0x10\nE 1e3\n");
    ASSERT_NE(it8, nullptr) << g_messages[0].text;
    EXPECT_STREQ(krmIT8GetProperty(it8, "A"), "7B");
    EXPECT_STREQ(krmIT8GetProperty(it8, "B"), "1.5x");
    EXPECT_STREQ(krmIT8GetProperty(it8, "C"), "2147483648");  // past int range: a real
    EXPECT_STREQ(krmIT8GetProperty(it8, "D"), "-16");
    EXPECT_STREQ(krmIT8GetProperty(it8, "E"), "1000");
    krmIT8Free(it8);
}

TEST_F(CGATS, IncludedFilesAreReadInPlace)
{
    char dir[] = "/tmp/cgats_testXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string inner = std::string(dir) + "/inner.txt";
    const std::string outer = std::string(dir) + "/outer.txt";
    FILE* f = std::fopen(inner.c_str(), "wb");
    std::fputs("INSTRUMENTATION \"from inner\"\nBAD ~\x02\n", f);
    std::fclose(f);
    f = std::fopen(outer.c_str(), "wb");
    std::fputs("SERIAL \"from outer\"\n.INCLUDE \"inner.txt\"\n", f);  // relative to outer.txt
    std::fclose(f);

    // The inner file's error names the inner file and its own line.
    expectSyntaxError("CGATS.17\n.INCLUDE \"" + outer + "\"\n", inner + ": Line 2, Unrecognized character: 0x2");

    f = std::fopen(inner.c_str(), "wb");
    std::fputs("INSTRUMENTATION \"from inner\"", f);  // no final line end
    std::fclose(f);
    krmIT8* it8 = load("CGATS.17\n.INCLUDE \"" + outer + "\"\nMATERIAL \"after\"\n");
    ASSERT_NE(it8, nullptr) << g_messages[0].text;
    EXPECT_STREQ(krmIT8GetProperty(it8, "SERIAL"), "from outer");
    EXPECT_STREQ(krmIT8GetProperty(it8, "INSTRUMENTATION"), "from inner");
    EXPECT_STREQ(krmIT8GetProperty(it8, "MATERIAL"), "after");
    krmIT8Free(it8);

    // A file that includes itself stops at the nesting limit.
    f = std::fopen(outer.c_str(), "wb");
    std::fputs(".INCLUDE \"outer.txt\"\n", f);
    std::fclose(f);
    g_messages.clear();
    EXPECT_EQ(load("CGATS.17\n.INCLUDE \"" + outer + "\"\n"), nullptr);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_NE(g_messages[0].text.find("Too many recursion levels"), std::string::npos);

    // Devices are refused rather than read forever.
    expectSyntaxError("CGATS.17\n.INCLUDE \"/dev/zero\"\n", ": Line 2, File /dev/zero not found");

    std::remove(inner.c_str());
    std::remove(outer.c_str());
    rmdir(dir);
}

TEST_F(CGATS, At254TablesLoadingStops)
{
    std::string text = "CGATS.17\n";
    std::string table = "NUMBER_OF_SETS 0\nBEGIN_DATA\nEND_DATA\n";
    std::string ok = text;
    for (int i = 0; i < 254; i++)
        ok += table + "X" + std::to_string(i) + " 1\n";
    // The property after the 254th data section would open a 255th table.
    g_messages.clear();
    EXPECT_EQ(load(ok), nullptr);
    EXPECT_TRUE(g_messages.empty());

    std::string fits = text;
    for (int i = 0; i < 253; i++)
        fits += table + "X" + std::to_string(i) + " 1\n";
    krmIT8* it8 = load(fits);
    ASSERT_NE(it8, nullptr) << g_messages[0].text;
    EXPECT_EQ(krmIT8TableCount(it8), 254u);
    krmIT8Free(it8);
}

// Every prefix of the measurement file, and copies with one character changed, load or fail
// cleanly; the sanitizer build turns any read outside the text into a failure here.
TEST_F(CGATS, TruncatedAndAlteredTextsNeverReadOutsideTheirData)
{
    const std::string text = kMeasurement;
    int loaded = 0;
    for (size_t len = 1; len <= text.size(); len++) {
        krmIT8* it8 = krmIT8LoadFromMem(ctx, text.data(), krmUInt32Number(len));
        loaded += it8 != nullptr;
        krmIT8Free(it8);
    }
    for (size_t at = 0; at < text.size(); at++)
        for (char c : {'\0', '"', '\n', '#', '9', '\xFF'}) {
            std::string altered = text;
            altered[at] = c;
            krmIT8Free(load(altered));
        }
    EXPECT_GT(loaded, 0);
}
