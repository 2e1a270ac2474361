#pragma once
// Fetching the catalogue and deciding whether to trust it: in signed mode the signature first,
// then the catalogue checked against it; the copy kept from an earlier launch reused on a 304
// answer; the trust checks. It yields the next transfer to queue, an accepted catalogue (loaded
// into the run's CUpdateCatalog) or a refusal with its text, never a half-read catalogue.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/CServerList.h"
#include "catalog/CUpdateCatalog.h"
#include "catalog/minisign.h"
#include "engine/CDownloadQueue.h"
#include "engine/kept_catalogue.h"

namespace toval {

// A catalogue's signature is a few hundred bytes.
inline constexpr uint64_t kSignatureMaxBytes = 16 << 10;
// The keys file beside the program whose presence puts the updater in signed mode.
inline constexpr std::string_view kTrustedKeysFile = "toval-updater.pub";

// Why a catalogue is not used.
enum class CatalogueRefusal {
    TransferFailed,    // its transfer (or its signature's) failed: the transfer's error says why
    SignatureMissing,  // signed mode: no signature could be fetched
    SignatureInvalid,  // not signed by a trusted key, or its trusted comment is malformed
    RolledBack,        // older than one already accepted
    Expired,
    HashMissing,   // signed, but a file has no Sha256
    Unreadable,    // no catalogue (an error page, an empty list, a damaged copy)
    StateNotKept,  // signed mode: the serial floor or the learnt target cannot be read or saved
};

// The cause in the publisher's terms, for the run's log: the player's texts send everyone to the
// official site, whatever the publisher got wrong.
std::string_view RefusalCause(CatalogueRefusal why);

// What came of a catalogue-side transfer.
struct CatalogueStep {
    enum class Kind {
        Next,      // another transfer is to be queued: Transfer
        Accepted,  // the catalogue is loaded and trusted
        Refused,   // the run ends: Why says why
    };
    Kind What = Kind::Refused;
    QueuedTransfer Transfer;
    CatalogueRefusal Why = CatalogueRefusal::Unreadable;
    std::string TransferError;  // TransferFailed: the transfer's error text
};

// The text a player is shown for a refusal.
std::string RefusalText(const CatalogueStep& step);

class CatalogueFetch {
  public:
    using StatusSink = std::function<void(const std::string&)>;
    using DebugSink = std::function<void(const std::string&)>;

    CatalogueFetch(CUpdateCatalog& catalog, StatusSink status, DebugSink debug);

    // Signed mode when toval-updater.pub stands in `programDir`.
    void LoadTrustedKeys(const std::string& programDir);
    bool SignedMode() const { return TrustedKeys.has_value(); }
    // Without the keys file, true when `stateDir` shows that this client has accepted signed
    // catalogues: the file was lost or removed, and obeying unsigned catalogues now would hand
    // the client to whoever answers in the server's place.
    bool KeysLost(const std::string& stateDir) const;
    // The first transfer of a fetch from `server`: its signature in signed mode, else the
    // catalogue itself. `stateDir` holds the kept copy.
    QueuedTransfer Begin(const CServerEntry& server, const std::string& stateDir);
    // `item`, a transfer this made, has ended. `keep`: the accepted catalogue may be kept for the
    // next launch (this run holds the client directory).
    CatalogueStep Completed(QueuedTransfer& item, const CServerEntry* server, bool keep);
    // The URL of the catalogue accepted last (patches are named relative to it).
    const std::string& AcceptedUrl() const { return Accepted; }

  private:
    // The catalogue from `server`; after a signature, from the server that gave the signature
    // (`signedAt`, the catalogue's URL there), and from no other.
    QueuedTransfer CatalogueTransfer(const CServerEntry& server,
                                     const std::string& signedAt = std::string());
    CatalogueStep SignatureCompleted(QueuedTransfer& item, const CServerEntry* server);
    CatalogueStep CatalogueCompleted(QueuedTransfer& item, const CServerEntry* server, bool keep);
    // Signed mode: the reason the catalogue `bytes` must be refused, or nothing; on acceptance
    // the catalogue is loaded and its serial kept as the key's new floor.
    std::optional<CatalogueRefusal> CheckSigned(std::string_view bytes);
    // The rest of the check once the signature holds; `records` are those kept for the bytes.
    std::optional<CatalogueRefusal> CheckSignedValues(const minisign::Verification& verified,
                                                      std::string_view bytes,
                                                      const CUpdateCatalog::KeptRecords& records);
    static CatalogueStep Refuse(QueuedTransfer& item, CatalogueRefusal why);
    // The kept catalogue, with its mirrors only when they may serve a fetch of the catalogue.
    std::optional<KeptCatalogue> KeptForFallback() const;
    // Records in the state directory that a signed catalogue was accepted.
    void MarkSigned();

    CUpdateCatalog& Catalog;
    StatusSink Status;
    DebugSink Debug;
    std::string StateDir;
    std::string ProgramDir;
    // Signed mode when set (possibly empty: a keys file that holds no usable key trusts nothing).
    std::optional<std::vector<minisign::PublicKey>> TrustedKeys;
    std::string SignatureText;  // the signature of the catalogue being fetched
    std::string Accepted;
};

}  // namespace toval
