#include "platform/state_record.h"

#include <cstdint>

#include "platform/crypto.h"
#include "platform/text.h"

namespace toval {

namespace {

constexpr std::string_view kSumPrefix = "sum ";
constexpr std::size_t kSumLineBytes = kSumPrefix.size() + 64 + 1;

std::string SumOf(std::string_view body) {
    const std::optional<Sha256Digest> digest = Sha256Of(body);
    // Without a sum the record is written all the same, and refused when read.
    return digest ? ToHex(digest->data(), digest->size()) : std::string();
}

// At most ten digits of length: far more than any state file holds, and a length that fits
// a size_t of 32 bits is checked.
std::optional<std::string_view> TakeField(std::string_view& in) {
    const std::size_t colon = in.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 10) return std::nullopt;
    const std::optional<uint64_t> length = ParseUnsignedDecimal(in.substr(0, colon));
    if (!length || *length > SIZE_MAX) return std::nullopt;
    const auto size = static_cast<std::size_t>(*length);
    in.remove_prefix(colon + 1);
    if (in.size() < size + 1 || in[size] != '\n') return std::nullopt;
    const std::string_view field = in.substr(0, size);
    in.remove_prefix(size + 1);
    return field;
}

}  // namespace

std::string FormatStateRecord(std::string_view header,
                              const std::vector<std::string_view>& fields) {
    std::string body(header);
    body += '\n';
    for (const std::string_view field : fields) {
        body += std::to_string(field.size());
        body += ':';
        body += field;
        body += '\n';
    }
    return body + std::string(kSumPrefix) + SumOf(body) + "\n";
}

std::optional<std::vector<std::string>> ParseStateRecord(std::string_view text,
                                                         std::string_view header) {
    if (text.size() < kSumLineBytes) return std::nullopt;
    const std::string_view body = text.substr(0, text.size() - kSumLineBytes);
    const std::string_view sumLine = text.substr(body.size());
    if (!sumLine.starts_with(kSumPrefix) || sumLine.back() != '\n' ||
        sumLine.substr(kSumPrefix.size(), 64) != SumOf(body))
        return std::nullopt;
    if (!body.starts_with(header) || body.size() == header.size() || body[header.size()] != '\n')
        return std::nullopt;
    std::string_view in = body.substr(header.size() + 1);
    std::vector<std::string> fields;
    while (!in.empty()) {
        const std::optional<std::string_view> field = TakeField(in);
        if (!field) return std::nullopt;
        fields.emplace_back(*field);
    }
    return fields;
}

}  // namespace toval
