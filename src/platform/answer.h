#pragma once
// The reading of a platform answer's body: the short text that ends an upload's log line,
// and whether the answer says anything about the document that was posted.

#include <string>

namespace zv {

enum class PlatformVerdict {
  None,      // nothing about the document: a login error, a page that is not JSON, {} ...
  Accepted,  // "idLote": the platform took the post as that batch
  Rejected,  // a non-empty "errores" list: the platform refused the document
};

struct PlatformAnswer {
  std::string text;
  // The platform rejected the document: the posted body belongs in the log before the line.
  bool log_request_body = false;
  PlatformVerdict verdict = PlatformVerdict::None;
};

// Never raises. Texts: "Ok:" + batch id, the Portuguese text of an error code, "Erro: JSON
// inválido", "Erro desconhecido no retorno do JSON", "Erro ao processar JSON: " + message, or
// the body itself.
PlatformAnswer ReadPlatformAnswer(const std::string& AJson);

}  // namespace zv
