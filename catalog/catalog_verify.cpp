// Checking every listed file's bytes (--verify), apart from the everyday check, which trusts a
// file whose length, time and identity have not changed.

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "catalog/CUpdateCatalog.h"
#include "catalog/file_probe.h"
#include "catalog/hash_cache.h"
#include "platform/crypto.h"

namespace toval {

namespace {
struct Candidate {
    CFileEntry* Entry;
    Sha256Digest Wanted{};
    FileIdentity Identity{};
    std::optional<Sha256Digest> Actual;
};

// Hashes the candidates' files, the next one to whichever worker is free: large and small files
// mixed in catalogue order keep both busy.
void HashAll(std::vector<Candidate>& candidates) {
    std::atomic<size_t> next{0};
    const auto work = [&] {
        std::vector<uint8_t> buffer;
        for (size_t i = next++; i < candidates.size(); i = next++) {
            Candidate& c = candidates[i];
            const LocalFile file(c.Entry->FullPath, LocalFile::WithIdentity{});
            if (!file.IsOpen() || file.Size() != c.Entry->Length) continue;
            c.Identity = file.Identity();
            c.Actual = HashLocalFile(file, buffer);
        }
    };
    const unsigned workers =
        std::min<unsigned>(std::max(1u, std::thread::hardware_concurrency()),
                           static_cast<unsigned>(std::max<size_t>(1, candidates.size())));
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers; ++i) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
}
}  // namespace

CUpdateCatalog::Verified CUpdateCatalog::VerifyBytes(HashCache& hashes) {
    std::vector<Candidate> candidates;
    for (const auto& entry : Entries) {
        if (entry->FullPath.empty()) continue;
        if (const std::optional<Sha256Digest> wanted = ParseSha256Hex(entry->Sha256))
            candidates.push_back({entry.get(), *wanted, {}, std::nullopt});
    }
    HashAll(candidates);
    Verified result;
    for (const Candidate& c : candidates) {
        // A missing file or one of another length is out of date by the everyday rule.
        if (!c.Actual) continue;
        ++result.Checked;
        hashes.Add(c.Identity, *c.Actual);
        if (*c.Actual != c.Wanted) {
            ++result.Damaged;
            c.Entry->NeedsUpdate = true;
        }
    }
    return result;
}

}  // namespace toval
