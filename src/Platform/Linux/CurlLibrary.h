// CurlLibrary: libcurl, loaded the first time something needs it.
//
// The agent spends its life without sending a request or parsing a URL, and libcurl brings a
// long chain of libraries with it (TLS, Kerberos, LDAP, SSH ...), megabytes of resident pages
// for nothing. So the program is not linked against libcurl: `get` loads it with dlopen on first
// use and resolves the few functions the program calls, which are then called through this
// table as they would be directly. The first use also runs curl_global_init.
//
// Ownership: one table for the process, never unloaded. Threads: any; the first `get` loads
// under a once-flag.
#pragma once

#include <curl/curl.h>

#include "Platform/Status.h"

namespace zelto {

struct CurlLibrary {
  CURLcode (*global_init)(long flags);
  CURL* (*easy_init)();
  void (*easy_cleanup)(CURL*);
  CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
  CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
  const char* (*easy_strerror)(CURLcode);
  curl_slist* (*slist_append)(curl_slist*, const char*);
  void (*slist_free_all)(curl_slist*);
  CURLM* (*multi_init)();
  CURLMcode (*multi_cleanup)(CURLM*);
  CURLMcode (*multi_add_handle)(CURLM*, CURL*);
  CURLMcode (*multi_remove_handle)(CURLM*, CURL*);
  CURLMcode (*multi_perform)(CURLM*, int*);
  CURLMcode (*multi_poll)(CURLM*, curl_waitfd*, unsigned int, int, int*);
  CURLMcode (*multi_wakeup)(CURLM*);
  CURLMsg* (*multi_info_read)(CURLM*, int*);

  // The loaded library, initialised; a failure (logged once as an error) when it can't be
  // loaded, lacks a function or can't be initialised. The same answer for the life of the
  // process.
  static const Result<const CurlLibrary*>& load();
  // The loaded library; nothing when `load` failed.
  static const CurlLibrary* get() { return load().valueOr(nullptr); }
};

}  // namespace zelto
