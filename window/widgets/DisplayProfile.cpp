#include "window/widgets/DisplayProfile.h"

#include <QGuiApplication>

#ifdef PRISMET_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

namespace {

#ifdef PRISMET_HAVE_X11
// The X Color Management convention: the profile of the first screen is the root window's
// _ICC_PROFILE property, type CARDINAL, format 8.
QByteArray x11_root_profile()
{
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 ? x11->display() : nullptr;
    if (!display)
        return {};

    const Atom property = XInternAtom(display, "_ICC_PROFILE", True);
    if (property == None)
        return {};

    // Lengths are in 32-bit units; 64 MiB is far above any real display profile.
    const long maxLength = (64L << 20) / 4;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, DefaultRootWindow(display), property, 0, maxLength, False,
                                          AnyPropertyType, &type, &format, &count, &remaining, &data);
    QByteArray bytes;
    if (status == Success && data && format == 8 && remaining == 0 && count > 0)
        bytes = QByteArray(reinterpret_cast<const char*>(data), qsizetype(count));
    if (data)
        XFree(data);
    return bytes;
}
#endif

// Every caller converts to the screen at once: a profile that cannot be the last of a chain
// is no better than none.
bool usable_for_screen(krmProfile profile)
{
    const krmColorSpaceSignature space = krmGetProfileColorSpace(profile);
    if (space != krmSig("RGB ") && space != krmSig("GRAY"))
        return false;
    return krmIsIntentSupported(profile, krmINTENT_PERCEPTUAL, krmUsedAsOutput) ||
           krmIsIntentSupported(profile, krmINTENT_RELATIVE_COLORIMETRIC, krmUsedAsOutput);
}

}  // namespace

QByteArray display_profile_bytes()
{
#ifdef PRISMET_HAVE_X11
    return x11_root_profile();
#else
    return {};
#endif
}

krmProfile display_profile()
{
    const QByteArray bytes = display_profile_bytes();
    if (!bytes.isEmpty()) {
        if (krmProfile profile = krmOpenProfileFromMem(bytes.constData(), krmUInt32Number(bytes.size()))) {
            if (usable_for_screen(profile))
                return profile;
            krmCloseProfile(profile);
        }
    }
    return krmCreate_sRGBProfile();
}
