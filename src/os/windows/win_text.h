#pragma once
// Text at the Windows API boundary: the program keeps UTF-8, the wide (W) functions take
// UTF-16, and the system's error numbers come with the system's texts.

#include <windows.h>

#include <string>
#include <string_view>

#include "base/errors.h"

namespace zv {

// A failed call of the operating system.
class EOSError : public Exception {
 public:
  explicit EOSError(const std::string& message) : Exception("EOSError", message) {}
};

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
// UTF-8 to the system's ANSI code page (what the A functions take).
std::string Utf8ToAcp(std::string_view utf8);

// The system's text for an error number, without the trailing line break; module is the
// DLL whose message table holds the number (nullptr: the system's own).
std::string SystemErrorText(DWORD code, HMODULE module = nullptr);

}  // namespace zv
