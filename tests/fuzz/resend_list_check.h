#pragma once
// What every input to the resend request list reader must keep, whatever its bytes: the list is
// read as VerificaReenvio reads it (the bounded parse, the bounded items, then each request's
// "fecha", "tipo" and "codigoCaja"), and nothing but the service's own one-line errors comes
// out of it. Shared by the fuzz target and the unit test that replays the corpus.

#include <string>
#include <string_view>

#include "base/errors.h"
#include "platform/json_helpers.h"

namespace zv::fuzz {

// "" when the input keeps every property, else what it broke.
inline std::string CheckResendRequestList(std::string_view bytes) {
  auto one_line = [](const std::string& s) {
    for (char c : s) {
      if (static_cast<unsigned char>(c) < 0x20) return false;
    }
    return true;
  };
  try {
    const std::optional<JsonValue> list = ParseJsonAnswer(bytes, "resend request list");
    if (!list || !list->IsArray()) return std::string();
    for (const JsonValue& element : BoundedItems(*list, kMaxResendRequests, "list")) {
      try {
        const JsonValue& request = AsObject(element);
        const DateTime fecha = GetDate(request, "fecha");
        (void)GetText(request, "tipo");
        std::string till;
        TryGetText(request, "codigoCaja", till);
        // The day goes into statements and log lines: it must be one the date type holds.
        if (fecha.Date().ToText().size() < 10) return "a day that cannot be written";
      } catch (const Exception& e) {
        if (!one_line(e.what())) return std::string("request error is not one line: ") + e.what();
      }
    }
  } catch (const EConversionError& e) {
    if (!one_line(e.what())) return std::string("list error is not one line: ") + e.what();
  }
  return std::string();
}

}  // namespace zv::fuzz
