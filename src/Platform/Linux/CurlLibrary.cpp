#include "Platform/Linux/CurlLibrary.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

#include "Platform/Log.h"

namespace zelto {

namespace {

// The run-time name of the libcurl the program is built against (its ABI has kept soname 4).
constexpr const char* kLibraryName = "libcurl.so.4";

std::string& error() {
  static std::string text;
  return text;
}

template <typename Function>
bool resolve(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(library, name));
  if (function != nullptr) return true;
  error() = std::string(kLibraryName) + " has no " + name;
  return false;
}

const CurlLibrary* load() {
  void* library = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = ::dlerror();
    error() = why != nullptr ? why : std::string("cannot load ") + kLibraryName;
    return nullptr;
  }
  static CurlLibrary curl{};
  const bool complete = resolve(library, "curl_global_init", curl.global_init) &&
                        resolve(library, "curl_easy_init", curl.easy_init) &&
                        resolve(library, "curl_easy_cleanup", curl.easy_cleanup) &&
                        resolve(library, "curl_easy_setopt", curl.easy_setopt) &&
                        resolve(library, "curl_easy_getinfo", curl.easy_getinfo) &&
                        resolve(library, "curl_easy_strerror", curl.easy_strerror) &&
                        resolve(library, "curl_slist_append", curl.slist_append) &&
                        resolve(library, "curl_slist_free_all", curl.slist_free_all) &&
                        resolve(library, "curl_multi_init", curl.multi_init) &&
                        resolve(library, "curl_multi_cleanup", curl.multi_cleanup) &&
                        resolve(library, "curl_multi_add_handle", curl.multi_add_handle) &&
                        resolve(library, "curl_multi_remove_handle", curl.multi_remove_handle) &&
                        resolve(library, "curl_multi_perform", curl.multi_perform) &&
                        resolve(library, "curl_multi_poll", curl.multi_poll) &&
                        resolve(library, "curl_multi_wakeup", curl.multi_wakeup) &&
                        resolve(library, "curl_multi_info_read", curl.multi_info_read);
  if (!complete) return nullptr;  // the library stays loaded: harmless, and never retried
  if (CURLcode code = curl.global_init(CURL_GLOBAL_DEFAULT); code != CURLE_OK) {
    error() = std::string("curl_global_init failed: ") + curl.easy_strerror(code);
    return nullptr;
  }
  return &curl;
}

}  // namespace

const CurlLibrary* CurlLibrary::get() {
  static std::once_flag once;
  static const CurlLibrary* loaded = nullptr;
  std::call_once(once, [] {
    loaded = load();
    if (loaded == nullptr) log::error("URLs and web requests are unavailable: {}", error());
  });
  return loaded;
}

const char* CurlLibrary::loadError() {
  get();
  return error().c_str();
}

}  // namespace zelto
