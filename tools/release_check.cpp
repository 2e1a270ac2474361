#include "tools/release_check.h"

#include <zstd.h>

#include <cstdio>
#include <ctime>
#include <iostream>
#include <set>
#include <vector>

#include "catalog/CUpdateCatalog.h"
#include "catalog/catalogue_trust.h"
#include "catalog/minisign.h"
#include "net/derived_urls.h"
#include "net/network_library.h"
#include "net/url_survey.h"
#include "platform/file_read.h"
#include "platform/standard_streams.h"
#include "platform/text.h"

namespace toval::catalog_tool {

namespace {
// Requests at once: enough to hide a long round trip, few enough for any web server.
constexpr unsigned kParallel = 16;
constexpr uint64_t kKeysFileMaxBytes = 64 * 1024;
constexpr uint64_t kSignatureMaxBytes = 64 * 1024;
constexpr uint64_t kExpiryWarningDays = 7;
// zstd's largest frame header: all a patch's declared length needs.
constexpr uint64_t kFrameHeaderMax = 18;

// What the report says, and whether the release is fit.
struct Report {
    int Problems = 0;
    void Fail(const std::string& line) {
        ++Problems;
        std::cout << "PROBLEM  " << Printable(line, ControlStyle::Replacement) << "\n";
    }
    void Note(const std::string& line) {
        std::cout << "ok       " << Printable(line, ControlStyle::Replacement) << "\n";
    }
};

// One question about one URL: which file (or patch) it is for, and what its answer must be.
struct Probe {
    std::string Url;
    std::string What;     // "a.dat", "patch of a.dat"
    uint64_t Length = 0;  // 0: no length to check
    std::string Sha256;   // with --full: the body's
    // A patch's: the length of the file it makes, which its frame must declare (with --full).
    std::optional<uint64_t> Makes;
};

// The length a patch's zstd frame declares for what it makes; nothing when it declares none.
std::optional<uint64_t> DeclaredLength(const std::string& start) {
    const unsigned long long length = ZSTD_getFrameContentSize(start.data(), start.size());
    if (length == ZSTD_CONTENTSIZE_UNKNOWN || length == ZSTD_CONTENTSIZE_ERROR) return std::nullopt;
    return length;
}

std::string Describe(const SurveyAnswer& answer) {
    if (!answer.Answered) return "no answer (" + answer.Error + ")";
    std::string text = "HTTP " + std::to_string(answer.Status);
    if (answer.Length) text += ", " + std::to_string(*answer.Length) + " bytes";
    return text;
}

// Progress on a terminal only: a report read by a program has nothing but findings.
void ShowProgress(size_t done, size_t total) {
    if (!IsTerminal(stderr)) return;
    std::fprintf(stderr, "\rchecked %zu of %zu%s", done, total, done == total ? "\n" : "");
    std::fflush(stderr);
}

void CheckSignature(const CheckRequest& request, const std::string& catalogue,
                    const SurveyAnswer& signature, Report& report) {
    const bool present = signature.Answered && signature.Status == 200;
    if (!request.KeyFile) {
        if (present) report.Note("a signature is published (not checked: no --key)");
        return;
    }
    const std::optional<std::string> keysText = ReadSmallFile(*request.KeyFile, kKeysFileMaxBytes);
    const auto keys = keysText ? minisign::ParseTrustedKeys(*keysText) : std::nullopt;
    if (!keys) {
        report.Fail(*request.KeyFile + ": not a public key file");
        return;
    }
    if (!present) {
        report.Fail(request.Url + ".minisig: " + Describe(signature) +
                    "; players see \"无法取得更新文件列表的签名\"");
        return;
    }
    const minisign::Verification verified =
        minisign::VerifyCatalogueSignature(*keys, catalogue, signature.Body);
    if (verified.Result != minisign::VerifyResult::Ok) {
        report.Fail(request.Url +
                    ".minisig: not a signature of this catalogue by these keys (a stale one?); "
                    "players see \"更新文件列表的签名无效\"");
        return;
    }
    const TrustedCommentValues values = ParseTrustedComment(verified.TrustedComment);
    if (values.Status != TrustedCommentStatus::Ok) {
        report.Fail("the signature's trusted comment lacks serial or expiry");
        return;
    }
    const auto now = static_cast<uint64_t>(std::time(nullptr));
    const std::string what = "signed by key " + minisign::KeyIdHex(verified.Id) + ", for " +
                             (values.For.empty() ? std::string("(any)") : values.For) +
                             ", serial " + std::to_string(values.Serial);
    if (values.Expires <= now) {
        report.Fail(what + ": expired; players see \"更新文件列表已过期\"");
    } else if ((values.Expires - now) / 86400 < kExpiryWarningDays) {
        report.Fail(what + ": expires in " + std::to_string((values.Expires - now) / 86400) +
                    " days; sign it again before then");
    } else {
        report.Note(what + ", " + std::to_string((values.Expires - now) / 86400) +
                    " days before it expires");
    }
}

// Entries a player's updater would stumble over, read from the catalogue as it reads it.
std::vector<Probe> ListProbes(const CheckRequest& request, const std::string& catalogue,
                              bool signedRelease, Report& report) {
    CUpdateCatalog catalog(BaseDirectories{"/client", "/client-windows", "/client-system"});
    if (!catalog.LoadBytes(catalogue) || catalog.Count() == 0) {
        report.Fail(request.Url + ": not a catalogue the updater reads (or it lists no file)");
        return {};
    }
    size_t listed = 0;
    for (size_t at = catalogue.find("<File>"); at != std::string::npos;
         at = catalogue.find("<File>", at + 1))
        ++listed;
    if (listed > catalog.Count())
        report.Fail(std::to_string(listed - catalog.Count()) +
                    " entries are dropped by the updater (names it keeps for itself, or paths "
                    "that leave the client)");
    std::vector<Probe> probes;
    // Paths that differ only in letter case are one file on Windows.
    const auto foldedLess = [](const std::string& a, const std::string& b) {
        return CompareIgnoringAsciiCase(a, b) < 0;
    };
    std::set<std::string, decltype(foldedLess)> targets(foldedLess);
    const std::vector<std::string>& mirrors = catalog.Mirrors();
    catalog.AllEntries([&](const CFileEntry& entry) {
        if (!targets.insert(entry.FullPath).second)
            report.Fail(entry.FileName + ": listed more than once");
        if (signedRelease && !ParseSha256Hex(entry.Sha256))
            report.Fail(entry.FileName + ": no Sha256 in a signed catalogue");
        std::vector<std::string> urls{entry.URL};
        for (const std::string& origin : mirrors)
            if (auto url = UrlOnMirror(entry.URL, origin)) urls.push_back(*url);
        for (const std::string& url : urls)
            probes.push_back({url, entry.FileName, entry.Length, request.Full ? entry.Sha256 : "",
                              std::nullopt});
        for (const FilePatch& patch : entry.Patches) {
            const std::optional<std::string> resolved = ResolveUrl(request.Url, patch.URL);
            if (!resolved) {
                report.Fail(entry.FileName + ": patch URL " + patch.URL + " cannot be resolved");
                continue;
            }
            std::vector<std::string> patchUrls{*resolved};
            for (const std::string& origin : mirrors)
                if (auto url = UrlOnMirror(*resolved, origin)) patchUrls.push_back(*url);
            for (const std::string& url : patchUrls)
                probes.push_back({url, "patch of " + entry.FileName, patch.Length, "",
                                  request.Full ? std::optional(entry.Length) : std::nullopt});
        }
        return true;
    });
    report.Note(std::to_string(catalog.Count()) + " files, " + std::to_string(mirrors.size()) +
                " mirrors, " + std::to_string(probes.size()) + " URLs to ask");
    return probes;
}

void CheckProbes(const std::vector<Probe>& probes, bool full, Report& report) {
    // Files and patches are asked apart: with --full a file's whole body is hashed, while of a
    // patch only its frame's header is kept (the rest is counted, for its length).
    std::vector<size_t> files, patches;
    for (size_t i = 0; i < probes.size(); ++i) (probes[i].Makes ? patches : files).push_back(i);
    std::vector<SurveyAnswer> answers(probes.size());
    size_t done = 0;
    for (const auto& [group, ask] :
         {std::pair{&files, full ? SurveyAsk::Digest : SurveyAsk::Length},
          std::pair{&patches, SurveyAsk::Start}}) {
        std::vector<std::string> urls;
        for (const size_t i : *group) urls.push_back(probes[i].Url);
        if (urls.empty()) continue;
        std::vector<SurveyAnswer> got =
            Survey(urls, ask, kParallel, kFrameHeaderMax,
                   [&](size_t n) { ShowProgress(done + n, probes.size()); });
        for (size_t k = 0; k < group->size(); ++k) answers[(*group)[k]] = std::move(got[k]);
        done += urls.size();
    }
    int good = 0;
    for (size_t i = 0; i < probes.size(); ++i) {
        const Probe& p = probes[i];
        const SurveyAnswer& a = answers[i];
        std::string wrong;
        if (!a.Answered || a.Status != 200) {
            wrong = Describe(a);
        } else if (p.Length != 0 && a.Length != p.Length) {
            wrong = Describe(a) + ", but the catalogue says " + std::to_string(p.Length);
        } else if (!p.Sha256.empty() && a.Digest != ParseSha256Hex(p.Sha256)) {
            wrong = "its SHA-256 is not the catalogue's";
        } else if (p.Makes && DeclaredLength(a.Body) != p.Makes) {
            wrong = "it does not make a file of the catalogue's " + std::to_string(*p.Makes) +
                    " bytes (a patch of another version?)";
        }
        if (wrong.empty()) {
            ++good;
        } else {
            report.Fail(p.What + " at " + p.Url + ": " + wrong);
        }
    }
    report.Note(std::to_string(good) + " of " + std::to_string(probes.size()) +
                (full ? " URLs serve their exact bytes" : " URLs answer with their exact length"));
}
}  // namespace

Stop CheckRelease(const CheckRequest& request) {
    const NetworkLibrary network;
    if (!network.Started()) return Failed("the network library could not start");
    Report report;
    const std::vector<SurveyAnswer> top =
        Survey({request.Url, request.Url + ".minisig"}, SurveyAsk::Body, 2, kCatalogueMaxBytes);
    if (!top[0].Answered || top[0].Status != 200) {
        report.Fail(request.Url + ": " + Describe(top[0]));
        return Failed("1 problem");
    }
    // A signature over at most a few lines; a bigger answer is an error page.
    SurveyAnswer signature = top[1];
    if (signature.Body.size() > kSignatureMaxBytes) signature.Status = 0;
    report.Note(request.Url + ": " + Describe(top[0]));
    // A compressed copy left from an earlier catalogue is what every player's updater gets.
    if (NetworkLibrary::DecodesGzip()) {
        const SurveyAnswer packed =
            Survey({request.Url}, SurveyAsk::CompressedBody, 1, kCatalogueMaxBytes)[0];
        if (packed.Answered && packed.Status == 200 && packed.Body != top[0].Body)
            report.Fail(request.Url +
                        ": the compressed copy the server sends (FILE.gz beside it) is another "
                        "catalogue; players get that one");
    }
    CheckSignature(request, top[0].Body, signature, report);
    const bool signedRelease =
        request.KeyFile.has_value() || (signature.Answered && signature.Status == 200);
    const std::vector<Probe> probes = ListProbes(request, top[0].Body, signedRelease, report);
    if (!probes.empty()) CheckProbes(probes, request.Full, report);
    if (report.Problems == 0) return {};
    return Failed(std::to_string(report.Problems) +
                  (report.Problems == 1 ? " problem" : " problems"));
}

}  // namespace toval::catalog_tool
