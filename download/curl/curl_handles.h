// Owning wrappers for the libcurl handles this client holds, and the one
// process-wide initialisation libcurl needs before any of them exists.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace updater::curl {

struct EasyDeleter {
  void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};

using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// curl_global_init, run once for the process whatever thread gets here
// first; false when it failed (then no handle may be made). Never cleaned
// up: a worker may still hold handles while the process ends.
bool GlobalInitOnce();

}  // namespace updater::curl
