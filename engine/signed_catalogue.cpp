// Signed mode: the catalogue is accepted only with a valid signature by a trusted key, a serial
// no lower than one already accepted from that key, an expiry still ahead, and a hash for every
// file.

#include <ctime>

#include "catalog/catalogue_trust.h"
#include "engine/catalogue_fetch.h"
#include "platform/crypto.h"
#include "platform/file_handle.h"
#include "platform/file_read.h"

namespace toval {

std::optional<CatalogueRefusal> CatalogueFetch::CheckSigned(const std::string& bytes) {
    const minisign::Verification verified =
        minisign::VerifyCatalogueSignature(*TrustedKeys, bytes, SignatureText);
    if (verified.Result != minisign::VerifyResult::Ok) return CatalogueRefusal::SignatureInvalid;
    const TrustedCommentValues values = ParseTrustedComment(verified.TrustedComment);
    if (values.Status != TrustedCommentStatus::Ok) return CatalogueRefusal::SignatureInvalid;

    SerialFloors floors = SerialFloors::Load(StateDir);
    const auto now = static_cast<uint64_t>(std::time(nullptr));
    switch (CheckFreshness(values.Serial, values.Expires, now, floors.Floor(verified.Id))) {
        case Freshness::Rollback:
            return CatalogueRefusal::RolledBack;
        case Freshness::Expired:
            return CatalogueRefusal::Expired;
        case Freshness::Ok:
            break;
    }
    if (!Catalog.LoadBytes(bytes) || Catalog.Count() == 0) return CatalogueRefusal::Unreadable;
    // Every file's bytes must be pinned by the signature, or one file could be anything.
    if (!Catalog.AllEntries(
            [](const CFileEntry& e) { return ParseSha256Hex(e.Sha256).has_value(); })) {
        Catalog.Clear();
        return CatalogueRefusal::HashMissing;
    }
    floors.Raise(verified.Id, values.Serial);
    // The state directory exists: the run lock lives there. Should the floor not be saved, the
    // catalogue is still good; the next run just cannot refuse an older one from this key.
    if (!floors.Save(StateDir)) Debug("serial floor not saved");
    return std::nullopt;
}

}  // namespace toval
