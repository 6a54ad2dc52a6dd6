// The screen's profile: the root window's _ICC_PROFILE under X11, and sRGB whenever the screen
// publishes nothing usable (no property, garbage, a profile that cannot be drawn to).

#include "window/widgets/BuiltinProfiles.h"
#include "window/widgets/DisplayProfile.h"

#include <krm.h>

#include <QGuiApplication>
#include <QTest>

#ifdef PRISMET_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

namespace {

QString description(krmProfile profile)
{
    const auto* mlu = static_cast<const krmMLU*>(krmReadTag(profile, krmSig("desc")));
    if (!mlu)
        return {};
    char buffer[256] = {};
    krmMLUGetASCII(mlu, "en", "US", buffer, sizeof buffer);
    return QString::fromLatin1(buffer);
}

QByteArray saved(const QString& builtin)
{
    krmProfile profile = open_profile_by_name(builtin);
    krmUInt32Number size = 0;
    QByteArray bytes;
    if (profile && krmSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(qsizetype(size));
        krmSaveProfileToMem(profile, bytes.data(), &size);
    }
    if (profile)
        krmCloseProfile(profile);
    return bytes;
}

// The engine's sRGB: its red colorant equals that of a fresh krmCreate_sRGBProfile.
bool is_srgb(krmProfile profile)
{
    krmProfile reference = krmCreate_sRGBProfile();
    const auto* a = static_cast<const krmCIEXYZ*>(krmReadTag(profile, krmSig("rXYZ")));
    const auto* b = static_cast<const krmCIEXYZ*>(krmReadTag(reference, krmSig("rXYZ")));
    const bool same = a && b && a->X == b->X && a->Y == b->Y && a->Z == b->Z &&
                      krmGetProfileColorSpace(profile) == krmSig("RGB ");
    krmCloseProfile(reference);
    return same;
}

// A screen profile is usable when a transform from sRGB to it can be made and run.
bool usable(krmProfile profile)
{
    krmProfile srgb = krmCreate_sRGBProfile();
    const krmUInt32Number format =
        krmGetProfileColorSpace(profile) == krmSig("GRAY") ? krmUInt32Number(0x30009) : krmFmtRGB8;
    krmTransform transform = krmCreateTransform(srgb, krmFmtRGB8, profile, format, krmINTENT_PERCEPTUAL, 0);
    bool ok = transform != nullptr;
    if (transform) {
        const unsigned char in[3] = {255, 255, 255};
        unsigned char out[3] = {};
        krmDoTransform(transform, in, out, 1);
        ok = out[0] > 240;
        krmDeleteTransform(transform);
    }
    krmCloseProfile(srgb);
    return ok;
}

}  // namespace

class TestDisplayProfile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void noPropertyGivesSrgb();
    void propertyGivesThatProfile_data();
    void propertyGivesThatProfile();
    void unusablePropertyStillGivesAProfile_data();
    void unusablePropertyStillGivesAProfile();

private:
#ifdef PRISMET_HAVE_X11
    void set_property(const QByteArray& bytes);
    void delete_property();
    Display* display_ = nullptr;
#endif
};

void TestDisplayProfile::initTestCase()
{
#ifdef PRISMET_HAVE_X11
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("The screen's profile is read from X11; run under Xvfb.");
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    display_ = x11 ? x11->display() : nullptr;
    QVERIFY(display_);
    delete_property();
#else
    QSKIP("Built without X11.");
#endif
}

#ifdef PRISMET_HAVE_X11
void TestDisplayProfile::set_property(const QByteArray& bytes)
{
    const Atom atom = XInternAtom(display_, "_ICC_PROFILE", False);
    XChangeProperty(display_, DefaultRootWindow(display_), atom, XA_CARDINAL, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(bytes.constData()), int(bytes.size()));
    XSync(display_, False);
}

void TestDisplayProfile::delete_property()
{
    const Atom atom = XInternAtom(display_, "_ICC_PROFILE", False);
    XDeleteProperty(display_, DefaultRootWindow(display_), atom);
    XSync(display_, False);
}
#endif

void TestDisplayProfile::cleanup()
{
#ifdef PRISMET_HAVE_X11
    if (display_)
        delete_property();
#endif
}

void TestDisplayProfile::noPropertyGivesSrgb()
{
    QVERIFY(display_profile_bytes().isEmpty());
    krmProfile profile = display_profile();
    QVERIFY(profile);
    QVERIFY(is_srgb(profile));
    QVERIFY(usable(profile));
    krmCloseProfile(profile);
}

void TestDisplayProfile::propertyGivesThatProfile_data()
{
    QTest::addColumn<QString>("builtin");
    QTest::addColumn<QString>("description");
    QTest::newRow("wide-gamut RGB") << "*argb" << "AdobeRGB1998-like color space";
    QTest::newRow("version 4.3 RGB") << "*bt2020" << "ITU-R Recommendation BT.2020";
    QTest::newRow("gray screen") << "*gray22" << "Gray color space (gamma 2.2)";
}

void TestDisplayProfile::propertyGivesThatProfile()
{
#ifdef PRISMET_HAVE_X11
    QFETCH(QString, builtin);
    QFETCH(QString, description);
    const QByteArray bytes = saved(builtin);
    QVERIFY(!bytes.isEmpty());
    set_property(bytes);
    QCOMPARE(display_profile_bytes(), bytes);

    krmProfile profile = display_profile();
    QVERIFY(profile);
    QCOMPARE(::description(profile), description);
    QVERIFY(!is_srgb(profile));
    QVERIFY(usable(profile));
    krmCloseProfile(profile);
#endif
}

void TestDisplayProfile::unusablePropertyStillGivesAProfile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray garbage(4000, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 37 + 11) & 0xFF);
    QTest::newRow("garbage") << garbage;
    QTest::newRow("one byte") << QByteArray(1, 'x');
    QTest::newRow("truncated profile") << saved(QStringLiteral("*argb")).left(100);
    // The engine accepts these, but nothing can be drawn to them.
    QTest::newRow("Lab profile") << saved(QStringLiteral("*lab"));
    QByteArray headerOnly = saved(QStringLiteral("*argb")).left(132);
    headerOnly[0] = 0;
    headerOnly[1] = 0;
    headerOnly[2] = 0;
    headerOnly[3] = char(132);
    headerOnly[128] = headerOnly[129] = headerOnly[130] = headerOnly[131] = 0;  // no tags
    QTest::newRow("RGB header without tags") << headerOnly;
}

// Regression: refused screen bytes used to give a null profile, which every caller dereferences.
void TestDisplayProfile::unusablePropertyStillGivesAProfile()
{
#ifdef PRISMET_HAVE_X11
    QFETCH(QByteArray, bytes);
    set_property(bytes);
    krmProfile profile = display_profile();
    QVERIFY(profile);
    QVERIFY(is_srgb(profile));
    QVERIFY(usable(profile));
    krmCloseProfile(profile);
#endif
}

QTEST_MAIN(TestDisplayProfile)
#include "tst_displayprofile.moc"
