#include "platform/debug_output.h"

#include <cstdio>
#include <cstdlib>

namespace toval {

void DebugOutput(const std::string& text) {
    static const bool enabled = [] {
        const char* v = std::getenv("TOVAL_UPDATER_DEBUG");
        return v && *v;
    }();
    if (!enabled) return;
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace toval
