#include "Platform/Linux/CurlLibrary.h"

#include <dlfcn.h>

#include <string>

#include "Platform/Log.h"

namespace zelto {

namespace {

// The run-time name of the libcurl the program is built against (its ABI has kept soname 4).
constexpr const char* kLibraryName = "libcurl.so.4";

template <typename Function>
Status resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  if (function != nullptr) return Status::success();
  return Status::unavailable(std::string(kLibraryName) + " has no " + name);
}

Result<const CurlLibrary*> loadLibrary() {
  void* library = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = ::dlerror();
    return Status::unavailable(why != nullptr ? why : std::string("cannot load ") + kLibraryName);
  }
  static CurlLibrary curl{};
  // The library stays loaded when a function is missing: harmless, and never retried.
  for (Status resolved : {resolve(library, "curl_global_init", curl.global_init),
                          resolve(library, "curl_easy_init", curl.easy_init),
                          resolve(library, "curl_easy_cleanup", curl.easy_cleanup),
                          resolve(library, "curl_easy_setopt", curl.easy_setopt),
                          resolve(library, "curl_easy_getinfo", curl.easy_getinfo),
                          resolve(library, "curl_easy_strerror", curl.easy_strerror),
                          resolve(library, "curl_slist_append", curl.slist_append),
                          resolve(library, "curl_slist_free_all", curl.slist_free_all),
                          resolve(library, "curl_multi_init", curl.multi_init),
                          resolve(library, "curl_multi_cleanup", curl.multi_cleanup),
                          resolve(library, "curl_multi_add_handle", curl.multi_add_handle),
                          resolve(library, "curl_multi_remove_handle", curl.multi_remove_handle),
                          resolve(library, "curl_multi_perform", curl.multi_perform),
                          resolve(library, "curl_multi_poll", curl.multi_poll),
                          resolve(library, "curl_multi_wakeup", curl.multi_wakeup),
                          resolve(library, "curl_multi_info_read", curl.multi_info_read)}) {
    if (!resolved.ok()) return resolved;
  }
  if (CURLcode code = curl.global_init(CURL_GLOBAL_DEFAULT); code != CURLE_OK) {
    return Status::unavailable(std::string("curl_global_init failed: ") + curl.easy_strerror(code));
  }
  return &curl;
}

}  // namespace

const Result<const CurlLibrary*>& CurlLibrary::load() {
  static const Result<const CurlLibrary*> loaded = [] {
    Result<const CurlLibrary*> library = loadLibrary();
    if (!library.ok()) {
      log::error("URLs and web requests are unavailable: {}", library.status().message());
    }
    return library;
  }();
  return loaded;
}

}  // namespace zelto
