// Signed mode: the catalogue is accepted only with a valid signature by a trusted key, a serial
// no lower than one already accepted from that key, an expiry still ahead, and a hash for every
// file.

#include <ctime>

#include "catalog/catalogue_trust.h"
#include "engine/CUpdateRun.h"
#include "engine/status_texts.h"
#include "platform/crypto.h"
#include "platform/file_handle.h"
#include "platform/file_read.h"

namespace toval {

namespace {
// A keys file holds a few keys; anything much larger is not one.
constexpr uint64_t kKeysFileMaxBytes = 64 << 10;
}  // namespace

void CUpdateRun::LoadTrustedKeys() {
    const std::string& dir = UpdateCatalog.Directories().ProgramDir;
    const std::string path = (dir == "/" ? dir : dir + "/") + std::string(kTrustedKeysFile);
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

void CUpdateRun::SignatureCompleted(QueuedTransfer& item) {
    SignatureFetch = nullptr;
    const std::optional<std::string> text =
        item.Code == 0 ? ReadSmallFile(item.TargetPath(), kSignatureMaxBytes) : std::nullopt;
    if (!text) {
        CatalogueFailed(item, std::string(kTextSignatureMissing));
        return;
    }
    RemoveFile(item.TargetPath());
    SignatureText = *text;
    if (const CServerEntry* server = ServerList.First()) QueueCatalogue(*server);
}

std::optional<std::string_view> CUpdateRun::CheckSignedCatalogue(const std::string& bytes) {
    const minisign::Verification verified =
        minisign::VerifyCatalogueSignature(*TrustedKeys, bytes, SignatureText);
    if (verified.Result != minisign::VerifyResult::Ok) return kTextSignatureInvalid;
    const TrustedCommentValues values = ParseTrustedComment(verified.TrustedComment);
    if (values.Status != TrustedCommentStatus::Ok) return kTextSignatureInvalid;

    const std::string stateDir = StateDir();
    SerialFloors floors = SerialFloors::Load(stateDir);
    const auto now = static_cast<uint64_t>(std::time(nullptr));
    switch (CheckFreshness(values.Serial, values.Expires, now, floors.Floor(verified.Id))) {
        case Freshness::Rollback:
            return kTextCatalogueRolledBack;
        case Freshness::Expired:
            return kTextCatalogueExpired;
        case Freshness::Ok:
            break;
    }
    if (!UpdateCatalog.LoadBytes(bytes) || UpdateCatalog.Count() == 0)
        return kTextCatalogueUnreadable;
    // Every file's bytes must be pinned by the signature, or one file could be anything.
    if (!UpdateCatalog.AllEntries(
            [](const CFileEntry& e) { return ParseSha256Hex(e.Sha256).has_value(); })) {
        UpdateCatalog.Clear();
        return kTextHashMissing;
    }
    floors.Raise(verified.Id, values.Serial);
    // The state directory exists: the run lock lives there. Should the floor not be saved, the
    // catalogue is still good; the next run just cannot refuse an older one from this key.
    if (!floors.Save(stateDir)) Host.DebugOutput("serial floor not saved");
    return std::nullopt;
}

}  // namespace toval
