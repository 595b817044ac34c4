#include "promotions/promotion_pass.h"

#include <charconv>
#include <optional>

#include "base/text.h"
#include "jobs/job_rules.h"
#include "platform/json_helpers.h"

namespace zv {

namespace {

constexpr size_t kStatusLineChars = 200;

bool StatusOk(const std::string& code) {
  int status = 0;
  const char* end = code.data() + code.size();
  const auto [ptr, ec] = std::from_chars(code.data(), end, status);
  return ec == std::errc() && ptr == end && status >= 200 && status <= 299;
}

// The body's first line, cut to kStatusLineChars characters (never inside one).
std::string FirstLine(const std::string& body) {
  std::string_view line(body);
  line = line.substr(0, line.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  size_t i = 0;
  for (size_t chars = 0; i < line.size() && chars < kStatusLineChars; ++chars) {
    NextCodePoint(line, i);
  }
  return std::string(line.substr(0, i));
}

}  // namespace

bool ReadPromotionAnswer(const TZentrovRetornos& answer, TRoot& root) {
  if (!StatusOk(answer.code_retorno)) {
    throw ERESTException("HTTP " + answer.code_retorno + ": " + FirstLine(answer.json_retorno));
  }
  const std::string& body = answer.json_retorno;
  if (body.empty() || body == "[]") return false;
  const std::optional<JsonValue> value = ParseJsonAnswer(body, "promotion answer");
  const bool readable = value && (value->IsObject() || value->IsNull() ||
                                  (value->IsArray() && value->Items().empty()));
  if (!readable) throw EConversionError("The input value is not a valid Object");
  if (value->IsObject()) root.ReadObject(*value, std::string());
  return true;
}

TResults& PromotionOf(PromotionEntry& entry) {
  TResults& promotion = entry.Promotion();
  if (!promotion.HasId()) throw EConversionError("id: the promotion has no id");
  return promotion;
}

bool IsBasketType(const std::string& tipo) {
  return tipo == "ADICIONAL_DESCUENTO" || tipo == "ADICIONAL_REGALO";
}

void LogRefusal(JobContext& ctx, const std::string& prefix, const PromotionEntry& entry,
                const Exception& e) {
  const std::optional<int32_t> id = entry.Id();
  const std::string name = id ? std::to_string(*id) : "#" + std::to_string(entry.Position());
  ctx.DoSaveLog(ErrorLines(prefix, e.kind(), "Promoção " + name + ": " + e.what()));
}

bool StoreConnectionGone(JobContext& ctx) {
  return !ctx.store.Created() || !ctx.store.StoreConnection().Connected();
}

}  // namespace zv
