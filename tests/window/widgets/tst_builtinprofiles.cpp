// Named profiles: every built-in against its table row (class, space, version, texts, primaries,
// white, curve), names and paths, and the "*user" store with its file copy.

#include "window/widgets/BuiltinProfiles.h"

#include <krm.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

struct Row {
    const char* name;
    krmProfileClassSignature deviceClass;
    krmColorSpaceSignature space;
    krmUInt32Number version;
    const char* description;
};

const Row kRows[] = {
    {"*srgb", krmSig("mntr"), krmSig("RGB "), 0x04400000u, "sRGB-like color space"},
    {"*argb", krmSig("mntr"), krmSig("RGB "), 0x04400000u, "AdobeRGB1998-like color space"},
    {"*colormatchrgb", krmSig("mntr"), krmSig("RGB "), 0x04400000u, "ColormatchRGB-like color space"},
    {"*applergb", krmSig("mntr"), krmSig("RGB "), 0x04400000u, "AppleRGB-like color space"},
    {"*srgblin", krmSig("mntr"), krmSig("RGB "), 0x04400000u, "Rec709/gamma 1.0, (sRGB-linear) color space"},
    {"*argblin", krmSig("mntr"), krmSig("RGB "), 0x04400000u, "AdobeRGB1998/gamma 1.0 (aRGB-linear) color space"},
    {"*prophoto", krmSig("mntr"), krmSig("RGB "), 0x04300000u, "ProPhotoRGB-like"},
    {"*prophotolin", krmSig("mntr"), krmSig("RGB "), 0x04300000u, "linear ProPhotoRGB-like"},
    {"*bt2020", krmSig("mntr"), krmSig("RGB "), 0x04300000u, "ITU-R Recommendation BT.2020"},
    {"*ecirgb", krmSig("mntr"), krmSig("RGB "), 0x04400000u, "ECI RGB-like color space"},
    {"*oprgb", krmSig("mntr"), krmSig("RGB "), 0x04400000u, "opRGB-IEC 61966-2-5:2007"},
    {"*dcip3", krmSig("mntr"), krmSig("RGB "), 0x04400000u, "DCI P3 SMPTE-EG-0432-1:2010"},
    {"*gray10", krmSig("mntr"), krmSig("GRAY"), 0x04400000u, "Gray color space (gamma 1.0)"},
    {"*gray18", krmSig("mntr"), krmSig("GRAY"), 0x04400000u, "Gray color space (gamma 1.8)"},
    {"*gray22", krmSig("mntr"), krmSig("GRAY"), 0x04400000u, "Gray color space (gamma 2.2)"},
    {"*gray30", krmSig("mntr"), krmSig("GRAY"), 0x04400000u, "Gray color space (gamma 3.0)"},
    {"*lab", krmSig("abst"), krmSig("Lab "), 0x04400000u, "CIE L*a*b* color space"},
};

struct ProfileHolder {
    krmProfile p;
    explicit ProfileHolder(krmProfile profile) : p(profile) {}
    ~ProfileHolder() { if (p) krmCloseProfile(p); }
    ProfileHolder(const ProfileHolder&) = delete;
    ProfileHolder& operator=(const ProfileHolder&) = delete;
};

QString text_of(krmProfile profile, krmTagSignature sig)
{
    const auto* mlu = static_cast<const krmMLU*>(krmReadTag(profile, sig));
    if (!mlu)
        return QStringLiteral("<missing>");
    krmWChar buffer[1024] = {};
    krmMLUGetWide(mlu, "en", "US", buffer, sizeof buffer);
    return QString::fromUtf16(buffer);
}

// Saves and reopens a profile: what another program would read.
QByteArray saved(krmProfile profile)
{
    krmUInt32Number size = 0;
    if (!krmSaveProfileToMem(profile, nullptr, &size) || size == 0)
        return {};
    QByteArray bytes(qsizetype(size), '\0');
    if (!krmSaveProfileToMem(profile, bytes.data(), &size))
        return {};
    return bytes;
}


const krmToneCurve* red_curve(krmProfile profile)
{
    return static_cast<const krmToneCurve*>(krmReadTag(profile, krmSig("rTRC")));
}

// The chromaticity an RGB profile gives to full red, green or blue: the adapted colorant
// tags turned back to the source white with the profile's own adaptation matrix.
void expect_primary(krmProfile profile, krmTagSignature sig, double x, double y, const krmCIExyY& white)
{
    krmCIEXYZ whiteXYZ;
    krmxyY2XYZ(&whiteXYZ, &white);
    krmMAT3 toD50;
    QVERIFY(krmAdaptationMatrix(&toD50, nullptr, &whiteXYZ, krmD50_XYZ()));
    krmMAT3 back;
    QVERIFY(krmMAT3Inverse(&toD50, &back));
    const auto* adapted = static_cast<const krmCIEXYZ*>(krmReadTag(profile, sig));
    QVERIFY(adapted);
    krmVEC3 in, out;
    krmVEC3init(&in, adapted->X, adapted->Y, adapted->Z);
    krmMAT3Eval(&out, &back, &in);
    const krmCIEXYZ source = {out.n[0], out.n[1], out.n[2]};
    krmCIExyY xy;
    krmXYZ2xyY(&xy, &source);
    // s15Fixed16 storage and the adaptation round trip stay well inside 1e-3.
    QVERIFY2(std::fabs(xy.x - x) < 1e-3 && std::fabs(xy.y - y) < 1e-3,
             qPrintable(QStringLiteral("%1: %2, %3 instead of %4, %5")
                            .arg(QString::fromLatin1(QByteArray::fromHex(QByteArray::number(sig, 16)))).arg(xy.x).arg(xy.y).arg(x).arg(y)));
}

}  // namespace

class TestBuiltinProfiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyBuiltinMatchesItsRow();
    void builtinsSurviveSaveAndReopen();
    void namesAreExactAndCaseSensitive();
    void adobeAndOpRgbDifferOnlyInDescription();
    void primariesAndWhitesAreTheTables();
    void bt2020UsesThePowerBranchAboveItsThreshold();
    void proPhotoCurveHasItsOwnThreshold();
    void grayCurvesAreTheirGammas();
    void pathsOpenFilesOnly();
    void descriptionIsWrittenAsEnglishTexts();
    void userStoreKeepsTheLastProfile();
    void userStoreWritesNothingToTheProfileFolder();

private:
    QTemporaryDir data_;
};

void TestBuiltinProfiles::initTestCase()
{
    QVERIFY(data_.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(data_.path()));
    store_user_profile(nullptr);
}

void TestBuiltinProfiles::everyBuiltinMatchesItsRow()
{
    for (const Row& row : kRows) {
        ProfileHolder profile(open_profile_by_name(QString::fromLatin1(row.name)));
        QVERIFY2(profile.p, row.name);
        QCOMPARE(krmGetProfileClass(profile.p), row.deviceClass);
        QCOMPARE(krmGetProfileColorSpace(profile.p), row.space);
        QCOMPARE(krmGetProfileVersionRaw(profile.p), row.version);
        QCOMPARE(text_of(profile.p, krmSig("desc")), QString::fromLatin1(row.description));
        QCOMPARE(text_of(profile.p, krmSig("cprt")), QStringLiteral("Created by Corvane tool. No copyright, use freely."));
        if (row.space == krmSig("RGB ") || row.space == krmSig("GRAY"))
            QVERIFY2(krmIsMatrixShaper(profile.p), row.name);
    }
}

void TestBuiltinProfiles::builtinsSurviveSaveAndReopen()
{
    for (const Row& row : kRows) {
        ProfileHolder made(open_profile_by_name(QString::fromLatin1(row.name)));
        QVERIFY2(made.p, row.name);
        const QByteArray bytes = saved(made.p);
        QVERIFY2(!bytes.isEmpty(), row.name);
        ProfileHolder reopened(krmOpenProfileFromMem(bytes.constData(), krmUInt32Number(bytes.size())));
        QVERIFY2(reopened.p, row.name);
        QCOMPARE(krmGetProfileVersionRaw(reopened.p), row.version);
        QCOMPARE(text_of(reopened.p, krmSig("desc")), QString::fromLatin1(row.description));
    }
}

void TestBuiltinProfiles::namesAreExactAndCaseSensitive()
{
    for (const char* name : {"*SRGB", "*sRGB", "srgb", "*srgb ", " *srgb", "*", "*unknown", "*users"}) {
        ProfileHolder profile(open_profile_by_name(QString::fromLatin1(name)));
        QVERIFY2(!profile.p, name);
    }
    ProfileHolder empty(open_profile_by_name(QString()));
    QVERIFY(!empty.p);
}

void TestBuiltinProfiles::adobeAndOpRgbDifferOnlyInDescription()
{
    ProfileHolder argb(open_profile_by_name(QStringLiteral("*argb")));
    ProfileHolder oprgb(open_profile_by_name(QStringLiteral("*oprgb")));
    ProfileHolder argblin(open_profile_by_name(QStringLiteral("*argblin")));
    QVERIFY(argb.p && oprgb.p && argblin.p);
    for (krmTagSignature sig : {krmSig("rXYZ"), krmSig("gXYZ"), krmSig("bXYZ"), krmSig("wtpt")}) {
        const auto* a = static_cast<const krmCIEXYZ*>(krmReadTag(argb.p, sig));
        const auto* o = static_cast<const krmCIEXYZ*>(krmReadTag(oprgb.p, sig));
        const auto* l = static_cast<const krmCIEXYZ*>(krmReadTag(argblin.p, sig));
        QVERIFY(a && o && l);
        QCOMPARE(a->X, o->X);
        QCOMPARE(a->Y, o->Y);
        QCOMPARE(a->Z, o->Z);
        QCOMPARE(a->X, l->X);
        QCOMPARE(a->Z, l->Z);
    }
    for (float v : {0.05f, 0.25f, 0.5f, 0.9f}) {
        QCOMPARE(krmEvalToneCurveFloat(red_curve(argb.p), v), krmEvalToneCurveFloat(red_curve(oprgb.p), v));
        // The linear twin: identity transfer.
        QVERIFY(std::fabs(krmEvalToneCurveFloat(red_curve(argblin.p), v) - v) < 1e-5f);
        // 563/256, not 2.2.
        QVERIFY(std::fabs(krmEvalToneCurveFloat(red_curve(argb.p), v) - std::pow(v, 2.19921875)) < 1e-5);
    }
    QVERIFY(text_of(argb.p, krmSig("desc")) != text_of(oprgb.p, krmSig("desc")));
}

void TestBuiltinProfiles::primariesAndWhitesAreTheTables()
{
    krmCIExyY d65;
    QVERIFY(krmWhitePointFromTemp(&d65, 6504));
    krmCIExyY prophotoWhite;
    QVERIFY(krmWhitePointFromTemp(&prophotoWhite, 5002.78164116829));
    const krmCIExyY d50 = *krmD50_xyY();

    struct Primaries {
        const char* name;
        double xy[6];
        const krmCIExyY* white;
    };
    const Primaries table[] = {
        {"*argb", {0.64, 0.33, 0.21, 0.71, 0.15, 0.06}, &d65},
        {"*colormatchrgb", {0.63, 0.34, 0.29, 0.61, 0.15, 0.075}, &d50},
        {"*applergb", {0.63, 0.34, 0.28, 0.60, 0.16, 0.07}, &d65},
        {"*srgblin", {0.64, 0.33, 0.30, 0.60, 0.15, 0.06}, &d65},
        {"*prophoto", {0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001}, &prophotoWhite},
        {"*prophotolin", {0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001}, &prophotoWhite},
        {"*bt2020", {0.708, 0.292, 0.170, 0.797, 0.131, 0.046}, &d65},
        {"*ecirgb", {0.67, 0.33, 0.21, 0.71, 0.14, 0.08}, &d50},
        {"*dcip3", {0.68, 0.32, 0.265, 0.69, 0.15, 0.06}, &d65},
    };
    for (const Primaries& row : table) {
        ProfileHolder profile(open_profile_by_name(QString::fromLatin1(row.name)));
        QVERIFY2(profile.p, row.name);
        expect_primary(profile.p, krmSig("rXYZ"), row.xy[0], row.xy[1], *row.white);
        expect_primary(profile.p, krmSig("gXYZ"), row.xy[2], row.xy[3], *row.white);
        expect_primary(profile.p, krmSig("bXYZ"), row.xy[4], row.xy[5], *row.white);

        // The colorants add up to the PCS white: full RGB is the white, whatever the source white.
        const auto* r = static_cast<const krmCIEXYZ*>(krmReadTag(profile.p, krmSig("rXYZ")));
        const auto* g = static_cast<const krmCIEXYZ*>(krmReadTag(profile.p, krmSig("gXYZ")));
        const auto* b = static_cast<const krmCIEXYZ*>(krmReadTag(profile.p, krmSig("bXYZ")));
        QVERIFY(std::fabs(r->X + g->X + b->X - krmD50X) < 2e-3);
        QVERIFY(std::fabs(r->Y + g->Y + b->Y - krmD50Y) < 2e-3);
        QVERIFY(std::fabs(r->Z + g->Z + b->Z - krmD50Z) < 2e-3);
    }
}

void TestBuiltinProfiles::bt2020UsesThePowerBranchAboveItsThreshold()
{
    ProfileHolder profile(open_profile_by_name(QStringLiteral("*bt2020")));
    QVERIFY(profile.p);
    const double g = 2.2222222222222223, a = 0.9099181073703367, b = 0.09008189262966333, c = 0.2222222222222222;
    const double power = std::pow(a * 0.02 + b, g);
    const double linear = c * 0.02;
    QVERIFY(std::fabs(power - linear) > 1e-3);  // the two branches are told apart at 0.02

    // Also after a save and reopen: the threshold is stored with the curve.
    const QByteArray bytes = saved(profile.p);
    ProfileHolder reopened(krmOpenProfileFromMem(bytes.constData(), krmUInt32Number(bytes.size())));
    QVERIFY(reopened.p);
    for (krmProfile p : {profile.p, reopened.p}) {
        const krmToneCurve* curve = red_curve(p);
        QVERIFY(curve);
        QVERIFY(std::fabs(krmEvalToneCurveFloat(curve, 0.02f) - power) < 1e-4);
        // Below 0.018 the linear segment.
        QVERIFY(std::fabs(krmEvalToneCurveFloat(curve, 0.01f) - c * 0.01) < 1e-4);
        QVERIFY(std::fabs(krmEvalToneCurveFloat(curve, 1.0f) - 1.0) < 1e-4);
    }
}

void TestBuiltinProfiles::proPhotoCurveHasItsOwnThreshold()
{
    ProfileHolder profile(open_profile_by_name(QStringLiteral("*prophoto")));
    QVERIFY(profile.p);
    const krmToneCurve* curve = red_curve(profile.p);
    QVERIFY(curve);
    // 0.01 is above 0.001953 (power) but below the standard's 0.03125 (where it would be linear).
    QVERIFY(std::fabs(krmEvalToneCurveFloat(curve, 0.01f) - std::pow(0.01, 1.8)) < 1e-5);
    QVERIFY(std::fabs(krmEvalToneCurveFloat(curve, 0.001f) - 0.0625 * 0.001) < 1e-6);
    QVERIFY(std::fabs(krmEvalToneCurveFloat(curve, 0.5f) - std::pow(0.5, 1.8)) < 1e-5);

    ProfileHolder linear(open_profile_by_name(QStringLiteral("*prophotolin")));
    QVERIFY(linear.p);
    QVERIFY(std::fabs(krmEvalToneCurveFloat(red_curve(linear.p), 0.3f) - 0.3f) < 1e-5f);
}

void TestBuiltinProfiles::grayCurvesAreTheirGammas()
{
    const struct {
        const char* name;
        double gamma;
    } rows[] = {{"*gray10", 1.0}, {"*gray18", 1.8}, {"*gray22", 2.2}, {"*gray30", 3.0}};
    for (const auto& row : rows) {
        ProfileHolder profile(open_profile_by_name(QString::fromLatin1(row.name)));
        QVERIFY(profile.p);
        const auto* curve = static_cast<const krmToneCurve*>(krmReadTag(profile.p, krmSig("kTRC")));
        QVERIFY(curve);
        QVERIFY(std::fabs(krmEvalToneCurveFloat(curve, 0.5f) - std::pow(0.5, row.gamma)) < 1e-5);
        const auto* white = static_cast<const krmCIEXYZ*>(krmReadTag(profile.p, krmSig("wtpt")));
        QVERIFY(white);
        QVERIFY(std::fabs(white->X - krmD50X) < 1e-3 && std::fabs(white->Z - krmD50Z) < 1e-3);
    }
}

void TestBuiltinProfiles::pathsOpenFilesOnly()
{
    const QString corpusFile = QStringLiteral("/usr/share/color/icc/colord/sRGB.icc");
    ProfileHolder file(open_profile_by_name(corpusFile));
    QVERIFY(file.p);
    QCOMPARE(krmGetProfileColorSpace(file.p), krmSig("RGB "));

    // A path with characters outside ASCII.
    QTemporaryDir dir;
    const QString unicode = dir.filePath(QStringLiteral("profil \u00e9t\u00e9 \u65e5\u672c.icc"));
    QVERIFY(QFile::copy(corpusFile, unicode));
    ProfileHolder unicodeFile(open_profile_by_name(unicode));
    QVERIFY(unicodeFile.p);

    ProfileHolder missing(open_profile_by_name(dir.filePath(QStringLiteral("missing.icc"))));
    QVERIFY(!missing.p);
    ProfileHolder folder(open_profile_by_name(dir.path()));
    QVERIFY(!folder.p);

    QFile junk(dir.filePath(QStringLiteral("junk.icc")));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(300, 'x'));
    junk.close();
    ProfileHolder refused(open_profile_by_name(junk.fileName()));
    QVERIFY(!refused.p);
}

void TestBuiltinProfiles::descriptionIsWrittenAsEnglishTexts()
{
    ProfileHolder profile(krmCreateXYZProfile());
    QVERIFY(profile.p);
    const QString text = QStringLiteral("Caf\u00e9 \u2014 \u65e5\u672c");
    QVERIFY(set_profile_description(profile.p, text));
    QCOMPARE(text_of(profile.p, krmSig("desc")), text);

    const QByteArray bytes = saved(profile.p);
    ProfileHolder reopened(krmOpenProfileFromMem(bytes.constData(), krmUInt32Number(bytes.size())));
    QVERIFY(reopened.p);
    const auto* mlu = static_cast<const krmMLU*>(krmReadTag(reopened.p, krmSig("desc")));
    QVERIFY(mlu);
    QCOMPARE(krmMLUTranslationsCount(mlu), 1u);
    char language[3] = {}, country[3] = {};
    QVERIFY(krmMLUTranslationCodes(mlu, 0, language, country));
    QCOMPARE(QByteArray(language), QByteArray("en"));
    QCOMPARE(QByteArray(country), QByteArray("US"));
    QCOMPARE(text_of(reopened.p, krmSig("desc")), text);
    QCOMPARE(text_of(reopened.p, krmSig("cprt")), QStringLiteral("Created by Corvane tool. No copyright, use freely."));

    QVERIFY(!set_profile_description(nullptr, text));
}

void TestBuiltinProfiles::userStoreKeepsTheLastProfile()
{
    QVERIFY(store_user_profile(nullptr));
    QVERIFY(!has_user_profile());
    ProfileHolder none(open_profile_by_name(QStringLiteral("*user")));
    QVERIFY(!none.p);

    ProfileHolder gray(open_profile_by_name(QStringLiteral("*gray18")));
    QVERIFY(store_user_profile(gray.p));
    QVERIFY(has_user_profile());
    {
        ProfileHolder user(open_profile_by_name(QStringLiteral("*user")));
        QVERIFY(user.p);
        QCOMPARE(krmGetProfileColorSpace(user.p), krmSig("GRAY"));
        QCOMPARE(text_of(user.p, krmSig("desc")), QStringLiteral("Gray color space (gamma 1.8)"));
    }

    // A second image replaces the first.
    ProfileHolder rgb(open_profile_by_name(QStringLiteral("*dcip3")));
    QVERIFY(store_user_profile(rgb.p));
    {
        ProfileHolder user(open_profile_by_name(QStringLiteral("*user")));
        QVERIFY(user.p);
        QCOMPARE(text_of(user.p, krmSig("desc")), QStringLiteral("DCI P3 SMPTE-EG-0432-1:2010"));
    }
    // Each open is a profile of its own.
    ProfileHolder first(open_profile_by_name(QStringLiteral("*user")));
    ProfileHolder second(open_profile_by_name(QStringLiteral("*user")));
    QVERIFY(first.p && second.p && first.p != second.p);

    QVERIFY(store_user_profile(nullptr));
    QVERIFY(!has_user_profile());
}

void TestBuiltinProfiles::userStoreWritesNothingToTheProfileFolder()
{
    // The user's profile folder is scanned by other programs: an image's profile stays in memory.
    const QDir icc(QDir(data_.path()).filePath(QStringLiteral("icc")));
    ProfileHolder lab(open_profile_by_name(QStringLiteral("*lab")));
    QVERIFY(store_user_profile(lab.p));
    QVERIFY(has_user_profile());
    QVERIFY(!icc.exists() || icc.isEmpty());

    // A copy an earlier version left there is removed, and only that file.
    QVERIFY(QDir().mkpath(icc.path()));
    for (const char* name : {"prismet-embedded.icc", "mine.icc"}) {
        QFile f(icc.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    remove_left_over_user_profile_file();
    QCOMPARE(icc.entryList(QDir::Files), QStringList{QStringLiteral("mine.icc")});
    QVERIFY(store_user_profile(nullptr));
}

QTEST_GUILESS_MAIN(TestBuiltinProfiles)
#include "tst_builtinprofiles.moc"
