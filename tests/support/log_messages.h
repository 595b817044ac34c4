#pragma once
// Test helpers shared by the suites: the service log as a list of messages, and a
// transport for service modules that must never reach the platform.

#include <filesystem>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "os/http_transport.h"
#include "os/system.h"
#include "support/temp_dir.h"

namespace zv::test {

// The messages of the log at `log`, in order, in UTF-8, without their time stamps.
inline std::vector<std::string> LogMessages(const std::filesystem::path& log) {
  const std::string text = AnsiToUtf8(ReadFile(log));
  std::vector<std::string> messages;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = text.substr(start, end - start);
    const size_t sep = line.find(" - ");
    messages.push_back(sep == std::string::npos ? line : line.substr(sep + 3));
  }
  return messages;
}

class NoTransport : public IHttpTransport {
 public:
  HttpResponse Send(const HttpRequest&) override {
    throw ERESTException("REST request failed: no platform in this test");
  }
};

}  // namespace zv::test
