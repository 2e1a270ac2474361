// Times CheckNeedsUpdate over a client of many small files, every one of them current, so the
// whole decision runs (open, size, version resource, time, comparison), against the least any
// decision must do: open, fstat and close each file. Run by hand, on a warm cache.
//   probe_bench [WORKDIR] [FILES] [ROUNDS]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "catalog/CFileEntry.h"
#include "catalog/entry_probe.h"
#include "platform/file_time.h"
#include "tests/support/PeBuilder.h"

namespace {

constexpr int kDirectories = 100;
constexpr uint64_t kFileTime = 133000000001234567ull;

struct Client {
    std::vector<std::unique_ptr<toval::CFileEntry>> Entries;
};

std::string FilePath(const std::string& root, int i) {
    return root + "/d" + std::to_string(i % kDirectories) + "/f" + std::to_string(i) +
           (i % 2 ? ".dat" : ".dll");
}

// Even files are PE images with a version of their own, odd ones plain data; all carry one
// time stamp so the catalogue can be written without reading the disk.
Client MakeClient(const std::string& root, int files) {
    const std::string marker = root + "/.made-" + std::to_string(files);
    const bool make = !std::filesystem::exists(marker);
    if (make) {
        std::filesystem::remove_all(root);
        for (int d = 0; d < kDirectories; ++d)
            std::filesystem::create_directories(root + "/d" + std::to_string(d));
    }
    const timespec times[2] = {{0, UTIME_OMIT},
                               toval::TimespecFromFileTime(toval::FileTimeFromU64(kFileTime))};
    Client client;
    for (int i = 0; i < files; ++i) {
        const std::string path = FilePath(root, i);
        auto entry = std::make_unique<toval::CFileEntry>(path);
        entry->FileDate = toval::FileTimeFromU64(kFileTime);
        std::string bytes;
        if (i % 2 == 0) {
            toval::test::PeOptions o;
            o.Pe64 = i % 4 == 0;
            o.FileVersion = {1, 2, static_cast<uint16_t>(i >> 16), static_cast<uint16_t>(i)};
            o.TrailingBytes = static_cast<std::size_t>(i % 700);
            bytes = toval::test::MakePeImage(o);
            entry->FileVersion =
                "1.2." + std::to_string(i >> 16) + "." + std::to_string(static_cast<uint16_t>(i));
        } else {
            bytes.assign(static_cast<std::size_t>(50 + i % 1500), 'x');
        }
        entry->Length = bytes.size();
        if (make) {
            std::ofstream(path, std::ios::binary)
                .write(bytes.data(), std::streamsize(bytes.size()));
            utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
        client.Entries.push_back(std::move(entry));
    }
    if (make) std::ofstream(marker).put('\n');
    return client;
}

template <typename F>
double Seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string root = argc > 1 ? argv[1] : "bench/work/probe";
    const int files = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    Client client = MakeClient(root, files);

    // step 1: every file; step 2: the PE files only, whose decisions all read a version.
    long outdated = 0;
    auto decide = [&](std::size_t step) {
        for (std::size_t i = 0; i < client.Entries.size(); i += step) {
            auto& e = client.Entries[i];
            e->NeedsUpdate = false;
            outdated += CheckNeedsUpdate(*e);
        }
    };
    long failed = 0;
    auto walk = [&](std::size_t step) {
        for (std::size_t i = 0; i < client.Entries.size(); i += step) {
            const int fd = open(client.Entries[i]->FullPath.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat st;
            if (fd < 0 || fstat(fd, &st) != 0) ++failed;
            if (fd >= 0) close(fd);
        }
    };

    decide(1);  // warm the cache, and check the verdicts
    walk(1);
    if (outdated != 0 || failed != 0) {
        std::fprintf(stderr, "probe_bench: %ld files judged outdated, %ld failed to open\n",
                     outdated, failed);
        return 1;
    }
    std::printf("files %d in %d directories, best of %d rounds\n", files, kDirectories, rounds);
    for (std::size_t step : {1, 2}) {
        double best = 1e9, bestWalk = 1e9;
        for (int r = 0; r < rounds; ++r) {
            best = std::min(best, Seconds([&] { decide(step); }));
            bestWalk = std::min(bestWalk, Seconds([&] { walk(step); }));
        }
        const double n = static_cast<double>(client.Entries.size() / step);
        std::printf("%s\n", step == 1 ? "all files (half PE with a catalogue version, half plain)"
                                      : "PE files only (every decision reads the version)");
        std::printf("  (a) CheckNeedsUpdate   %8.1f ms  %6.2f us/file\n", best * 1e3,
                    best * 1e6 / n);
        std::printf("  (b) open+fstat+close   %8.1f ms  %6.2f us/file\n", bestWalk * 1e3,
                    bestWalk * 1e6 / n);
        std::printf("  ratio (a)/(b)          %8.2f   (target <= 1.50)\n", best / bestWalk);
    }
    return outdated == 0 ? 0 : 1;
}
