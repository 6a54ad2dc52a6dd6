// Engine messages captured by tests: install captureHandler in a context, read g_log.
#pragma once

#include "krm.h"

#include <string>
#include <vector>

namespace error_log {

struct Logged {
    krmUInt32Number code;
    std::string text;
};

extern std::vector<Logged> g_log;

void captureHandler(krmContext, krmUInt32Number code, const char* text);

}  // namespace error_log
