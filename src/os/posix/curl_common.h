#pragma once
// What the libcurl transport and the probe share.

#include <curl/curl.h>

namespace zv {

// libcurl's process-wide set-up, once, before the first handle.
void EnsureCurlGlobalInit();

// The WinHTTP error number that stands for a libcurl failure.
int WinHttpCodeForCurl(CURLcode code);

}  // namespace zv
