// CurlFetch: one request with libcurl, for end-to-end tests: directly or through an HTTP proxy.
// Redirects are not followed, so a test sees them.
// One thread per call; libcurl's global set-up is done once per process.
#pragma once

#include <curl/curl.h>

#include <string>

namespace zelto::testing {

struct Fetched {
  CURLcode result = CURLE_OK;
  long status = 0;
  long connectStatus = 0;  // the proxy's answer to the CONNECT of an https URL
  std::string body;
  std::string location;
  std::string error;
};

inline Fetched curlFetch(const std::string& url, const std::string& proxy = "") {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  Fetched out;
  if (!initialised) {
    out.result = CURLE_FAILED_INIT;
    return out;
  }
  CURL* curl = curl_easy_init();
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
  // The environment's proxy settings never apply: only the one the test names.
  curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* body) {
        static_cast<std::string*>(body)->append(data, size * count);
        return size * count;
      });
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &out.body);
  out.result = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &out.status);
  curl_easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &out.connectStatus);
  char* location = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location) {
    out.location = location;
  }
  out.error = error;
  curl_easy_cleanup(curl);
  return out;
}

}  // namespace zelto::testing
