#include "net/network_library.h"

#include <curl/curl.h>

namespace toval {

NetworkLibrary::NetworkLibrary() : IsStarted(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}

NetworkLibrary::~NetworkLibrary() {
    if (IsStarted) curl_global_cleanup();
}

}  // namespace toval
