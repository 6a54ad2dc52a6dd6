#include "support/error_log.h"

namespace error_log {

std::vector<Logged> g_log;

void captureHandler(krmContext, krmUInt32Number code, const char* text)
{
    g_log.push_back({code, text});
}

}  // namespace error_log
