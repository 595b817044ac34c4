// The reading of the platform's answers: the text of an upload's log line and its verdict.

#include <utility>

#include "base/errors.h"
#include "platform/answer.h"
#include "platform/json_helpers.h"

namespace zv {

namespace {

// Tried in order, exact and case-sensitive.
constexpr std::pair<const char*, const char*> kErrorCodes[] = {
    {"ARTICULO_BORRADO", "O artigo foi eliminado"},
    {"ARTICULO_CODIGO_EXTERNO_EN_USO",
     "O c\xC3\xB3"
     "digo externo do artigo est\xC3\xA1 em uso"},
    {"ARTICULO_COMBINACION_ALICUOTA_TRIBUTACION_INVALIDA",
     "Combina\xC3\xA7\xC3\xA3o do al\xC3\xADquota e tributa\xC3\xA7\xC3\xA3o inv\xC3\xA1lida"},
    {"ARTICULO_DESCRIPCION_CARACT_INVALIDO",
     "A descri\xC3\xA7\xC3\xA3o do artigo cont\xC3\xA9m um caractere inv\xC3\xA1lido"},
    {"ARTICULO_DESCRIPCION_INVALIDA", "Descri\xC3\xA7\xC3\xA3o do artigo \xC3\xA9 inv\xC3\xA1lida"},
    {"ARTICULO_ICMS_VTA_INVALIDO", "ICMS do venda para o artigo \xC3\xA9 inv\xC3\xA1lido"},
    {"ARTICULO_LOCAL_ASOCIADO_NO_EXISTE", "O artigo n\xC3\xA3o foi encontrado no local"},
    {"ARTICULO_LOCAL_NO_EXISTE", "O artigo n\xC3\xA3o foi encontrado no local"},
    {"ARTICULO_NCM_NO_EXISTE", "N\xC3\xA3o existe o NCM do artigo"},
    {"ARTICULO_NO_ENCONTRADO", "Artigo n\xC3\xA3o encontrado"},
    {"ARTICULO_NO_ES_COMBO", "O artigo n\xC3\xA3o \xC3\xA9 um combo"},
    {"ARTICULO_ORIGEN_INVALIDO", "A origem do artigo \xC3\xA9 inv\xC3\xA1lida"},
    {"ARTICULO_ORIGEN_NO_EXISTE", "A origem do artigo n\xC3\xA3o existe"},
    {"ARTICULO_SIN_DESCRIPCION", "Artigo sem descri\xC3\xA7\xC3\xA3o"},
    {"ARTICULO_TIPO_PESO_INVALIDO", "O campo tipoPeso do artigo \xC3\xA9 inv\xC3\xA1lido"},
    {"ARTICULO_TIPO_TRIBUTACION_SALIDA_INVALIDA",
     "O campo tipoTributoSalida do artigo \xC3\xA9 inv\xC3\xA1lido"},
    {"ARTICULO_TRIBUTACION_REQUERIDA",
     "A tributa\xC3\xA7\xC3\xA3o para o artigo \xC3\xA9 necess\xC3\xA1ria"},
    {"ERROR_LOGIN", "Usu\xC3\xA1rio e/ou senha inv\xC3\xA1lidos"},
};

std::string TranslateErrorCode(const std::string& message) {
  for (const auto& [code, text] : kErrorCodes) {
    if (message == code) return text;
  }
  return message;
}

}  // namespace

PlatformAnswer ReadPlatformAnswer(const std::string& AJson) {
  PlatformAnswer answer;
  std::optional<JsonValue> parsed = ParseJson(AJson);
  if (!parsed) {
    answer.text = "Erro: JSON inv\xC3\xA1lido";
    return answer;
  }
  try {
    const JsonValue& root = AsObject(*parsed);

    const JsonValue* errores = nullptr;
    if (TryGetArray(root, "errores", errores) && errores->Count() > 0) {
      // An error list is the platform's refusal of the document, however its first element
      // reads.
      answer.verdict = PlatformVerdict::Rejected;
      const JsonValue& first = AsObject(errores->Items()[0]);
      const JsonValue* error = nullptr;
      std::string message;
      if (!TryGetObject(first, "error", error) || !TryGetText(*error, "message", message)) {
        answer.text = "Erro desconhecido no retorno do JSON";
        return answer;
      }
      answer.text = TranslateErrorCode(message);
      answer.log_request_body = true;
      return answer;
    }

    std::string app_error;
    if (TryGetText(root, "appErrorCode", app_error) && app_error == "ERROR_LOGIN") {
      answer.text = "Usu\xC3\xA1rio e/ou senha inv\xC3\xA1lidos";
      return answer;
    }

    std::string id_lote;
    if (TryGetText(root, "idLote", id_lote)) {
      answer.text = "Ok:" + id_lote;
      answer.verdict = PlatformVerdict::Accepted;
      return answer;
    }

    answer.text = AJson;
    return answer;
  } catch (const std::exception& e) {
    answer.text = std::string("Erro ao processar JSON: ") + e.what();
    return answer;
  }
}

}  // namespace zv
