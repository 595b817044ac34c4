// -STATUS after the platform refused the password three runs in a row: the error with its
// meaning in the text, and in -STATUS -JSON with its count; the stale last accepted
// document said first; the password in neither.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "base/clock.h"
#include "base/version.h"
#include "fake-platform/fake_platform.h"
#include "support/store_fixture.h"

namespace zv {
namespace {

struct RunResult {
  int exit_code = -1;
  std::string output;
};

RunResult RunCommand(const std::string& command) {
  RunResult r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int status = pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class StatusExplanationsTest : public test::StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    if (StoreMissing()) return;
    fake::Options options;
    options.user = "loja";
    options.password = "segredo";
    platform = std::make_unique<fake::FakePlatform>(options);
    platform->Start();
    const DateTime now = SystemClock().Now();
    sample::SampleOptions o;
    o.days = 1;
    o.tills = 1;
    o.sales_per_day = 3;
    o.start = now.Date().AddDays(-1);
    o.url = platform->BaseUrl();
    o.user = "loja";
    o.password = "senha-velha";  // not the platform's any more
    o.verificareenvio = now;
    o.verificapromo = now;
    o.ultcaixa = now.Date();
    BuildSample(o);
    WriteIni("localhost", db_path);
    exe = dir() + "SrvZentrovia";
    std::filesystem::copy_file(ZV_SERVICE_BINARY, exe);
  }

  std::unique_ptr<fake::FakePlatform> platform;
  std::string exe;
};

TEST_F(StatusExplanationsTest, ARefusedPasswordIsExplainedAndCountedInTextAndJson) {
  for (int run = 0; run < 3; ++run) {
    const RunResult sync = RunCommand(exe + " -SYNC -NOPROBE 2>&1");
    ASSERT_EQ(sync.exit_code, 2) << sync.output;
  }
  EXPECT_EQ(Value("select zentrovia_ultvenda from padrao"), "0") << "nothing moved";

  const RunResult text = RunCommand(exe + " -STATUS 2>&1");
  EXPECT_EQ(text.exit_code, 0) << text.output;
  EXPECT_NE(text.output.find(VersionText()), std::string::npos) << text.output;
  const size_t stale = text.output.find("ATTENTION: No document accepted by the platform");
  const size_t problem = text.output.find(
      "3 times  ERRO no Timer: ERESTException - Usuário e/ou senha inválidos\n"
      "      The platform refused the user or password of the padrao row");
  EXPECT_NE(stale, std::string::npos) << text.output;
  EXPECT_NE(problem, std::string::npos) << text.output;
  EXPECT_LT(stale, problem) << "the stale document is said first";
  EXPECT_EQ(text.output.find("senha-velha"), std::string::npos) << "never the password";

  const RunResult json_run = RunCommand(exe + " -STATUS -JSON 2>/dev/null");
  EXPECT_EQ(json_run.exit_code, 0);
  EXPECT_EQ(json_run.output.find("senha-velha"), std::string::npos) << "never the password";
  const nlohmann::json j = nlohmann::json::parse(json_run.output);
  for (const char* key : {"installation", "cursors", "pending", "next_job", "last_errors"})
    EXPECT_TRUE(j.contains(key)) << key;
  EXPECT_EQ(j["version"], VersionText());
  EXPECT_EQ(j["installation"]["directory"], dir());
  EXPECT_EQ(j["cursors"]["zentrovia_ultvenda"], 0);
  EXPECT_EQ(
      j["pending"]["sales"],
      std::stoll(Value(
          "select count(distinct venda) from vendas where codigoproduto not in ('XXDESCONTOXX', "
          "'XXACRESCIMOXX', 'XXENTREGAXX', 'RECARGACELULAR')")));
  EXPECT_EQ(j["next_job"], "EnviarVendasZentrovia");
  ASSERT_FALSE(j["warnings"].empty());
  ASSERT_FALSE(j["last_errors"].empty());
  const nlohmann::json& newest = j["last_errors"][0];
  EXPECT_EQ(newest["line"], "ERRO no Timer: ERESTException - Usuário e/ou senha inválidos");
  EXPECT_GE(newest["count"].get<int>(), 3);
  EXPECT_EQ(newest["meaning"].get<std::string>().rfind("The platform refused the user", 0), 0u);
  EXPECT_TRUE(std::regex_match(newest["at"].get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")))
      << newest["at"];
}

TEST_F(StatusExplanationsTest, JsonWhenTheStoreCannotBeReachedStillNamesTheLogsProblems) {
  WriteIni("localhost", dir() + "missing.fdb");
  RunCommand(exe + " -SYNC -NOPROBE -MAXCYCLES 1 2>&1");
  const RunResult json_run = RunCommand(exe + " -STATUS -JSON 2>/dev/null");
  EXPECT_EQ(json_run.exit_code, 2);
  const nlohmann::json j = nlohmann::json::parse(json_run.output);
  EXPECT_EQ(j["installation"]["store"]["connected"], false);
  EXPECT_TRUE(j["cursors"].is_null());
  bool named = false;
  for (const auto& e : j["last_errors"])
    named |= e["line"] == "Falha na conexão com o banco de dados do Quelmara";
  EXPECT_TRUE(named) << j.dump(2);
}

}  // namespace
}  // namespace zv
