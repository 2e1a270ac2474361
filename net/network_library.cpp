#include "net/network_library.h"

#include <curl/curl.h>

#include <atomic>
#include <mutex>

namespace toval {

namespace {

// One lock per kind of shared data, as libcurl asks for; transfers run on threads of their own.
std::mutex ShareLocks[CURL_LOCK_DATA_LAST];
std::atomic<CURLSH*> Current{nullptr};

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void*) {
    if (data >= 0 && data < CURL_LOCK_DATA_LAST) ShareLocks[data].lock();
}

void UnlockShare(CURL*, curl_lock_data data, void*) {
    if (data >= 0 && data < CURL_LOCK_DATA_LAST) ShareLocks[data].unlock();
}

}  // namespace

// On Windows the default start includes Winsock's (WSAStartup), whose failure is the start's.
NetworkLibrary::NetworkLibrary() : IsStarted(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {
    if (!IsStarted) return;
    Share = curl_share_init();
    const bool configured =
        Share && curl_share_setopt(Share, CURLSHOPT_LOCKFUNC, LockShare) == CURLSHE_OK &&
        curl_share_setopt(Share, CURLSHOPT_UNLOCKFUNC, UnlockShare) == CURLSHE_OK &&
        curl_share_setopt(Share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) == CURLSHE_OK &&
        curl_share_setopt(Share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK;
    if (!configured && Share) {
        curl_share_cleanup(Share);
        Share = nullptr;
    }
    Current.store(Share);
}

NetworkLibrary::~NetworkLibrary() {
    if (Current.load() == Share) Current.store(nullptr);
    if (Share) curl_share_cleanup(Share);
    if (IsStarted) curl_global_cleanup();
}

CURLSH* NetworkLibrary::SharedConnections() { return Current.load(); }

bool NetworkLibrary::DecodesGzip() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info && (info->features & CURL_VERSION_LIBZ) != 0;
}

}  // namespace toval
