// toval-chaos-watch: samples a client's listed files while updaters run on it, and reports every
// moment a file was not one published version byte for byte (a mix, a torn or empty file, a
// file gone that the old version had). For the chaos soak (bench/chaos/run).
//     toval-chaos-watch CLIENT_DIR LIST_FILE FINDINGS_FILE [INTERVAL_MS=25]
// LIST_FILE has one line per listed file: "V1_SHA256 V2_SHA256 RELATIVE_PATH", with "-" for a
// file the old version lacks. Every INTERVAL_MS each file is looked at; one whose identity,
// size, or times changed is hashed again. Commands on standard input, one a line:
//     run N    findings from now on are charged to run N
//     state    look at every file now, then print "STATE PATH" for each (v1, v2, absent or
//              bad) and a line "."
// At the end of input it looks once more, prints "looks N hashed N findings N" and exits.
// Each finding is a line in FINDINGS_FILE: "run=N PATH size=S sha256=H" (or "absent").

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/crypto.h"

namespace {

struct Identity {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = -1;
    timespec Modified{};
    timespec Changed{};

    bool operator==(const Identity& o) const {
        return Device == o.Device && Inode == o.Inode && Size == o.Size &&
               Modified.tv_sec == o.Modified.tv_sec && Modified.tv_nsec == o.Modified.tv_nsec &&
               Changed.tv_sec == o.Changed.tv_sec && Changed.tv_nsec == o.Changed.tv_nsec;
    }
};

Identity IdentityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

struct Watched {
    std::string Path;  // relative to the client
    std::string V1;    // "-": the old version has no such file
    std::string V2;
    std::optional<Identity> Seen;  // nothing: absent when last looked at
    std::string State = "unseen";
};

std::string HashOf(int fd) {
    toval::Sha256 hash;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return "unreadable";
        if (n == 0) break;
        hash.Update(buffer.data(), static_cast<size_t>(n));
    }
    const auto digest = hash.Final();
    return digest ? toval::ToHex(digest->data(), digest->size()) : "unhashable";
}

class Watcher {
  public:
    Watcher(std::string client, std::vector<Watched> files, std::FILE* findings)
        : Client(std::move(client)), Files(std::move(files)), Findings(findings) {}

    void LookAll() {
        ++Looks;
        for (Watched& file : Files) Look(file);
    }

    void PrintStates() {
        for (const Watched& file : Files)
            std::printf("%s %s\n", file.State.c_str(), file.Path.c_str());
        std::printf(".\n");
        std::fflush(stdout);
    }

    void SetRun(const std::string& run) { Run = run; }

    void PrintTotals() const {
        std::printf("looks %llu hashed %llu findings %llu\n", Looks, Hashed, FindingCount);
    }

  private:
    void Look(Watched& file) {
        const std::string path = Client + "/" + file.Path;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) {
            if (errno != ENOENT && errno != ENOTDIR) return;  // looked at again next time
            if (file.Seen || file.State == "unseen") {
                file.Seen.reset();
                Judge(file, file.V1 == "-" ? "absent" : "bad", "absent");
            }
            return;
        }
        if (file.Seen && *file.Seen == IdentityOf(st)) return;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        // What is judged is the file that was opened and read, whatever the path shows by now.
        struct stat opened {};
        fstat(fd, &opened);
        const std::string hash = HashOf(fd);
        close(fd);
        ++Hashed;
        file.Seen = IdentityOf(opened);
        const char* state = hash == file.V2 ? "v2" : hash == file.V1 ? "v1" : "bad";
        Judge(file, state,
              "size=" + std::to_string(static_cast<long long>(opened.st_size)) + " sha256=" + hash);
    }

    void Judge(Watched& file, const std::string& state, const std::string& detail) {
        // A file that stays bad is one finding, not one per look.
        if (state == "bad" && file.State != "bad") {
            ++FindingCount;
            std::fprintf(Findings, "run=%s %s %s\n", Run.c_str(), file.Path.c_str(),
                         detail.c_str());
            std::fflush(Findings);
        }
        file.State = state;
    }

    std::string Client;
    std::vector<Watched> Files;
    std::FILE* Findings;
    std::string Run = "0";
    unsigned long long Looks = 0, Hashed = 0, FindingCount = 0;
};

std::optional<std::vector<Watched>> ReadList(const char* name) {
    std::ifstream in(name);
    if (!in) return std::nullopt;
    std::vector<Watched> files;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        Watched file;
        if (!(fields >> file.V1 >> file.V2)) continue;
        std::getline(fields >> std::ws, file.Path);
        if (!file.Path.empty()) files.push_back(std::move(file));
    }
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    const long interval = argc == 5 ? std::atol(argv[4]) : 25;
    const auto files = argc >= 4 && argc <= 5 ? ReadList(argv[2]) : std::nullopt;
    std::FILE* findings = files ? std::fopen(argv[3], "a") : nullptr;
    if (!files || !findings || interval <= 0) {
        std::fprintf(stderr,
                     "usage: toval-chaos-watch CLIENT_DIR LIST_FILE FINDINGS_FILE [INTERVAL_MS]\n");
        return 2;
    }
    Watcher watcher(argv[1], *files, findings);
    watcher.LookAll();

    std::string pending;
    char buffer[4096];
    // Looks keep their pace however often commands come.
    auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= due) {
            watcher.LookAll();
            due = now + std::chrono::milliseconds(interval);
            continue;
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
        const int ready = poll(&input, 1, static_cast<int>(wait));
        if (ready < 0 && errno != EINTR) return 1;
        if (ready <= 0) continue;
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (command.rfind("run ", 0) == 0) {
                watcher.SetRun(command.substr(4));
            } else if (command == "state") {
                watcher.LookAll();
                watcher.PrintStates();
            }
        }
    }
    watcher.LookAll();
    watcher.PrintTotals();
    return 0;
}
