#include "engine/catalogue_fetch.h"

#include <chrono>

#include "catalog/catalogue_trust.h"
#include "engine/status_texts.h"
#include "net/result_codes.h"
#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/mapped_file.h"
#include "platform/path_join.h"
#include "platform/run_lock.h"
#include "platform/temp_file.h"

namespace toval {

namespace {
// A keys file holds a few keys; anything much larger is not one.
constexpr uint64_t kKeysFileMaxBytes = 64 << 10;

// Left in the state directory once a signed catalogue has been accepted: from then on the keys
// file going missing is a client that lost its protection, not one that never had it.
constexpr std::string_view kSignedMarker = "signed";
// The run waits for the catalogue before anything else: a server that has not sent it within
// this gives way to the next mirror.
constexpr std::chrono::milliseconds kCatalogueTimeLimit{300000};

std::string MarkerPath(const std::string& stateDir) { return JoinPath(stateDir, kSignedMarker); }

// A catalogue-side transfer: `url` into a fresh temporary file, with the mirrors of the
// catalogue `kept` from the last accepted one to fall back on. Temporary files are created
// before any network access; when none can be, the path stays empty and the transfer completes
// with the local-file code, which ends the run as a catalogue failure.
QueuedTransfer CatalogueSide(TransferRole role, const CServerEntry& server, const std::string& url,
                             const char* suffix, uint64_t maxBytes,
                             const std::optional<KeptCatalogue>& kept) {
    QueuedTransfer item;
    item.Kind = 1;
    item.Role = role;
    item.ServerName = server.Name;
    item.Pending = std::make_unique<TransferRequest>();
    item.Pending->Kind = 1;
    item.Pending->Writes = BodyTarget::Path;
    item.Pending->TimeLimit = kCatalogueTimeLimit;
    item.Pending->URL = url;
    item.Pending->TargetPath = CreateTempFile("Xml", suffix);
    item.Pending->MaxLength = maxBytes;
    // When the server is down, the mirrors the last accepted catalogue named may serve it.
    if (kept) item.Pending->Mirrors = kept->Mirrors;
    return item;
}
// The catalogue's own URL, on its server, even when a mirror was asked for it (after that
// mirror's signature): the kept copy and the patches' base belong to the server.
const std::string& CatalogueUrl(const TransferRequest& request, const CServerEntry* server) {
    return server ? server->Url : request.URL;
}
}  // namespace

CatalogueFetch::CatalogueFetch(CUpdateCatalog& catalog, StatusSink status, DebugSink debug)
    : Catalog(catalog), Status(std::move(status)), Debug(std::move(debug)) {}

void CatalogueFetch::LoadTrustedKeys(const std::string& programDir) {
    ProgramDir = programDir;
    const std::string path = JoinPath(programDir, kTrustedKeysFile);
    if (ExaminePath(path).Kind == PathKind::Missing) {
        TrustedKeys.reset();
        return;
    }
    // The file is there, so the publisher signs: a file that cannot be read or holds no usable
    // key trusts nothing, and every catalogue is refused, rather than falling back to trusting
    // any catalogue at all.
    const std::optional<std::string> text = ReadSmallFile(path, kKeysFileMaxBytes);
    auto keys = text ? minisign::ParseTrustedKeys(*text) : std::nullopt;
    TrustedKeys = keys ? std::move(*keys) : std::vector<minisign::PublicKey>{};
}

bool CatalogueFetch::KeysLost(const std::string& stateDir) const {
    if (TrustedKeys || stateDir.empty()) return false;
    // Floors are only ever saved for signed catalogues; the marker covers a floor not saved.
    return ExaminePath(MarkerPath(stateDir)).Kind != PathKind::Missing ||
           ExaminePath(JoinPath(stateDir, kSerialsFile)).Kind != PathKind::Missing;
}

QueuedTransfer CatalogueFetch::Begin(const CServerEntry& server, const std::string& stateDir) {
    StateDir = stateDir;
    Catalog.Clear();
    if (!TrustedKeys) return CatalogueTransfer(server);
    // The signature comes first, small and capped: the catalogue is then checked against it
    // before anything reads it.
    QueuedTransfer item = CatalogueSide(TransferRole::Signature, server, server.Url + ".minisig",
                                        ".minisig", kSignatureMaxBytes, KeptForFallback());
    item.Pending->MirrorOnNotFound = false;
    return item;
}

std::optional<KeptCatalogue> CatalogueFetch::KeptForFallback() const {
    std::optional<KeptCatalogue> kept = FindAnyKeptCatalogue(StateDir);
    // Unsigned, the mirrors are whatever the last catalogue said, an attacker's included: only
    // a signature makes them the publisher's, worth asking on a later day.
    if (kept && !TrustedKeys) kept->Mirrors.clear();
    return kept;
}

QueuedTransfer CatalogueFetch::CatalogueTransfer(const CServerEntry& server,
                                                 const std::string& signedAt) {
    const std::optional<KeptCatalogue> kept = KeptForFallback();
    const std::string& url = signedAt.empty() ? server.Url : signedAt;
    QueuedTransfer item =
        CatalogueSide(TransferRole::Catalogue, server, url, ".tmp", kCatalogueMaxBytes, kept);
    // A web server with the publisher's compressed copy sends that; the cap is on the text.
    item.Pending->AcceptCompressed = true;
    // The signature's server alone has the catalogue it signs.
    if (!signedAt.empty()) item.Pending->Mirrors.clear();
    // With a copy kept from an earlier launch, an unchanged catalogue costs one small answer.
    if (kept && kept->Url == url) {
        item.Pending->IfNoneMatch = kept->ETag;
        item.Pending->IfModifiedSince = kept->LastModified;
    }
    return item;
}

std::string_view RefusalCause(CatalogueRefusal why) {
    switch (why) {
        case CatalogueRefusal::TransferFailed:
            return "the catalogue could not be fetched";
        case CatalogueRefusal::SignatureMissing:
            return "no signature (URL.minisig) on the catalogue's server";
        case CatalogueRefusal::SignatureInvalid:
            return "the signature is not the catalogue's, not by a trusted key, lacks serial or "
                   "expiry, or names another product or channel";
        case CatalogueRefusal::RolledBack:
            return "its serial is lower than one already accepted under a trusted key";
        case CatalogueRefusal::Expired:
            return "its signature's expiry has passed: re-sign it";
        case CatalogueRefusal::HashMissing:
            return "signed, but a file has no Sha256";
        case CatalogueRefusal::Unreadable:
            return "not a catalogue (an error page, no file listed, or damaged)";
        case CatalogueRefusal::StateNotKept:
            return "the serial floor or the target cannot be read or saved in .toval-updater/";
    }
    return "unknown";
}

std::string RefusalText(const CatalogueStep& step) {
    switch (step.Why) {
        case CatalogueRefusal::TransferFailed:
            return step.TransferError;
        case CatalogueRefusal::SignatureMissing:
            return std::string(kTextSignatureMissing);
        case CatalogueRefusal::SignatureInvalid:
            return std::string(kTextSignatureInvalid);
        case CatalogueRefusal::RolledBack:
            return std::string(kTextCatalogueRolledBack);
        case CatalogueRefusal::Expired:
            return std::string(kTextCatalogueExpired);
        case CatalogueRefusal::HashMissing:
            return std::string(kTextHashMissing);
        case CatalogueRefusal::StateNotKept:
            return std::string(kTextTrustStateNotKept);
        case CatalogueRefusal::Unreadable:
            break;
    }
    return std::string(kTextCatalogueUnreadable);
}

CatalogueStep CatalogueFetch::Refuse(QueuedTransfer& item, CatalogueRefusal why) {
    if (!item.TargetPath().empty()) RemoveFile(item.TargetPath());
    CatalogueStep step;
    step.What = CatalogueStep::Kind::Refused;
    step.Why = why;
    if (why == CatalogueRefusal::TransferFailed && item.Transfer)
        step.TransferError = item.Transfer->Result().ErrorText;
    if (why == CatalogueRefusal::TransferFailed && item.Code == kResultLocalFile)
        step.TransferError = ResultCodeText(kResultLocalFile);
    return step;
}

CatalogueStep CatalogueFetch::Completed(QueuedTransfer& item, const CServerEntry* server,
                                        bool keep) {
    // A signature that cannot be had is refused as missing, whatever kept it away on the
    // network; one with no local file to go to failed on this machine, and the player is told
    // that instead of being sent to the official site for a new client.
    if (item.Code != 0)
        return Refuse(item, item.Role == TransferRole::Signature && item.Code != kResultLocalFile
                                ? CatalogueRefusal::SignatureMissing
                                : CatalogueRefusal::TransferFailed);
    if (item.Role == TransferRole::Signature) return SignatureCompleted(item, server);
    return CatalogueCompleted(item, server, keep);
}

CatalogueStep CatalogueFetch::SignatureCompleted(QueuedTransfer& item, const CServerEntry* server) {
    const std::optional<std::string> text = ReadSmallFile(item.TargetPath(), kSignatureMaxBytes);
    if (!text || !server) return Refuse(item, CatalogueRefusal::SignatureMissing);
    RemoveFile(item.TargetPath());
    SignatureText = *text;
    // The URL the signature came from, less its suffix: the server's own, or a mirror's when the
    // server could not answer.
    std::string signedAt = item.Transfer ? item.Transfer->Result().AnsweredBy : std::string();
    constexpr std::string_view kSuffix = ".minisig";
    signedAt = signedAt.ends_with(kSuffix) ? signedAt.substr(0, signedAt.size() - kSuffix.size())
                                           : server->Url;
    CatalogueStep step;
    step.What = CatalogueStep::Kind::Next;
    step.Transfer = CatalogueTransfer(*server, signedAt);
    return step;
}

CatalogueStep CatalogueFetch::CatalogueCompleted(QueuedTransfer& item, const CServerEntry* server,
                                                 bool keep) {
    const ITransfer& transfer = *item.Transfer;
    const TransferRequest& request = transfer.Request();
    const TransferResult& result = transfer.Result();
    // A 304 answer: the copy kept from an earlier launch is current, and is checked as if it had
    // just arrived.
    const std::optional<KeptCatalogue> kept =
        result.NotModified ? FindKeptCatalogue(StateDir, request.URL) : std::nullopt;
    const std::string source = kept ? kept->Path : request.TargetPath;
    if (!result.NotModified) Status(FillText(kTextCatalogueFetched, {item.ServerName}));
    bool loaded = false;
    std::optional<CatalogueRefusal> refusal;
    if (result.NotModified && !kept) {
        loaded = false;  // the copy went missing meanwhile
    } else if (TrustedKeys) {
        // Mapped, not read: the catalogue runs to tens of megabytes and is read through twice.
        const MappedFile bytes(source);
        refusal = bytes.Ok() && bytes.Bytes().size() <= kCatalogueMaxBytes
                      ? CheckSigned(bytes.Bytes())
                      : CatalogueRefusal::Unreadable;
        loaded = !refusal;
    } else {
        loaded = Catalog.Load(source, StateDir);
    }
    // A catalogue lists every file of the client, so one that lists none is not a catalogue but,
    // say, a well-formed error page. Either way the run ends as a failed download does, rather
    // than stall for good or tell the player that an unknown version is current.
    if (loaded && Catalog.Count() == 0) loaded = false;
    if (loaded && !result.NotModified && keep) {
        // Validators from a mirror would not match the server asked next time: the copy is
        // kept (in signed mode its mirrors are the fallback when that server is down), but
        // asked for afresh.
        const bool own = result.AnsweredBy == CatalogueUrl(request, server);
        KeepCatalogue(StateDir, source,
                      {source, CatalogueUrl(request, server), own ? result.ETag : std::string(),
                       own ? result.LastModified : std::string(),
                       TrustedKeys ? Catalog.Mirrors() : std::vector<std::string>()});
    }
    if (loaded && TrustedKeys && keep) MarkSigned();
    RemoveFile(request.TargetPath);
    if (result.NotModified) {
        if (!loaded && server) {
            // The kept copy fails a check (damaged, or not what the new signature signs: a
            // catalogue republished within the second its validators count). It is dropped and
            // the whole catalogue fetched at once.
            Catalog.Clear();
            ForgetKeptCatalogue(StateDir);
            CatalogueStep step;
            step.What = CatalogueStep::Kind::Next;
            step.Transfer = CatalogueTransfer(*server);
            return step;
        }
        if (loaded) Status(FillText(kTextCatalogueFetched, {item.ServerName}));
    }
    if (!loaded) return Refuse(item, refusal.value_or(CatalogueRefusal::Unreadable));
    Accepted = CatalogueUrl(request, server);
    CatalogueStep step;
    step.What = CatalogueStep::Kind::Accepted;
    return step;
}

void CatalogueFetch::MarkSigned() {
    if (ExaminePath(MarkerPath(StateDir)).Kind != PathKind::Missing) return;
    // Should it not be made, the serial floor saved beside it still says the same.
    if (!FileHandle::Open(MarkerPath(StateDir), OpenFor::CreateNew).IsOpen())
        Debug("signed-use marker not saved");
}

}  // namespace toval
