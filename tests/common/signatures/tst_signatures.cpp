// Signature dictionaries: lookups, fallbacks, header texts and white point naming.

#include "common/signatures/Signatures.h"

#include <QSet>
#include <QTest>

#include <cmath>

class TestSignatures : public QObject
{
    Q_OBJECT

private slots:
    void dictionarySizes();
    void dictionariesHaveNoExactDuplicatesExceptColorants();
    void unknownSignaturesFallBackToTheirCharacters_data();
    void unknownSignaturesFallBackToTheirCharacters();
    void names_data();
    void names();
    void wildcardPrecedence_data();
    void wildcardPrecedence();
    void tagFlags();
    void registryFlags();
    void enumeratedCodes();
    void profileIdText();
    void deviceAttributesText_data();
    void deviceAttributesText();
    void planckianLocusMatchesPlanckRadiator();
    void whitePointName_data();
    void whitePointName();
    void whitePointNameOfEveryPlanckianRow();
};

void TestSignatures::dictionarySizes()
{
    QCOMPARE(colorSpaceDictionary().size(), 43u);
    QCOMPARE(deviceClassDictionary().size(), 11u);
    QCOMPARE(platformDictionary().size(), 6u);
    QCOMPARE(lutTypeDictionary().size(), 5u);
    QCOMPARE(stageTypeDictionary().size(), 16u);
    QCOMPARE(imageStateDictionary().size(), 5u);
    QCOMPARE(technologyDictionary().size(), 26u);
    QCOMPARE(geometryDictionary().size(), 3u);
    QCOMPARE(illuminantTypeDictionary().size(), 9u);
    QCOMPARE(observerDictionary().size(), 3u);
    QCOMPARE(spotShapeDictionary().size(), 8u);
    QCOMPARE(cmmDictionary().size(), 31u);
    QCOMPARE(tagDictionary().size(), 233u);
    QCOMPARE(namedWhitePoints().size(), 20u);
    QCOMPARE(planckianLocus().size(), 301u);

    int privateTags = 0;
    for (const SignatureEntry& entry : tagDictionary())
        privateTags += entry.isPrivate ? 1 : 0;
    QCOMPARE(privateTags, 159);
    // Public tags come first, so no private row can shadow a public one by order.
    for (size_t i = 0; i < 74; ++i)
        QVERIFY2(!tagDictionary()[i].isPrivate, tagDictionary()[i].name);

    // Registry order is kept: the first and the last registrations, and the engine's own.
    const SignatureDictionary manufacturers = manufacturerDictionary();
    QVERIFY(manufacturers.size() >= 239);
    QCOMPARE(manufacturers.front().signature, krmSig("ACER"));
    QCOMPARE(manufacturers.back().signature, krmSig("argl"));
}

void TestSignatures::dictionariesHaveNoExactDuplicatesExceptColorants()
{
    // A duplicate can never be found by exact match; only the three "Matrix Column" rows and
    // 'dscm' (public first, Apple private second) are duplicated on purpose.
    const QSet<krmUInt32Number> intended = {krmSig("bXYZ"), krmSig("gXYZ"), krmSig("rXYZ"), krmSig("dscm")};
    for (SignatureDictionary dictionary : {colorSpaceDictionary(), deviceClassDictionary(), cmmDictionary(),
                                           manufacturerDictionary(), tagDictionary(), technologyDictionary()}) {
        QSet<krmUInt32Number> seen;
        for (const SignatureEntry& entry : dictionary) {
            QVERIFY2(!seen.contains(entry.signature) || intended.contains(entry.signature), entry.name);
            seen.insert(entry.signature);
        }
    }
}

void TestSignatures::unknownSignaturesFallBackToTheirCharacters_data()
{
    QTest::addColumn<krmUInt32Number>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("four letters") << krmSig("zzzz") << "zzzz";
    QTest::newRow("trailing blanks kept") << krmSig("qr  ") << "qr  ";
    QTest::newRow("stops at zero byte") << krmUInt32Number(0x41424300) << "ABC";
    QTest::newRow("zero in the middle") << krmUInt32Number(0x41004344) << "A";
    QTest::newRow("zero") << krmUInt32Number(0) << "";
}

void TestSignatures::unknownSignaturesFallBackToTheirCharacters()
{
    QFETCH(krmUInt32Number, value);
    QFETCH(QString, text);
    QCOMPARE(signatureText(value), text);
    QCOMPARE(tagName(value), text);
    QCOMPARE(colorSpaceName(value), text);
    QCOMPARE(manufacturerName(value), text);
    QCOMPARE(cmmName(value), text);
}

void TestSignatures::names_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("FCLR") << colorSpaceName(krmSig("FCLR")) << "15 color";
    QTest::newRow("ACLR") << colorSpaceName(krmSig("ACLR")) << "10 color";
    QTest::newRow("1CLR") << colorSpaceName(krmSig("1CLR")) << "1 color";
    QTest::newRow("MCHA") << colorSpaceName(krmSig("MCHA")) << "MCHA";
    QTest::newRow("RGB") << colorSpaceName(krmSig("RGB ")) << "RGB";
    QTest::newRow("CMYK") << colorSpaceName(krmSig("CMYK")) << "CMYK";
    // A2B and D2B tables are proofing tables only in output profiles (ICC.1:2010 Table 25 vs 26).
    QTest::newRow("A2B0 output") << tagNameForClass(krmSig("A2B0"), krmSig("prtr")) << "AToB0 Proof Perceptual";
    QTest::newRow("A2B1 input") << tagNameForClass(krmSig("A2B1"), krmSig("scnr")) << "AToB1 Rel.Col.";
    QTest::newRow("A2B0 link") << tagNameForClass(krmSig("A2B0"), krmSig("link")) << "AToB0 Device Link";
    QTest::newRow("D2B3 display") << tagNameForClass(krmSig("D2B3"), krmSig("mntr")) << "DToB3 Float Abs.Col.";
    QTest::newRow("B2A0 input") << tagNameForClass(krmSig("B2A0"), krmSig("scnr")) << "BToA0 Perceptual";
    QTest::newRow("YCbr") << colorSpaceName(krmSig("YCbr")) << "YCbCr";
    QTest::newRow("nmcl space") << colorSpaceName(krmSig("nmcl")) << "Named";
    QTest::newRow("nmcl class") << deviceClassName(krmSig("nmcl")) << "NamedColor";
    QTest::newRow("mntr") << deviceClassName(krmSig("mntr")) << "Display";
    QTest::newRow("mid") << deviceClassName(krmSig("mid ")) << "MultiplexIdentification";
    QTest::newRow("nix") << platformName(krmSig("*nix")) << "Linux";
    QTest::newRow("matrix shaper") << tagName(0x7FFFFFF0) << "Matrix shaper";
    QTest::newRow("bXYZ first row wins") << tagName(krmSig("bXYZ")) << "Blue Colorant";
    QTest::newRow("rXYZ first row wins") << tagName(krmSig("rXYZ")) << "Red Colorant";
    QTest::newRow("dscm public") << tagName(krmSig("dscm")) << "Profile Description ML";
    QTest::newRow("bfd") << tagName(krmSig("bfd ")) << "Under Color Removal / Black Generation";
    QTest::newRow("MHC2") << tagName(krmSig("MHC2")) << "Microsoft Hardware Calibration";
    QTest::newRow("crvn cmm") << cmmName(krmSig("crvn")) << "Corvane CMM";
    QTest::newRow("zc00 cmm") << cmmName(krmSig("zc00")) << "Zoran CMM";
    QTest::newRow("crvn maker") << manufacturerName(krmSig("crvn")) << "Corvane";
    QTest::newRow("APPL maker") << manufacturerName(krmSig("APPL")) << "Apple Computer, Inc.";
    QTest::newRow("MSFT maker") << manufacturerName(krmSig("MSFT")) << "Microsoft Corporation";
    QTest::newRow("ADBE maker") << manufacturerName(krmSig("ADBE")) << "Adobe Systems Incorporated";
    QTest::newRow("XRIT maker") << manufacturerName(krmSig("XRIT")) << "X-Rite";
    QTest::newRow("SICC maker") << manufacturerName(krmSig("SICC")) << "International Color Consortium";
    QTest::newRow("argl maker") << manufacturerName(krmSig("argl")) << "Argyll CMS";
    QTest::newRow("MITS") << manufacturerName(krmSig("MITS")) << "Mitsubishi Electronics America, Inc.";
    QTest::newRow("Mits case matters") << manufacturerName(krmSig("Mits")) << "MITSUBISHI ELECTRIC CORPORATION";
    QTest::newRow("Lenovo zero byte") << manufacturerName(0x4C4E5600) << "Lenovo";
    QTest::newRow("LNV blank is not Lenovo") << manufacturerName(krmSig("LNV ")) << "LNV ";
    QTest::newRow("tech") << technologyName(krmSig("CRT ")) << "CRT Display";
    QTest::newRow("stage") << stageTypeName(krmSig("2 4 ")) << "Lab V2 to V4";
    QTest::newRow("lut") << lutTypeName(krmSig("mft1")) << "V2 8 bit";
    QTest::newRow("ciis") << imageStateName(krmSig("fpce")) << "FocalPlaneColorimetryEstimates";
}

void TestSignatures::names()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(name, expected);
}

void TestSignatures::wildcardPrecedence_data()
{
    QTest::addColumn<krmUInt32Number>("tag");
    QTest::addColumn<QString>("name");
    QTest::newRow("HP two wildcards") << krmSig("HPab") << "HP private";
    QTest::newRow("SC?? beats S???") << krmSig("SCab") << "CreoScitex private";
    QTest::newRow("exact SCIT") << krmSig("SCIT") << "CreoScitex private";
    QTest::newRow("S??? catches the rest") << krmSig("Sxyz") << "Dainippon Screen private";
    QTest::newRow("SH?? beats S???") << krmSig("SHzz") << "Sharp private";
    QTest::newRow("one wildcard beats two") << krmSig("CPPx") << "Canon private";
    QTest::newRow("Tektronix zero third byte") << krmUInt32Number(0x544B0041) << "Tektronix private";
    QTest::newRow("WTG exact") << krmSig("WTG ") << "Ware To Go private";
    QTest::newRow("WTG wildcard") << krmSig("WTGx") << "Ware To Go private";
    QTest::newRow("K0 two wildcards") << krmSig("K0ab") << "Kodak private";
    QTest::newRow("wildcard needs other bytes equal") << krmSig("HQab") << "HQab";
}

void TestSignatures::wildcardPrecedence()
{
    QFETCH(krmUInt32Number, tag);
    QFETCH(QString, name);
    QCOMPARE(tagName(tag), name);
}

void TestSignatures::tagFlags()
{
    QVERIFY(isPrivateTag(krmSig("HPab")));
    QVERIFY(!isPrivateTag(krmSig("desc")));
    QVERIFY(!isPrivateTag(krmSig("dscm")));  // the public row comes first
    QVERIFY(!isPrivateTag(krmSig("zzzz")));
    QVERIFY(isPrivateTag(krmSig("Sxyz")));
    QVERIFY(isKnownTag(krmSig("desc")));
    QVERIFY(isKnownTag(0x7FFFFFF0));
    QVERIFY(isKnownTag(krmSig("ZCab")));
    QVERIFY(!isKnownTag(krmSig("zzzz")));
    // A private row of the tag table is found only through the tag functions.
    QVERIFY(lookupSignature(tagDictionary(), krmSig("HPxx")) != nullptr);
    QVERIFY(lookupSignature(colorSpaceDictionary(), krmSig("HPxx")) == nullptr);
}

void TestSignatures::registryFlags()
{
    QVERIFY(isRegisteredCmm(krmSig("ADBE")));
    QVERIFY(isRegisteredCmm(krmSig("appl")));
    QVERIFY(!isRegisteredCmm(krmSig("zzzz")));
    QVERIFY(!isRegisteredCmm(0));
    QVERIFY(isRegisteredManufacturer(krmSig("SEIk")));
    QVERIFY(isRegisteredManufacturer(krmSig("SEIK")));
    QVERIFY(!isRegisteredManufacturer(krmSig("SEIX")));
    QVERIFY(!isRegisteredManufacturer(0));
}

void TestSignatures::enumeratedCodes()
{
    QCOMPARE(geometryName(1), QString::fromUtf8("0\u00B0:45\u00B0 or 45\u00B0:0\u00B0 "));
    QCOMPARE(geometryName(2), QString::fromUtf8("0\u00B0:d or d:0\u00B0"));
    QCOMPARE(observerName(2), QString::fromUtf8("CIE 1964 10\u00B0 observer"));
    QCOMPARE(signatureText(krmSig("XYZ ")), QStringLiteral("XYZ "));
    QCOMPARE(illuminantTypeName(0), QStringLiteral("unknown"));
    QCOMPARE(illuminantTypeName(8), QStringLiteral("F8"));
    QCOMPARE(spotShapeName(7), QStringLiteral("cross"));
    // A code past the table falls back to the raw bytes; 9 is a control character.
    QCOMPARE(illuminantTypeName(9), signatureText(9));
    QCOMPARE(spotShapeName(0x41424344), QStringLiteral("ABCD"));
}

void TestSignatures::profileIdText()
{
    krmUInt8Number id[16] = {};
    QCOMPARE(::profileIdText(id), QStringLiteral("Not computed"));
    for (int i = 0; i < 16; ++i)
        id[i] = krmUInt8Number(i);
    QCOMPARE(::profileIdText(id), QStringLiteral("00010203-04050607-08090A0B-0C0D0E0F"));
    const krmUInt8Number mixed[16] = {0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xab};
    QCOMPARE(::profileIdText(mixed), QStringLiteral("DEADBEEF-00000000-00000000-000000AB"));
}

void TestSignatures::deviceAttributesText_data()
{
    QTest::addColumn<krmUInt64Number>("attributes");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << krmUInt64Number(0) << "Reflective, Glossy, Positive, Color";
    QTest::newRow("15") << krmUInt64Number(15) << "Transparency, Matte, Negative, Black & white";
    QTest::newRow("5") << krmUInt64Number(5) << "Transparency, Glossy, Negative, Color";
    QTest::newRow("high bits ignored") << krmUInt64Number(0xFFFFFFFFFFFFFFF0ull)
                                       << "Reflective, Glossy, Positive, Color";
}

void TestSignatures::deviceAttributesText()
{
    QFETCH(krmUInt64Number, attributes);
    QFETCH(QString, text);
    QCOMPARE(::deviceAttributesText(attributes), text);
}

// The table must agree with Planck's law through the CIE 1931 observer; the two rows below are
// the reference values, and neighbouring rows must move smoothly along the locus.
void TestSignatures::planckianLocusMatchesPlanckRadiator()
{
    const auto locus = planckianLocus();
    QCOMPARE(locus.front().kelvin, 1000);
    QCOMPARE(locus.back().kelvin, 4000);
    QVERIFY(std::abs(locus.front().x - 0.652750056) < 2e-6);
    QVERIFY(std::abs(locus.front().y - 0.344462227) < 2e-6);
    QVERIFY(std::abs(locus.back().x - 0.380438429) < 2e-6);
    QVERIFY(std::abs(locus.back().y - 0.37674607) < 2e-6);

    for (size_t i = 1; i < locus.size(); ++i) {
        QCOMPARE(locus[i].kelvin, locus[i - 1].kelvin + 10);
        QVERIFY(locus[i].x < locus[i - 1].x);  // x falls monotonically as the radiator heats up
        QVERIFY(std::abs(locus[i].x - locus[i - 1].x) < 0.0015);
        QVERIFY(std::abs(locus[i].y - locus[i - 1].y) < 0.0015);
    }
}

void TestSignatures::whitePointName_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("tolerance");
    QTest::addColumn<QString>("name");

    const PlanckianPoint k2500 = planckianLocus()[150];
    QTest::newRow("D50") << 0.3457 << 0.3585 << 0.003 << "D50";
    QTest::newRow("D65") << 0.3127 << 0.3290 << 0.003 << "D65";
    QTest::newRow("E") << 1.0 / 3 << 1.0 / 3 << 0.003 << "E";
    QTest::newRow("2500 K radiator") << k2500.x << k2500.y << 0.003 << "Temp: 2500K";
    // F8 and D50 lie 0.00035 apart: the nearest wins, and a tight tolerance still finds it.
    QTest::newRow("F8 beats D50") << 0.34588 << 0.35875 << 0.003 << "F8";
    QTest::newRow("beyond the temperature range") << 0.7 << 0.29 << 0.003 << "xy: (0.7,0.29)";
}

void TestSignatures::whitePointName()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, tolerance);
    QFETCH(QString, name);
    QCOMPARE(::whitePointName(x, y, tolerance), name);
}

void TestSignatures::whitePointNameOfEveryPlanckianRow()
{
    // With no tolerance for named whites every tabulated radiator names itself.
    int named = 0;
    for (const PlanckianPoint& point : planckianLocus()) {
        const QString text = ::whitePointName(point.x, point.y, 0.0);
        QCOMPARE(text, QStringLiteral("Temp: %1K").arg(point.kelvin));
        ++named;
    }
    QCOMPARE(named, 301);

    // The named-white tolerance is strict: a distance of zero is not below a tolerance of zero,
    // so D50 itself falls through to its correlated colour temperature.
    const QString d50 = ::whitePointName(0.34567, 0.3585, 0.0);
    QVERIFY2(d50.startsWith(QLatin1String("Temp: ")), qPrintable(d50));
    const int kelvin = d50.mid(6, d50.size() - 7).toInt();
    QVERIFY2(kelvin > 4950 && kelvin < 5050, qPrintable(d50));
}

QTEST_APPLESS_MAIN(TestSignatures)
#include "tst_signatures.moc"
