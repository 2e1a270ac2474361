// The catalogue side of an update run on a client that is already current: Load of a large
// catalogue and RetainOutdated over its files, all of which exist and match. Run by hand.
//   catalog_bench make CLIENT_DIR FILES     a client of FILES files and CLIENT_DIR.list of paths
//   catalog_bench load CATALOGUE CLIENT_DIR [STATE_DIR]
//                                           Load + RetainOutdated; prints times and peak memory;
//                                           with STATE_DIR, the records kept there are used
//                                           (and kept there after a parse)
//   catalog_bench walk LIST                 open + fstat + close of every path in LIST
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "catalog/CUpdateCatalog.h"
#include "catalog/xml_startup.h"
#include "tests/support/PeBuilder.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// 100 directories (some with Chinese names, as clients have), one PE image with a version in
// every four files, small data files otherwise.
int Make(const std::string& root, int files) {
    std::ofstream list(root + ".list");
    for (int i = 0; i < files; ++i) {
        const std::string dir = root + "/" + (i % 3 ? "data" : "数据") + std::to_string(i % 100);
        std::filesystem::create_directories(dir);
        const std::string path = dir + "/f" + std::to_string(i) + (i % 4 ? ".dat" : ".dll");
        if (i % 4 == 0) {
            toval::test::PeOptions o;
            o.FileVersion = {1, 0, static_cast<uint16_t>(i >> 16), static_cast<uint16_t>(i)};
            o.TrailingBytes = static_cast<std::size_t>(i % 500);
            if (!toval::test::WritePeFile(path, o)) return 1;
        } else {
            std::ofstream(path, std::ios::binary)
                << std::string(static_cast<std::size_t>(i % 300), 'x');
        }
        list << path << '\n';
    }
    return list ? 0 : 1;
}

int Load(const std::string& catalogue, const std::string& client, const std::string& state) {
    if (!toval::InitXmlParser()) return 1;
    toval::CUpdateCatalog catalog(toval::BaseDirectories{client, "/nonexistent", "/nonexistent"});
    const auto t0 = Clock::now();
    if (!(state.empty() ? catalog.Load(catalogue) : catalog.Load(catalogue, state))) {
        std::fprintf(stderr, "catalog_bench: %s does not load\n", catalogue.c_str());
        return 1;
    }
    const uint32_t loaded = catalog.Count();
    const auto t1 = Clock::now();
    const uint32_t outdated = catalog.RetainOutdated();
    const auto t2 = Clock::now();
    std::printf(
        "entries %u, outdated %u: Load %.1f ms, RetainOutdated %.1f ms, total %.1f ms, "
        "peak RSS %ld KiB\n",
        loaded, outdated, Ms(t1 - t0), Ms(t2 - t1), Ms(t2 - t0), PeakRssKiB());
    return outdated == 0 ? 0 : 1;
}

int Walk(const std::string& listPath) {
    std::ifstream list(listPath);
    std::string path;
    long count = 0;
    uint64_t bytes = 0;
    while (std::getline(list, path)) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd < 0 || fstat(fd, &info) != 0) return 1;
        close(fd);
        bytes += static_cast<uint64_t>(info.st_size);
        ++count;
    }
    return count > 0 && bytes > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 4) return Make(argv[2], std::atoi(argv[3]));
    if (mode == "load" && (argc == 4 || argc == 5))
        return Load(argv[2], argv[3], argc == 5 ? argv[4] : "");
    if (mode == "walk" && argc == 3) return Walk(argv[2]);
    std::fprintf(stderr,
                 "usage: catalog_bench make DIR FILES | load CATALOGUE DIR [STATE] | walk LIST\n");
    return 2;
}
