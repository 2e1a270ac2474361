#pragma once
// What makes a correctly signed catalogue acceptable now: what it is for, which must be this
// client's product and channel (the same key signs every product and channel of the publisher,
// so a signature alone would let one stand in for another); its serial, which must never go back
// below one already accepted (an attacker could otherwise replay an old, validly signed
// catalogue with known holes); and its expiry, which bounds how long a server can keep players
// on a stale catalogue.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/minisign.h"

namespace toval {

enum class TrustedCommentStatus {
    Ok,
    MissingSerial,
    MissingExpires,
    BadSerial,  // not a decimal number of 64 bits without sign
    BadExpires,
    DuplicateSerial,
    DuplicateExpires,
    BadFor,  // not a target as CatalogueTarget writes one
    DuplicateFor,
};

struct TrustedCommentValues {
    TrustedCommentStatus Status = TrustedCommentStatus::Ok;
    uint64_t Serial = 0;   // when Ok
    uint64_t Expires = 0;  // Unix seconds, UTC; when Ok
    std::string For;       // when Ok; empty when the comment names no target (signed before)
};

// The words of a trusted comment, separated by blanks or tabs, that are "serial:N",
// "expires:T" and, optionally, "for:TARGET"; other words (minisign's own "timestamp:" and
// "file:") are left alone.
TrustedCommentValues ParseTrustedComment(std::string_view text);

// The target naming a product and, optionally, one of its channels: "PRODUCT" or
// "PRODUCT/CHANNEL", each part percent-encoded but for ASCII letters, digits and "-._~", so that
// a target is one word of the comment and no product can pass for another's channel.
std::string CatalogueTarget(std::string_view product, std::string_view channel);
bool IsCatalogueTarget(std::string_view word);

enum class Freshness { Ok, Rollback, Expired };

// A serial equal to the floor is the same catalogue fetched again and is accepted. A catalogue
// that is both is reported as a rollback. It expires at `expires` itself.
Freshness CheckFreshness(uint64_t serial, uint64_t expires, uint64_t now, uint64_t floor);

// A file of the state directory as the trust checks find it. A missing or damaged one is as
// good as none (deleting the state directory is always allowed); one that is there but cannot
// be read (a directory, a link, no permission) is Unusable: the client could not keep its
// records, and a check that silently forgot them would let every rollback through.
struct StateRecord {
    bool Usable = true;
    std::optional<std::string> Text;  // when usable and well-formed
};

// The state directory's file of serial floors.
inline constexpr std::string_view kSerialsFile = "serials";

// The serials accepted, kept in the state directory's "serials" file: one line per key, its id
// as minisign shows it and the highest serial accepted under it in decimal. A catalogue must
// meet one floor for the publisher, the highest serial accepted under any key still trusted:
// with two keys trusted while one replaces the other, a catalogue signed by either must not
// bring back what the other superseded; once a key is no longer trusted (stolen, say, and used
// to push serials to the far future) its serials count no more.
class SerialFloor {
  public:
    // Nothing when the file is Unusable.
    static std::optional<SerialFloor> Load(const std::string& stateDir);
    // Replaces the file in one step (a temporary file beside it, synced, renamed over it), so a
    // crash leaves either the old floors or the new ones; false when that failed.
    bool Save(const std::string& stateDir) const;

    uint64_t Value(const std::vector<minisign::PublicKey>& trusted) const;
    // Keeps the higher of the key's serial and `serial`.
    void Raise(const minisign::KeyId& id, uint64_t serial);

  private:
    std::map<minisign::KeyId, uint64_t> Serials;
};

// The publisher's file beside the program naming the target its catalogues are for.
inline constexpr std::string_view kExpectedTargetFile = "toval-updater.for";

// The target this client expects, from the publisher's file `toval-updater.for` beside the
// program when it is there, else from the state directory's "for", learnt from the first
// accepted catalogue that named one. Target empty: the client expects nothing yet.
struct ExpectedTarget {
    enum class Source { Nothing, Publisher, Learnt } From = Source::Nothing;
    std::string Target;
    bool PublisherFileBad = false;  // there, but unreadable or no target: nothing is trusted
    bool StateUnusable = false;
};
ExpectedTarget LoadExpectedTarget(const std::string& programDir, const std::string& stateDir);
bool SaveLearntTarget(const std::string& stateDir, std::string_view target);

}  // namespace toval
