// The connectivity probe's request over libcurl: one bare HEAD "/", direct, short time-outs,
// any answer counts.

#include <curl/curl.h>

#include <memory>
#include <string>

#include "os/posix/curl_common.h"
#include "os/system.h"

namespace zv {

namespace {

// Name resolution and connect share libcurl's connect phase; send and receive its rest.
constexpr long kPhaseTimeoutMs = 2000;
constexpr long kConnectPhaseMs = 2 * kPhaseTimeoutMs;
constexpr long kWholeRequestMs = 4 * kPhaseTimeoutMs;

size_t Discard(char*, size_t size, size_t n, void*) {
  return size * n;
}

class CurlUrlTester : public IUrlTester {
 public:
  CurlUrlTester() { EnsureCurlGlobalInit(); }

  bool TestUrl(const ProbeHost& host, bool use_https) override {
    try {
      std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(),
                                                                 &curl_easy_cleanup);
      if (!handle) return false;
      CURL* h = handle.get();
      const int port = use_https ? host.https_port : host.http_port;
      const std::string url = std::string(use_https ? "https://" : "http://") + host.host + ":" +
                              std::to_string(port) + "/";
      curl_easy_setopt(h, CURLOPT_URL, url.c_str());
      curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
      curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
      curl_easy_setopt(h, CURLOPT_USERAGENT, "Orbelune");
      // Direct access whatever the environment's proxy variables say.
      curl_easy_setopt(h, CURLOPT_PROXY, "");
      curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
      curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kConnectPhaseMs);
      curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, kWholeRequestMs);
      curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
      curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Discard);
      curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Discard);
      if (use_https) {
        // Unknown authority, wrong name and expired date do not matter: any answer counts.
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
      }
      const CURLcode rc = curl_easy_perform(h);
      long status = 0;
      curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
      return rc == CURLE_OK || status > 0;
    } catch (...) {
      return false;
    }
  }
};

}  // namespace

std::unique_ptr<IUrlTester> MakeSystemUrlTester() {
  return std::make_unique<CurlUrlTester>();
}

}  // namespace zv
