#pragma once
// :name parameters in SQL text. The server only knows positional "?" markers.

#include <string>
#include <string_view>
#include <vector>

namespace zv {

// Returns the statement with every :name marker replaced by "?" and appends each marker's
// name, in order of appearance, to names. String literals, quoted identifiers and comments
// are copied untouched.
std::string RewriteNamedParams(std::string_view sql, std::vector<std::string>& names);

// RewriteNamedParams of a whole text, with its names.
struct ParsedSql {
  std::string rewritten;
  std::vector<std::string> names;
};

// The parse of `sql`, kept for the last texts this thread parsed: the jobs build the same
// few statements again for every record they send. The reference holds until this thread's
// next call.
const ParsedSql& ParseNamedParams(std::string_view sql);

// Letter case ignored, as Firebird does for unquoted names.
bool SameName(std::string_view a, std::string_view b);

}  // namespace zv
