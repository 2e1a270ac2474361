#include "net/derived_urls.h"

#include <curl/curl.h>

#include <cstring>

#include "net/curl_handles.h"

namespace toval {

namespace {

// A part of a parsed URL; empty when it is absent.
std::string Part(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK || !text) return {};
    std::string value(text);
    curl_free(text);
    return value;
}

}  // namespace

std::optional<std::string> UrlOnMirror(const std::string& url, const std::string& origin) {
    CurlUrl mirror(curl_url());
    CurlUrl target(curl_url());
    if (!mirror || !target) return std::nullopt;
    if (curl_url_set(mirror.get(), CURLUPART_URL, origin.c_str(), 0) != CURLUE_OK ||
        curl_url_set(target.get(), CURLUPART_URL, url.c_str(), CURLU_URLENCODE) != CURLUE_OK)
        return std::nullopt;
    const std::string scheme = Part(mirror.get(), CURLUPART_SCHEME);
    if (scheme != "http" && scheme != "https") return std::nullopt;
    // Only the server is taken from a mirror: a path, query or credentials in its origin would
    // send the file somewhere the catalogue does not say.
    if (Part(mirror.get(), CURLUPART_PATH) != "/" || !Part(mirror.get(), CURLUPART_QUERY).empty() ||
        !Part(mirror.get(), CURLUPART_FRAGMENT).empty() ||
        !Part(mirror.get(), CURLUPART_USER).empty() ||
        !Part(mirror.get(), CURLUPART_PASSWORD).empty() || origin.back() == '/')
        return std::nullopt;
    const std::string host = Part(mirror.get(), CURLUPART_HOST);
    const std::string port = Part(mirror.get(), CURLUPART_PORT);
    if (host.empty() ||
        curl_url_set(target.get(), CURLUPART_SCHEME, scheme.c_str(), 0) != CURLUE_OK ||
        curl_url_set(target.get(), CURLUPART_HOST, host.c_str(), 0) != CURLUE_OK ||
        curl_url_set(target.get(), CURLUPART_PORT, port.empty() ? nullptr : port.c_str(), 0) !=
            CURLUE_OK)
        return std::nullopt;
    std::string result = Part(target.get(), CURLUPART_URL);
    if (result.empty()) return std::nullopt;
    return result;
}

std::optional<std::string> ResolveUrl(const std::string& base, const std::string& reference) {
    CurlUrl url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, reference.c_str(), CURLU_URLENCODE) != CURLUE_OK)
        return std::nullopt;
    const std::string scheme = Part(url.get(), CURLUPART_SCHEME);
    if (scheme != "http" && scheme != "https") return std::nullopt;
    std::string result = Part(url.get(), CURLUPART_URL);
    if (result.empty()) return std::nullopt;
    return result;
}

}  // namespace toval
