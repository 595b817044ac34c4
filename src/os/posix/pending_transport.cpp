// Placeholder until the libcurl transport lands.
#include "os/system.h"
#include "platform/errors.h"

namespace zv {

namespace {
class MissingTransport : public IHttpTransport {
 public:
  HttpResponse Send(const HttpRequest&) override {
    throw ERESTException("REST request failed: no HTTP transport in this build");
  }
};
class MissingTester : public IUrlTester {
 public:
  bool TestUrl(const ProbeHost&, bool) override { return false; }
};
}  // namespace

std::unique_ptr<IHttpTransport> MakeSystemHttpTransport() {
  return std::make_unique<MissingTransport>();
}
std::unique_ptr<IUrlTester> MakeSystemUrlTester() {
  return std::make_unique<MissingTester>();
}

}  // namespace zv
