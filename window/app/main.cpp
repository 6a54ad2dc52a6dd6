#include "window/app/PrismetApp.h"
#include "common/workers/WorkerPool.h"

#include <krm.h>

#include <QtGlobal>

#include <cstdio>
#include <cstring>

namespace {

// Answered before any window exists, so that it works without a display; the manual page is
// made from this text.
const char kHelp[] =
    "Usage: prismet [PROFILE]\n"
    "\n"
    "Opens ICC colour profiles, version 2 or 4, in Prismet's inspector window: the header, the\n"
    "tag directory and a viewer for every tag, the gamut in 3-D, roundtrip, ink and dot gain\n"
    "analyses, the conformance check and soft proofing of images through a profile. PROFILE\n"
    "(an .icc, .icm or .pf file) opens at start; without it, a start dialog offers to browse\n"
    "the system's or the user's ICC profile folder, or any folder.\n"
    "\n"
    "Options:\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "Holding Shift or Control while Prismet starts opens a window that logs each start-up step.\n"
    "The settings are kept in ~/.config/Corvane/Corvane Prismet.conf; Help > Manual opens\n"
    "manual.pdf beside the program or in ../share/doc/prismet.\n"
    "\n"
    "Exit status: 0 when the window is closed; other values when the window cannot be opened,\n"
    "for example without a display.\n"
    "\n"
    "Example:\n"
    "  prismet /usr/share/color/icc/colord/sRGB.icc\n";

}  // namespace

int main(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("prismet " PRISMET_VERSION "\n", stdout);
            return 0;
        }
    }
    Q_INIT_RESOURCE(resources);

    // A tag registration with no signature switches the global context to permissive reading,
    // so the viewers can decode every tag of a known type, whatever its signature.
    static krmPluginTag permissiveReading = {};
    permissiveReading.base.Magic = krmPluginMagicNumber;
    permissiveReading.base.ExpectedVersion = 2190;
    permissiveReading.base.Type = krmPluginTagSig;
    permissiveReading.base.Next = nullptr;
    permissiveReading.Signature = 0;
    krmRegisterPlugin(&permissiveReading);
    // Large conversions (proofing, gamut sampling) split by lines over one thread per core.
    prismet::registerParallelWorkers(nullptr);

    int result = 0;
    {
        PrismetApp app(argc, argv);
        startupLog("Entering event loop");
        result = app.exec();
    }
    Q_CLEANUP_RESOURCE(resources);
    return result;
}
