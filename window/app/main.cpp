#include "window/app/PrismetApp.h"
#include "common/workers/WorkerPool.h"

#include <krm.h>

#include <QtGlobal>

int main(int argc, char* argv[])
{
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
