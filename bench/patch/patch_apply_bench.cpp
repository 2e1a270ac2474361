// patch_apply_bench SOURCE PATCH RESULT LENGTH: applies the patch as the updater does (the result
// synced), prints the wall time in milliseconds, and exits 1 when the apply fails. Timed by
// bench/patch/run beside `xdelta3 -d` of an equal patch.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/patch_apply.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s SOURCE PATCH RESULT LENGTH\n", argv[0]);
        return 2;
    }
    toval::PatchOutput out;
    out.Path = argv[3];
    out.Length = std::strtoull(argv[4], nullptr, 10);
    out.Replace = true;
    out.Sync = true;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = toval::ApplyPatch(argv[1], argv[2], out).has_value();
    const auto ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.1f ms%s\n", ms, ok ? "" : " (failed)");
    return ok ? 0 : 1;
}
