// prismet-cli dump --full of a large profile: a CMYK output profile with a 33⁴ CLUT (7.4 MB), made
// by the engine. The program runs as a child process writing to /dev/null; the benchmark reports
// the wall time per run and the child's peak memory ("peak_MB"). Target: under 3 s and 100 MB.
#include "krm.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

extern char** environ;

namespace {

// A 'prtr' CMYK profile whose A2B0 is a 16-bit 33⁴ CLUT (a smooth subtractive model) and whose
// B2A0 is a small table, written to `path`.
bool WriteLargeProfile(const char* path)
{
    krmProfile profile = krmCreateProfilePlaceholder(nullptr);
    krmSetProfileClass(profile, krmSig("prtr"));
    krmSetProfileColorSpace(profile, krmSig("CMYK"));
    krmSetProfilePCS(profile, krmSig("Lab "));
    krmSetProfileVersion(profile, 2.4);
    krmStage* clut = krmStageAllocCLut16bit(nullptr, 33, 4, 3, nullptr);
    auto* data = static_cast<krmStageCLutData*>(krmStageData(clut));
    for (krmUInt32Number node = 0; node < data->nEntries / 3; ++node) {
        krmUInt32Number rest = node;
        double ink[4];
        for (int c = 3; c >= 0; --c) {
            ink[c] = (rest % 33) / 32.0;
            rest /= 33;
        }
        const double light = (1 - ink[3]) * (1 - 0.3 * (ink[0] + ink[1] + ink[2]) / 3);
        data->Tab.T16[node * 3] = krmUInt16Number(65280 * light);
        data->Tab.T16[node * 3 + 1] = krmUInt16Number(32768 + 12000 * (ink[1] - ink[0]));
        data->Tab.T16[node * 3 + 2] = krmUInt16Number(32768 + 12000 * (ink[2] - ink[1]));
    }
    krmPipeline* a2b = krmPipelineAlloc(nullptr, 4, 3);
    krmPipelineInsertStage(a2b, krmAT_END, clut);
    krmPipeline* b2a = krmPipelineAlloc(nullptr, 3, 4);
    krmPipelineInsertStage(b2a, krmAT_END, krmStageAllocCLut16bit(nullptr, 9, 3, 4, nullptr));
    const bool ok = krmWriteTag(profile, krmSig("A2B0"), a2b) && krmWriteTag(profile, krmSig("B2A0"), b2a)
                    && krmSaveProfileToFile(profile, path);
    krmPipelineFree(a2b);
    krmPipelineFree(b2a);
    krmCloseProfile(profile);
    return ok;
}

void BM_DumpFullLargeClut(benchmark::State& state)
{
    char path[] = "/tmp/prismet-dump-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || !WriteLargeProfile(path)) {
        state.SkipWithError("cannot write the profile");
        return;
    }
    close(fd);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char program[] = PRISMET_CLI;
    char dump[] = "dump";
    char full[] = "--full";
    char* argv[] = {program, dump, full, path, nullptr};
    long peakKb = 0;
    for (auto _ : state) {
        pid_t child = 0;
        if (posix_spawn(&child, program, &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start prismet-cli");
            break;
        }
        int status = 0;
        struct rusage usage {};
        wait4(child, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("prismet-cli dump failed");
            break;
        }
        peakKb = std::max(peakKb, long(usage.ru_maxrss));
    }
    state.counters["peak_MB"] = double(peakKb) / 1024.0;
    posix_spawn_file_actions_destroy(&actions);
    std::remove(path);
}
BENCHMARK(BM_DumpFullLargeClut)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
