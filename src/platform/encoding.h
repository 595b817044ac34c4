#pragma once
// Text is UTF-8 inside the program. The store database and the log file use the system's
// single-byte ANSI code page (Windows-1252 on Linux); convert at those boundaries only.

#include <string>
#include <string_view>

namespace zv {

// UTF-8 to the ANSI code page; a character the code page lacks becomes '?'.
std::string Utf8ToAnsi(std::string_view utf8);
// ANSI code page to UTF-8.
std::string AnsiToUtf8(std::string_view ansi);
// Windows-1252 both ways, whatever the system's code page (answers that declare it).
std::string Utf8ToWindows1252(std::string_view utf8);
std::string Windows1252ToUtf8(std::string_view cp1252);
// ISO-8859-1 to UTF-8 (answers that declare that character set).
std::string Latin1ToUtf8(std::string_view latin1);
// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace zv
