#pragma once
// Owners of the libcurl handles a transfer uses; each handle is freed exactly once, on every path.

#include <curl/curl.h>

#include <memory>

namespace toval {

struct CurlEasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct CurlMultiDeleter {
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
struct CurlSlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct CurlUrlDeleter {
    void operator()(CURLU* h) const { curl_url_cleanup(h); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// A header list; Append keeps the list intact when libcurl cannot allocate the new node.
class CurlSlist {
  public:
    bool Append(const char* line) {
        curl_slist* grown = curl_slist_append(List.get(), line);
        if (!grown) return false;
        List.release();
        List.reset(grown);
        return true;
    }
    curl_slist* Get() const { return List.get(); }

  private:
    std::unique_ptr<curl_slist, CurlSlistDeleter> List;
};

}  // namespace toval
