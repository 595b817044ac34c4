#pragma once
// The one JSON writer of the service: the documents it posts, the JSON texts it logs and
// the -STATUS -JSON report write their strings through here.

#include <string>
#include <string_view>

namespace zv {

// How "/" is written: the documents posted to the platform escape it ("\/"); the texts the
// service writes for itself (the promotion values in its log lines) keep it as it stands.
enum class JsonSlash { Escaped, Plain };

// Writes a JSON string literal, quotes included: quotation mark and backslash with a
// backslash, slash as `slash` says; the five short control escapes; any other control
// character as \u00XX so the text stays valid JSON; everything else, letters outside ASCII
// included, unchanged.
void AppendJsonString(std::string& out, std::string_view text,
                      JsonSlash slash = JsonSlash::Escaped);
std::string JsonString(std::string_view text, JsonSlash slash = JsonSlash::Escaped);

class JsonValue;

// A whole value as JSON text (the promotion values in the log, the -STATUS -JSON report):
// members in their order, numbers as written, strings as AppendJsonString writes them with
// "/" kept. A text that is not UTF-8 (a log line, a store value) has U+FFFD for each
// malformed byte, so the result is always valid JSON; UTF-8 text goes byte for byte. `indent`
// 0 writes it compact; above 0, each member and item on a line of its own, nested by that
// many blanks.
std::string WriteJson(const JsonValue& value, int indent = 0);

}  // namespace zv
