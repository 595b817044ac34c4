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
     "O código externo do artigo está em uso"},
    {"ARTICULO_COMBINACION_ALICUOTA_TRIBUTACION_INVALIDA",
     "Combinação do alíquota e tributação inválida"},
    {"ARTICULO_DESCRIPCION_CARACT_INVALIDO",
     "A descrição do artigo contém um caractere inválido"},
    {"ARTICULO_DESCRIPCION_INVALIDA", "Descrição do artigo é inválida"},
    {"ARTICULO_ICMS_VTA_INVALIDO", "ICMS do venda para o artigo é inválido"},
    {"ARTICULO_LOCAL_ASOCIADO_NO_EXISTE", "O artigo não foi encontrado no local"},
    {"ARTICULO_LOCAL_NO_EXISTE", "O artigo não foi encontrado no local"},
    {"ARTICULO_NCM_NO_EXISTE", "Não existe o NCM do artigo"},
    {"ARTICULO_NO_ENCONTRADO", "Artigo não encontrado"},
    {"ARTICULO_NO_ES_COMBO", "O artigo não é um combo"},
    {"ARTICULO_ORIGEN_INVALIDO", "A origem do artigo é inválida"},
    {"ARTICULO_ORIGEN_NO_EXISTE", "A origem do artigo não existe"},
    {"ARTICULO_SIN_DESCRIPCION", "Artigo sem descrição"},
    {"ARTICULO_TIPO_PESO_INVALIDO", "O campo tipoPeso do artigo é inválido"},
    {"ARTICULO_TIPO_TRIBUTACION_SALIDA_INVALIDA",
     "O campo tipoTributoSalida do artigo é inválido"},
    {"ARTICULO_TRIBUTACION_REQUERIDA",
     "A tributação para o artigo é necessária"},
    {"ERROR_LOGIN", "Usuário e/ou senha inválidos"},
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
    answer.text = "Erro: JSON inválido";
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
      answer.text = "Usuário e/ou senha inválidos";
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
