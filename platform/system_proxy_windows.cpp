#include "platform/system_proxy.h"

// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "platform/wide_text.h"

namespace toval {
namespace {

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = FoldAscii(c);
    return out;
}

// What the settings are matched against: the scheme and host folded, the port always spelled
// out, as Internet Options compares them.
struct Target {
    std::string Scheme;
    std::string Host;  // an IPv6 address without its brackets
    std::string Port;
};

std::optional<Target> TargetOf(std::string_view url) {
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos || schemeEnd == 0) return std::nullopt;
    Target target;
    target.Scheme = Folded(url.substr(0, schemeEnd));
    std::string_view authority = url.substr(schemeEnd + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority, port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = authority.substr(1, close - 1);
        if (authority.substr(close + 1).starts_with(':')) port = authority.substr(close + 2);
    } else if (const auto colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) return std::nullopt;
    target.Host = Folded(host);
    target.Port = !port.empty() ? std::string(port) : target.Scheme == "https" ? "443" : "80";
    return target;
}

// libcurl reads the variables of the URL's own scheme, all_proxy and no_proxy; Windows ignores
// the case of a variable's name, so one spelling finds HTTP_PROXY as well. An empty value counts
// as unset, as it does for libcurl.
bool EnvironmentDecides(const std::string& scheme) {
    const std::string names[] = {scheme + "_proxy", "all_proxy", "no_proxy"};
    for (const std::string& name : names) {
        char value[2];
        if (GetEnvironmentVariableA(name.c_str(), value, sizeof value) > 0) return true;
    }
    return false;
}

// The entries of a proxy or exception list: WinINet writes ';' between them, WinHTTP also
// accepts white space.
std::vector<std::string_view> Entries(std::string_view list) {
    std::vector<std::string_view> entries;
    while (!list.empty()) {
        const auto end = list.find_first_of("; \t\r\n");
        if (end != 0) entries.push_back(list.substr(0, end));
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);
    }
    return entries;
}

// Internet Options' wildcard: '*' stands for any run of characters, letters match in either case.
bool WildcardMatches(std::string_view pattern, std::string_view text) {
    size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && FoldAscii(pattern[p]) == FoldAscii(text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool IsLoopback(const std::string& host) {
    return host == "localhost" || host == "::1" ||
           (host.starts_with("127.") && host.find_first_not_of("0123456789.") == std::string::npos);
}

// Windows sends loopback addresses past the proxy unless the exceptions say "<-loopback>".
bool LoopbackGoesDirect(std::string_view bypass) {
    for (std::string_view entry : Entries(bypass)) {
        if (EqualsIgnoringAsciiCase(entry, "<-loopback>")) return false;
    }
    return true;
}

// An exception is "<local>" (a host name without a dot), or a host pattern with an optional
// "scheme://" before it and ":port" after it, each of which must then match too.
bool Bypassed(std::string_view bypass, const Target& target) {
    for (std::string_view entry : Entries(bypass)) {
        if (EqualsIgnoringAsciiCase(entry, "<local>")) {
            if (target.Host.find_first_of(".:") == std::string::npos) return true;
            continue;
        }
        if (const auto schemeEnd = entry.find("://"); schemeEnd != std::string_view::npos) {
            if (!EqualsIgnoringAsciiCase(entry.substr(0, schemeEnd), target.Scheme)) continue;
            entry.remove_prefix(schemeEnd + 3);
        }
        std::string_view host = entry, port;
        if (entry.starts_with('[')) {
            const auto close = entry.find(']');
            host = entry.substr(1, close == std::string_view::npos ? close : close - 1);
            if (close != std::string_view::npos && entry.substr(close + 1).starts_with(':')) {
                port = entry.substr(close + 2);
            }
        } else if (const auto colon = entry.find(':');
                   colon != std::string_view::npos && entry.find(':', colon + 1) == entry.npos) {
            host = entry.substr(0, colon);
            port = entry.substr(colon + 1);
        }
        if (!port.empty() && port != target.Port) continue;
        if (WildcardMatches(host, target.Host)) return true;
    }
    return false;
}

// A proxy as libcurl takes it. Internet Options holds "host:port"; a proxy given without a port
// listens on 80 there, where libcurl would try 1080.
std::string ProxyUrl(std::string_view entry, std::string_view scheme, bool addPort) {
    if (entry.find("://") != std::string_view::npos) return std::string(entry);
    std::string url = std::string(scheme) + "://" + std::string(entry);
    const auto close = entry.rfind(']');
    const auto colon = entry.rfind(':');
    const bool hasPort =
        colon != std::string_view::npos &&
        (close == std::string_view::npos ? entry.find(':') == colon : colon > close);
    if (addPort && !hasPort) url += ":80";
    return url;
}

// The proxy of `scheme` in a list: "host:port" for every scheme, or "http=host:port;https=..."
// per scheme, where a scheme without an entry goes direct unless a SOCKS proxy ("socks=", which
// Internet Options speaks as version 4) serves the rest. Automatic configuration may give several
// proxies to try in turn, or DIRECT: the first counts. Empty: direct.
std::string ProxyFromList(std::string_view list, const std::string& scheme) {
    std::optional<std::string_view> any, own, socks;
    for (std::string_view entry : Entries(list)) {
        const auto equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (!any) any = entry;
            continue;
        }
        const std::string_view name = entry.substr(0, equals), value = entry.substr(equals + 1);
        if (value.empty()) continue;
        if (!own && EqualsIgnoringAsciiCase(name, scheme)) own = value;
        if (!socks && EqualsIgnoringAsciiCase(name, "socks")) socks = value;
    }
    if (own) return ProxyUrl(*own, "http", true);
    if (any) return EqualsIgnoringAsciiCase(*any, "DIRECT") ? "" : ProxyUrl(*any, "http", true);
    if (socks) return ProxyUrl(*socks, "socks4", false);
    return "";
}

// WinHTTP hands out its strings from GlobalAlloc; each is copied and freed at once.
std::string TakeText(LPWSTR& text) {
    std::string out = text ? Narrow(text) : std::string();
    if (text) GlobalFree(text);
    text = nullptr;
    return out;
}

struct Settings {
    bool AutoDetect = false;
    std::string AutoConfigUrl;
    std::string Proxy;
    std::string Bypass;
};

// Read on every call: it is a look into the registry, and the player may change it while the
// updater runs.
std::optional<Settings> ReadSettings() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG raw{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&raw)) return std::nullopt;
    Settings settings;
    settings.AutoDetect = raw.fAutoDetect;
    settings.AutoConfigUrl = TakeText(raw.lpszAutoConfigUrl);
    settings.Proxy = TakeText(raw.lpszProxy);
    settings.Bypass = TakeText(raw.lpszProxyBypass);
    if (!settings.AutoDetect && settings.AutoConfigUrl.empty() && settings.Proxy.empty()) {
        return std::nullopt;
    }
    return settings;
}

struct CloseInternet {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, CloseInternet>;

// Automatic configuration answers slowly (detection asks DHCP and DNS, the script is fetched and
// run), so each answer is kept for the run, one per configuration, scheme and host; and a
// configuration that failed once is not tried again, since each try can cost seconds.
class AutomaticConfiguration {
  public:
    // The proxy the configuration gives for `url` ("" to go direct); nothing when it gives none.
    std::optional<std::string> ProxyFor(const std::string& url, const Target& target,
                                        const Settings& settings) {
        const std::string configuration =
            (settings.AutoDetect ? "detect " : "") + settings.AutoConfigUrl;
        const std::string key =
            configuration + '\n' + target.Scheme + "://" + target.Host + ':' + target.Port;
        std::lock_guard lock(Mutex);
        if (Failed.contains(configuration)) return std::nullopt;
        if (const auto known = Answers.find(key); known != Answers.end()) return known->second;
        const std::optional<std::string> answer = Ask(url, target, settings);
        if (answer) {
            Answers.emplace(key, *answer);
        } else {
            Failed.insert(configuration);
        }
        return answer;
    }

  private:
    std::optional<std::string> Ask(const std::string& url, const Target& target,
                                   const Settings& settings) {
        if (!Session) {
            Session.reset(WinHttpOpen(L"toval-updater", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
            if (!Session) return std::nullopt;
            // Bounds fetching the script where WinHTTP applies the session's limits to it.
            WinHttpSetTimeouts(Session.get(), 5000, 5000, 10000, 10000);
        }
        WINHTTP_AUTOPROXY_OPTIONS options{};
        const std::wstring configUrl = Widen(settings.AutoConfigUrl);
        if (settings.AutoDetect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags =
                WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        if (!configUrl.empty()) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = configUrl.c_str();
        }
        // A script behind the company's login is fetched with the player's own credentials.
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info{};
        if (!WinHttpGetProxyForUrl(Session.get(), Widen(url).c_str(), &options, &info)) {
            return std::nullopt;
        }
        const std::string proxy = TakeText(info.lpszProxy);
        const std::string bypass = TakeText(info.lpszProxyBypass);
        if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || Bypassed(bypass, target)) {
            return "";
        }
        return ProxyFromList(proxy, target.Scheme);
    }

    std::mutex Mutex;
    InternetHandle Session;
    std::map<std::string, std::string> Answers;
    std::set<std::string> Failed;
};

AutomaticConfiguration& Automatic() {
    static AutomaticConfiguration automatic;
    return automatic;
}

}  // namespace

// As Internet Explorer applies the settings: automatic configuration first, the fixed proxy and
// its exceptions when it gives no answer.
std::optional<std::string> SystemProxyFor(const std::string& url) {
    const std::optional<Target> target = TargetOf(url);
    if (!target || EnvironmentDecides(target->Scheme)) return std::nullopt;
    const std::optional<Settings> settings = ReadSettings();
    if (!settings) return std::nullopt;
    if (IsLoopback(target->Host) && LoopbackGoesDirect(settings->Bypass)) return "";
    if (settings->AutoDetect || !settings->AutoConfigUrl.empty()) {
        if (auto found = Automatic().ProxyFor(url, *target, *settings)) return found;
    }
    if (Bypassed(settings->Bypass, *target)) return "";
    return ProxyFromList(settings->Proxy, target->Scheme);
}

}  // namespace toval
