#include "os/ini_file.h"

#include "base/text.h"

namespace zv {

bool FindIniValue(std::string_view content, std::string_view section, std::string_view key,
                  std::string& value) {
  bool in_section = false;
  size_t pos = 0;
  while (pos <= content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      // Only the first section of that name counts.
      if (in_section) return false;
      in_section = EqualsIgnoreAsciiCase(TrimBlanks(line.substr(1, close - 1)), section);
      continue;
    }
    if (!in_section) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (!EqualsIgnoreAsciiCase(TrimBlanks(line.substr(0, eq)), key)) continue;
    std::string_view v = TrimBlanks(line.substr(eq + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    value.assign(v);
    return true;
  }
  return false;
}

}  // namespace zv
