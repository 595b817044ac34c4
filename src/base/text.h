#pragma once
// Text helpers that every folder shares, each in one copy. Text is UTF-8 inside the program;
// the store database and the log file use the system's single-byte ANSI code page
// (os/system.h converts to and from it; on Linux that is Windows-1252, table below).

#include <string>
#include <string_view>

namespace zv {

// Windows-1252 both ways, whatever the system's code page (answers that declare it).
// A character Windows-1252 lacks becomes '?'.
std::string Utf8ToWindows1252(std::string_view utf8);
std::string Windows1252ToUtf8(std::string_view cp1252);
// ISO-8859-1 to UTF-8 (answers that declare that character set).
std::string Latin1ToUtf8(std::string_view latin1);
// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);
// Decodes the UTF-8 sequence at s[i] and moves i past it; a malformed byte decodes as
// U+FFFD and moves one byte.
char32_t NextCodePoint(std::string_view s, size_t& i);

// Blanks and tabs off both ends.
std::string_view TrimBlanks(std::string_view s);
// Blanks and control characters (everything up to ' ') off both ends.
std::string TrimText(std::string_view text);
// Trailing blanks off (CHAR columns come padded).
std::string TrimRightBlanks(std::string s);

// Letter case of A-Z only: accented letters and other bytes stay as they are.
constexpr char AsciiLowerChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char AsciiUpperChar(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string AsciiLower(std::string_view s);
std::string AsciiUpper(std::string_view s);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);

}  // namespace zv
