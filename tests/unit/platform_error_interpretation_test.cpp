#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "platform/answer.h"
#include "platform/json_helpers.h"
#include "service/srv_zentrovia.h"
#include "support/log_messages.h"

namespace zv {
namespace {

using test::NoTransport;

class VerificarErroJSONTest : public ::testing::Test {
 protected:
  VerificarErroJSONTest() {
    ServiceEnvironment env;
    env.clock = &clock;
    env.timer = &timer;
    env.transport = &transport;
    env.exe_dir = dir.dir();
    module = std::make_unique<TSrvZentrovia>(env);
    module->Zentrovia().RequestBody = kPosted;
  }

  // The log's messages after "Serviço criado".
  std::vector<std::string> LoggedMessages() const {
    std::vector<std::string> messages = test::LogMessages(dir.path() / "Zentrovia.log");
    if (!messages.empty() && messages.front() == "Servi\xC3\xA7o criado")
      messages.erase(messages.begin());
    return messages;
  }

  static constexpr const char* kPosted = R"([{"numero":"1234","detalles":[]}])";
  test::TempDir dir;
  ManualClock clock;
  ManualTimer timer;
  NoTransport transport;
  std::unique_ptr<TSrvZentrovia> module;
};

TEST_F(VerificarErroJSONTest, TurnsEachAnswerIntoItsText) {
  struct Case {
    const char* answer;
    std::string result;
    bool logs_posted_document;
  };
  const std::string invalid = "Erro: JSON inv\xC3\xA1lido";
  const std::string unknown = "Erro desconhecido no retorno do JSON";
  const std::string login = "Usu\xC3\xA1rio e/ou senha inv\xC3\xA1lidos";
  const std::string not_object = "Erro ao processar JSON: Cannot read JSON ";
  const std::vector<Case> cases = {
      // Not JSON at all.
      {"", invalid, false},
      {"<html>Bad Gateway</html>", invalid, false},
      {"{\"idLote\":", invalid, false},
      // JSON but no object.
      {"[]", not_object + "array as object", false},
      {"\"texto\"", not_object + "string as object", false},
      {"null", not_object + "null as object", false},
      // Accepted batch.
      {R"({"idLote":123})", "Ok:123", false},
      {R"({"idLote":"A7"})", "Ok:A7", false},
      {R"({"idLote":null})", "Ok:", false},
      {R"({"idLote":1.50})", "Ok:1.50", false},
      {R"({"idLote":true})", "Ok:true", false},
      {R"({"idLote":{"id":1}})", R"({"idLote":{"id":1}})", false},
      // Error lists.
      {R"({"errores":[{"error":{"message":"ARTICULO_NO_ENCONTRADO"}}]})",
       "Artigo n\xC3\xA3o encontrado", true},
      {R"({"errores":[{"error":{"message":"ARTICULO_LOCAL_ASOCIADO_NO_EXISTE"}}]})",
       "O artigo n\xC3\xA3o foi encontrado no local", true},
      {R"({"errores":[{"error":{"message":"ARTICULO_LOCAL_NO_EXISTE"}}]})",
       "O artigo n\xC3\xA3o foi encontrado no local", true},
      {R"({"errores":[{"error":{"message":"ARTICULO_CODIGO_EXTERNO_EN_USO"}}]})",
       "O c\xC3\xB3"
       "digo externo do artigo est\xC3\xA1 em uso",
       true},
      {R"({"errores":[{"error":{"message":"ERROR_LOGIN"}}]})", login, true},
      {R"({"errores":[{"error":{"message":"CODIGO_NUEVO"}}]})", "CODIGO_NUEVO", true},
      {R"({"errores":[{"error":{"message":"error_login"}}]})", "error_login", true},
      {R"({"errores":[{"error":{"message":null}}]})", "", true},
      {R"({"errores":[{"error":{"message":42}}]})", "42", true},
      {R"({"errores":[{"error":{"message":"ARTICULO_BORRADO"}},{"error":{"message":"X"}}]})",
       "O artigo foi eliminado", true},
      {R"({"idLote":9,"errores":[{"error":{"message":"ARTICULO_BORRADO"}}]})",
       "O artigo foi eliminado", true},
      {R"({"errores":[{"codigo":1}]})", unknown, false},
      {R"({"errores":[{"error":"ARTICULO_BORRADO"}]})", unknown, false},
      {R"({"errores":[{"error":{"msg":"ARTICULO_BORRADO"}}]})", unknown, false},
      {R"({"errores":[{"error":{"message":{"code":1}}}]})", unknown, false},
      {R"({"errores":["ARTICULO_BORRADO"]})", not_object + "string as object", false},
      // "errores" that is no list, or an empty one, counts as absent.
      {R"({"errores":"ARTICULO_BORRADO","idLote":5})", "Ok:5", false},
      {R"({"errores":null,"appErrorCode":"ERROR_LOGIN"})", login, false},
      {R"({"errores":[],"idLote":6})", "Ok:6", false},
      {R"({"errores":[]})", R"({"errores":[]})", false},
      // Login errors.
      {R"({"appErrorCode":"ERROR_LOGIN"})", login, false},
      {R"({"appErrorCode":"error_login"})", R"({"appErrorCode":"error_login"})", false},
      {R"({"appErrorCode":"OTRO","idLote":7})", "Ok:7", false},
      // Anything else comes back whole.
      {R"({"mensaje":"hola"})", R"({"mensaje":"hola"})", false},
      {" {} ", " {} ", false},
  };
  size_t logged = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(module->VerificarErroJSON(c.answer), c.result) << c.answer;
    const std::vector<std::string> messages = LoggedMessages();
    if (c.logs_posted_document) {
      ASSERT_EQ(messages.size(), logged + 1) << c.answer;
      EXPECT_EQ(messages.back(), kPosted);
      ++logged;
    } else {
      EXPECT_EQ(messages.size(), logged) << c.answer;
    }
  }

  // Every prefix of every answer, as a connection cut mid-body would leave it, reads as a
  // result or the invalid-JSON text, never a crash; and without a verdict.
  for (const Case& c : cases) {
    const std::string whole = c.answer;
    for (size_t n = 0; n < whole.size(); ++n) {
      const std::string prefix = whole.substr(0, n);
      const PlatformAnswer answer = ReadPlatformAnswer(prefix);
      if (!ParseJson(prefix)) {
        EXPECT_EQ(answer.text, invalid) << prefix;
        EXPECT_EQ(answer.verdict, PlatformVerdict::None) << prefix;
      }
    }
  }
}

TEST(PlatformAnswer, OnlyABatchIdOrAnErrorListIsAVerdictOnTheDocument) {
  struct Case {
    const char* answer;
    PlatformVerdict verdict;
  };
  const Case cases[] = {
      {R"({"idLote":"77"})", PlatformVerdict::Accepted},
      {R"({"idLote":null})", PlatformVerdict::Accepted},
      {R"({"errores":[{"error":{"message":"ARTICULO_BORRADO"}}]})", PlatformVerdict::Rejected},
      {R"({"errores":[{"codigo":1}]})", PlatformVerdict::Rejected},
      {R"({"idLote":9,"errores":[{"error":{"message":"X"}}]})", PlatformVerdict::Rejected},
      {R"({"appErrorCode":"ERROR_LOGIN"})", PlatformVerdict::None},
      {R"({"appErrorCode":"ERROR_LOGIN","idLote":3})", PlatformVerdict::None},
      {R"({"errores":[]})", PlatformVerdict::None},
      {R"({"message":"NOT_FOUND"})", PlatformVerdict::None},
      {"{}", PlatformVerdict::None},
      {"[]", PlatformVerdict::None},
      {"", PlatformVerdict::None},
      {"<html></html>", PlatformVerdict::None},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ReadPlatformAnswer(c.answer).verdict, c.verdict) << c.answer;
}

TEST_F(VerificarErroJSONTest, LogsTheDocumentAsPostedWithItsAccents) {
  module->Zentrovia().RequestBody =
      "[{\"descripcionArticulo\":\"A\xC3\x87\xC3\x9A"
      "CAR\"}]";
  EXPECT_EQ(
      module->VerificarErroJSON(R"({"errores":[{"error":{"message":"ARTICULO_NO_ENCONTRADO"}}]})"),
      "Artigo n\xC3\xA3o encontrado");
  const std::vector<std::string> messages = LoggedMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], module->Zentrovia().RequestBody);
}

}  // namespace
}  // namespace zv
