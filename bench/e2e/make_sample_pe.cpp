// make-sample-pe: writes a small PE program with a version resource, for the demo's sample
// client and the end-to-end benchmarks. Not part of the updater.
//     make-sample-pe OUT VERSION [TRAILING_BYTES]      (VERSION as a.b.c.d)

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/PeBuilder.h"

namespace {

bool ParseVersion(const std::string& text, std::array<uint16_t, 4>& out) {
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
    if (a > 0xFFFF || b > 0xFFFF || c > 0xFFFF || d > 0xFFFF) return false;
    out = {static_cast<uint16_t>(a), static_cast<uint16_t>(b), static_cast<uint16_t>(c),
           static_cast<uint16_t>(d)};
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    toval::test::PeOptions options;
    if ((argc != 3 && argc != 4) || !ParseVersion(argv[2], options.FileVersion)) {
        std::fprintf(stderr, "usage: make-sample-pe OUT a.b.c.d [TRAILING_BYTES]\n");
        return 2;
    }
    options.ProductVersion = options.FileVersion;
    if (argc == 4) options.TrailingBytes = std::strtoul(argv[3], nullptr, 10);
    if (!toval::test::WritePeFile(argv[1], options)) {
        std::fprintf(stderr, "make-sample-pe: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
