#pragma once
// The names the updater gives its own files beside a client file while it works on it. No file
// of a client may carry one: a download, a patch or a resume record would then be written where
// a listed file stands, and that file renamed into place or run as if it were the listed one.

#include <array>
#include <string_view>

namespace toval {

// NAME.update: a download until it is installed over NAME. A name too long for the suffix is
// shortened, but keeps it.
inline constexpr std::string_view kUpdateSuffix = ".update";
// NAME.update-resume: where a partial NAME.update came from.
inline constexpr std::string_view kResumeSuffix = ".update-resume";
// NAME.toval-patch: the name a patch of NAME is fetched under, so it is written to
// NAME.toval-patch.update with its own resume record.
inline constexpr std::string_view kPatchSuffix = ".toval-patch";

inline constexpr std::array<std::string_view, 3> kReservedSuffixes = {kUpdateSuffix, kResumeSuffix,
                                                                      kPatchSuffix};

// A path part as Windows reads it: without the dots and blanks at its end, so ".toval-updater. "
// names the state directory there.
std::string_view AsWindowsReadsIt(std::string_view part);

// True when the file name (or path: only its end counts) ends with a reserved suffix, letter
// case aside, so that both systems refuse the same names.
bool IsUpdaterTemporaryName(std::string_view name);

}  // namespace toval
