#include "platform/debug_output.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>

#include "platform/wide_text.h"
#endif

namespace toval {

void DebugOutput(const std::string& text) {
#ifdef _WIN32
    // Where a Windows developer looks: the debugger's output (or a viewer of it).
    ::OutputDebugStringW(Widen(text + "\n").c_str());
#endif
    static const bool enabled = [] {
        const char* v = std::getenv("TOVAL_UPDATER_DEBUG");
        return v && *v;
    }();
    if (!enabled) return;
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace toval
