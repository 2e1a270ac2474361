#pragma once
// What makes a correctly signed catalogue acceptable now: its serial, which must never go back
// below one already accepted from the same key (an attacker could otherwise replay an old,
// validly signed catalogue with known holes), and its expiry, which bounds how long a server can
// keep players on a stale catalogue.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

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
};

struct TrustedCommentValues {
    TrustedCommentStatus Status = TrustedCommentStatus::Ok;
    uint64_t Serial = 0;   // when Ok
    uint64_t Expires = 0;  // Unix seconds, UTC; when Ok
};

// The words of a trusted comment, separated by blanks or tabs, that are "serial:N" and
// "expires:T"; other words (minisign's own "timestamp:" and "file:") are left alone.
TrustedCommentValues ParseTrustedComment(std::string_view text);

enum class Freshness { Ok, Rollback, Expired };

// A serial equal to the floor is the same catalogue fetched again and is accepted. A catalogue
// that is both is reported as a rollback. It expires at `expires` itself.
Freshness CheckFreshness(uint64_t serial, uint64_t expires, uint64_t now, uint64_t floor);

// The highest serial accepted from each key, kept in the state directory's "serials" file: one
// line per key, its id as minisign shows it and the serial in decimal.
class SerialFloors {
  public:
    // A missing, unreadable or damaged file counts as empty.
    static SerialFloors Load(const std::string& stateDir);
    // Replaces the file in one step (a temporary file beside it, synced, renamed over it), so a
    // crash leaves either the old floors or the new ones; false when that failed.
    bool Save(const std::string& stateDir) const;

    uint64_t Floor(const minisign::KeyId& id) const;  // 0 for a key not seen yet
    // Keeps the higher of the floor and `serial`.
    void Raise(const minisign::KeyId& id, uint64_t serial);

  private:
    std::map<minisign::KeyId, uint64_t> Floors;
};

}  // namespace toval
