#include "net/network_library.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdlib>

#include "net/network_loop.h"

namespace toval {

namespace {

std::atomic<NetworkLoop*> Current{nullptr};

// Read once, at the start: the environment of a process with threads is not to be read again.
// Held in a function so that a library started by another file's static object finds it made.
struct Certificates {
    std::string File;
    std::string Directory;
};
Certificates& Trust() {
    static Certificates trust;
    return trust;
}

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A TLS library with no directory store (Windows' own) leaves the directory unused.
bool DirectorySet(CURL* easy) {
    const CURLcode set = curl_easy_setopt(easy, CURLOPT_CAPATH, Trust().Directory.c_str());
    return set == CURLE_OK || set == CURLE_NOT_BUILT_IN || set == CURLE_UNKNOWN_OPTION;
}

}  // namespace

// On Windows the default start includes Winsock's (WSAStartup), whose failure is the start's.
NetworkLibrary::NetworkLibrary() : IsStarted(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {
    if (!IsStarted) return;
    Trust() = {Variable("SSL_CERT_FILE"), Variable("SSL_CERT_DIR")};
    OwnLoop = std::make_unique<NetworkLoop>();
    Current.store(OwnLoop.get());
}

NetworkLibrary::~NetworkLibrary() {
    NetworkLoop* own = OwnLoop.get();
    Current.compare_exchange_strong(own, nullptr);
    OwnLoop.reset();
    if (IsStarted) curl_global_cleanup();
}

NetworkLoop* NetworkLibrary::Loop() { return Current.load(); }

bool NetworkLibrary::TrustFrom(CURL* easy) {
    const Certificates& trust = Trust();
    return (trust.File.empty() ||
            curl_easy_setopt(easy, CURLOPT_CAINFO, trust.File.c_str()) == CURLE_OK) &&
           (trust.Directory.empty() || DirectorySet(easy));
}

bool NetworkLibrary::DecodesGzip() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info && (info->features & CURL_VERSION_LIBZ) != 0;
}

}  // namespace toval
