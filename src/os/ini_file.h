#pragma once
// The reading rules of the point-of-sale installation's ini file, as Windows' profile
// reader applies them to what a store's file holds: section and key names without regard to
// letter case and surrounding blanks; the first matching section and key win; a value is
// the rest of the line, blanks trimmed, one pair of surrounding quotes (" or ') removed, of
// any length; ";" starts a comment only at the start of a line; an indented line is a line
// of its own, never a continuation. Windows uses the system's reader; Linux this one.

#include <string>
#include <string_view>

namespace zv {

// Finds `key` in `section` of the file text; false when either is missing.
bool FindIniValue(std::string_view content, std::string_view section, std::string_view key,
                  std::string& value);

}  // namespace zv
