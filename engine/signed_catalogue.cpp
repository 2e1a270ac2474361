// Signed mode: the catalogue is accepted only with a valid signature by a trusted key, for the
// product and channel this client is, with a serial no lower than any accepted under a key still
// trusted, an expiry still ahead, and a hash for every file.

#include <ctime>
#include <future>
#include <system_error>

#include "catalog/catalogue_trust.h"
#include "engine/catalogue_fetch.h"
#include "platform/crypto.h"

namespace toval {

std::optional<CatalogueRefusal> CatalogueFetch::CheckSigned(std::string_view bytes) {
    // The signature's hash and the look for the records kept for these bytes each read the
    // whole catalogue, and neither needs the other: on two cores a launch waits for one of them.
    // Only records this updater parsed itself are loaded before the signature holds; the bytes
    // are parsed after.
    const auto verify = [&] {
        return minisign::VerifyCatalogueSignature(*TrustedKeys, bytes, SignatureText);
    };
    std::future<minisign::Verification> beside;
    try {
        beside = std::async(std::launch::async, verify);
    } catch (const std::system_error&) {  // no second thread: one after the other
    }
    const CUpdateCatalog::KeptRecords kept = Catalog.LoadKeptRecords(bytes, StateDir);
    const minisign::Verification verified = beside.valid() ? beside.get() : verify();
    if (verified.Result != minisign::VerifyResult::Ok) {
        Catalog.Clear();
        return CatalogueRefusal::SignatureInvalid;
    }
    const std::optional<CatalogueRefusal> refusal = CheckSignedValues(verified, bytes, kept);
    if (refusal) Catalog.Clear();
    return refusal;
}

std::optional<CatalogueRefusal> CatalogueFetch::CheckSignedValues(
    const minisign::Verification& verified, std::string_view bytes,
    const CUpdateCatalog::KeptRecords& records) {
    const TrustedCommentValues values = ParseTrustedComment(verified.TrustedComment);
    if (values.Status != TrustedCommentStatus::Ok) return CatalogueRefusal::SignatureInvalid;

    // A catalogue for another product or channel, signed by the same key, is as foreign as one
    // signed by no trusted key: installing it would put other software on the player's disk.
    const ExpectedTarget expected = LoadExpectedTarget(ProgramDir, StateDir);
    if (expected.PublisherFileBad) return CatalogueRefusal::SignatureInvalid;
    if (expected.StateUnusable) return CatalogueRefusal::StateNotKept;
    if (!expected.Target.empty() && values.For != expected.Target)
        return CatalogueRefusal::SignatureInvalid;

    std::optional<SerialFloor> floor = SerialFloor::Load(StateDir);
    if (!floor) return CatalogueRefusal::StateNotKept;
    const auto now = static_cast<uint64_t>(std::time(nullptr));
    switch (CheckFreshness(values.Serial, values.Expires, now, floor->Value(*TrustedKeys))) {
        case Freshness::Rollback:
            return CatalogueRefusal::RolledBack;
        case Freshness::Expired:
            return CatalogueRefusal::Expired;
        case Freshness::Ok:
            break;
    }
    if (!records.Loaded && !Catalog.ParseAndKeep(bytes, StateDir, records))
        return CatalogueRefusal::Unreadable;
    if (Catalog.Count() == 0) return CatalogueRefusal::Unreadable;
    // Every file's bytes must be pinned by the signature, or one file could be anything.
    if (!Catalog.EveryEntryHashed()) return CatalogueRefusal::HashMissing;
    // A client that cannot keep its floor would accept any older catalogue next time, and one
    // that cannot keep what it learnt would accept any product: neither goes on.
    floor->Raise(verified.Id, values.Serial);
    bool kept = floor->Save(StateDir);
    if (kept && expected.From == ExpectedTarget::Source::Nothing && !values.For.empty())
        kept = SaveLearntTarget(StateDir, values.For);
    if (!kept) return CatalogueRefusal::StateNotKept;
    return std::nullopt;
}

}  // namespace toval
