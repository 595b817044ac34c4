#include "store/sql_params.h"
#include "base/text.h"

#include <cctype>
#include <unordered_map>

namespace zv {

namespace {
bool IdentStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}
}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  return EqualsIgnoreAsciiCase(a, b);
}

std::string RewriteNamedParams(std::string_view sql, std::vector<std::string>& names) {
  std::string out;
  out.reserve(sql.size());
  size_t i = 0;
  const size_t n = sql.size();
  while (i < n) {
    char c = sql[i];
    if (c == '\'' || c == '"') {
      // A doubled quote inside the literal continues it.
      size_t j = i + 1;
      while (j < n) {
        if (sql[j] == c) {
          if (j + 1 < n && sql[j + 1] == c) {
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        ++j;
      }
      out.append(sql.substr(i, j - i));
      i = j;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      size_t j = sql.find('\n', i);
      j = (j == std::string_view::npos) ? n : j;
      out.append(sql.substr(i, j - i));
      i = j;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      size_t j = sql.find("*/", i + 2);
      j = (j == std::string_view::npos) ? n : j + 2;
      out.append(sql.substr(i, j - i));
      i = j;
    } else if (c == ':' && i + 1 < n && IdentStart(sql[i + 1]) &&
               (i == 0 || !IdentChar(sql[i - 1]))) {
      size_t j = i + 1;
      while (j < n && IdentChar(sql[j])) ++j;
      names.emplace_back(sql.substr(i + 1, j - i - 1));
      out.push_back('?');
      i = j;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return out;
}

const ParsedSql& ParseNamedParams(std::string_view sql) {
  // A few dozen distinct texts in a service's life; a thread that builds texts without end
  // (values written into the text) starts the cache afresh rather than growing it.
  constexpr size_t kMaxTexts = 256;
  thread_local std::unordered_map<std::string, ParsedSql> parsed;
  if (auto it = parsed.find(std::string(sql)); it != parsed.end()) return it->second;
  if (parsed.size() >= kMaxTexts) parsed.clear();
  ParsedSql p;
  p.rewritten = RewriteNamedParams(sql, p.names);
  return parsed.emplace(std::string(sql), std::move(p)).first->second;
}

}  // namespace zv
