// The fake platform's own behaviour that other tests and the demo rely on: list files read
// at every request, faults chosen by method and position, and the summary's counts.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/errors.h"
#include "fake-platform/fake_platform.h"
#include "os/system.h"
#include "platform/zentrovia_client.h"
#include "support/temp_dir.h"

namespace zv {
namespace {

class FakePlatformTest : public ::testing::Test {
 protected:
  FakePlatformTest() : transport(MakeSystemHttpTransport()), client(*transport, settings) {
    platform.Start();
    settings.zentrovia_usuario = "zentrovia";
    settings.zentrovia_senha = "zentrovia";
    settings.zentrovia_url1 = platform.BaseUrl();
    settings.zentrovia_idempresa = "7";
    settings.zentrovia_idlocal = "3";
  }

  TZentrovRetornos Post(const std::string& till, const std::string& body, bool closing) {
    client.RequestTill = till;
    client.RequestBody = body;
    return closing ? client.postFechaCaixa() : client.postEnviarVenda();
  }

  test::TempDir dir;
  IntegrationSettings settings;
  std::unique_ptr<IHttpTransport> transport;
  TZentrovia client;
  fake::FakePlatform platform;
};

TEST_F(FakePlatformTest, ListFilesAreReadAtEveryRequest) {
  const std::string file = (dir.path() / "movimientos.json").string();
  platform.SetResendMovementsFile(file);
  std::ofstream(file) << R"([{"fecha":"2026-12-01","tipo":"MOVIMIENTOS"}])";
  EXPECT_EQ(client.getSolReenvioMovimientos().json_retorno,
            R"([{"fecha":"2026-12-01","tipo":"MOVIMIENTOS"}])");
  std::ofstream(file, std::ios::trunc).close();
  EXPECT_EQ(client.getSolReenvioMovimientos().json_retorno, "");
  std::filesystem::remove(file);
  EXPECT_THROW(client.getSolReenvioMovimientos(), ERESTException);
  // Without a file the body set in memory, or "[]", answers again.
  platform.SetResendMovementsFile("");
  EXPECT_EQ(client.getSolReenvioMovimientos().json_retorno, "[]");
  EXPECT_EQ(client.getSolReenvioCierresDiarios().json_retorno, "[]");
}

TEST_F(FakePlatformTest, PromotionGetsAreCountedPerList) {
  platform.SetPromotionsAccepted(R"({"results":[]})");
  EXPECT_EQ(client.getPromoAceitas().json_retorno, R"({"results":[]})");
  client.getPromoAceitas();
  client.getPromoRejeitadas();
  EXPECT_EQ(platform.PromotionGets(),
            (std::map<std::string, int64_t>{{"ACEPTADA", 2}, {"RECHAZADA", 1}}));
  const auto summary = nlohmann::json::parse(platform.SummaryJson());
  EXPECT_EQ(summary["promociones"]["ACEPTADA"], 2);
}

TEST_F(FakePlatformTest, AFaultMatchesItsMethodAfterTheRequestsItSkips) {
  platform.AddFault({"/cierresDiarios/", 503, "busy", "text/plain", 0, 1}, "POST", 1);
  const std::string closing = R"([{"fechaVentas": "2026-12-01"}])";
  EXPECT_EQ(Post("1", closing, true).code_retorno, "200");
  EXPECT_THROW(Post("2", closing, true), ERESTException);   // the second closing post
  EXPECT_EQ(Post("2", closing, true).code_retorno, "200");  // once only
  EXPECT_EQ(platform.ClosingsPerTill(), (std::map<std::string, int64_t>{{"1", 1}, {"2", 1}}));

  // GETs of the same path are not matched.
  platform.AddFault({"/cierresDiarios", 500, "down", "text/plain", 0, -1}, "POST", 0);
  EXPECT_EQ(client.getSolReenvioCierresDiarios().code_retorno, "200");
}

TEST_F(FakePlatformTest, SummaryCountsSalesCancellationsAndClosingsPerDayAndTill) {
  Post("2", R"([{"numero":"1","cancelacion":false},{"numero":"2","cancelacion":true}])", false);
  Post("2", R"([{"numero":"3","cancelacion":false}])", false);
  Post("9999", R"([{"numero":"4","cancelacion":true}])", false);
  Post("1", R"([{"montoVentaLiquida": 1.00, "fechaVentas": "2026-12-01"}])", true);
  Post("1", R"([{"montoVentaLiquida": 1.00, "fechaVentas": "2026-12-01"}])", true);
  Post("9999", R"([{"montoVentaLiquida": -1.00, "fechaVentas": "2026-12-02"}])", true);
  platform.AddFault({"", 503, "busy", "text/plain", 0, 1});
  EXPECT_THROW(Post("3", R"([{"fechaVentas": "2026-12-02"}])", true), ERESTException);

  using Counts = std::map<std::string, int64_t>;
  EXPECT_EQ(platform.SalesPerTill(), (Counts{{"2", 2}}));
  EXPECT_EQ(platform.CancellationsPerTill(), (Counts{{"2", 1}, {"9999", 1}}));
  EXPECT_EQ(
      platform.ClosingsPerDayAndTill(),
      (std::map<std::string, Counts>{{"2026-12-01", {{"1", 2}}}, {"2026-12-02", {{"9999", 1}}}}));
  const auto summary = nlohmann::json::parse(platform.SummaryJson());
  EXPECT_EQ(summary["ventas"], nlohmann::json::parse(R"({"2":2})"));
  EXPECT_EQ(summary["cancelaciones"], nlohmann::json::parse(R"({"2":1,"9999":1})"));
  EXPECT_EQ(summary["cierresPorDia"],
            nlohmann::json::parse(R"({"2026-12-01":{"1":2},"2026-12-02":{"9999":1}})"));
}

}  // namespace
}  // namespace zv
