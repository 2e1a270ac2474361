#include "platform/reserved_names.h"

#include "platform/text.h"

namespace toval {

bool IsUpdaterTemporaryName(std::string_view name) {
    // Windows drops dots and blanks from the end of a name, so "x.update. " is "x.update" there.
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
    for (const std::string_view suffix : kReservedSuffixes) {
        if (name.size() >= suffix.size() &&
            EqualsIgnoringAsciiCase(name.substr(name.size() - suffix.size()), suffix))
            return true;
    }
    return false;
}

std::string_view AsWindowsReadsIt(std::string_view part) {
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
    return part;
}

}  // namespace toval
