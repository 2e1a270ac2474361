#pragma once
// The layout of the small files the updater keeps between runs (the action journal, the kept
// catalogue's validators, a partial download's resume information): a header line naming the
// file's kind and layout, then its fields, each written with its length first so that it may
// hold any byte, blanks and line breaks included, then a line with the SHA-256 of everything
// before it. A file cut short, torn or changed in any byte is refused whole, never read in part.
// The serial floors keep their plain lines, which every earlier version reads (one that could
// not would count its floors as none), and the hash cache its fixed-size records, which an
// install appends to.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace toval {

// `header` is one line without its line break, such as "toval-updater actions 1".
std::string FormatStateRecord(std::string_view header, const std::vector<std::string_view>& fields);

// The fields of a record FormatStateRecord wrote with `header`; nothing when `text` has another
// header or is damaged in any way.
std::optional<std::vector<std::string>> ParseStateRecord(std::string_view text,
                                                         std::string_view header);

}  // namespace toval
