#pragma once
// The one JSON string writer of the service: the documents it posts and the JSON texts it
// logs write their strings through here.

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

}  // namespace zv
