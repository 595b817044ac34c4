#include "base/text.h"

#include <cstdint>

namespace zv {

namespace {

// Windows-1252 bytes 0x80..0x9F; 0 marks the five bytes the code page leaves undefined.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

char32_t NextCodePoint(std::string_view s, size_t& i) {
  auto b = static_cast<unsigned char>(s[i]);
  int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (int k = 1; k < len; ++k) {
    auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  i += len;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Utf8ToWindows1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = NextCodePoint(utf8, i);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    char mapped = '?';
    for (int k = 0; k < 32; ++k) {
      if (kCp1252High[k] == cp && cp != 0) {
        mapped = static_cast<char>(0x80 + k);
        break;
      }
    }
    out += mapped;
  }
  return out;
}

std::string Windows1252ToUtf8(std::string_view ansi) {
  // Most store texts are plain ASCII, which reads the same in both.
  size_t ascii = 0;
  while (ascii < ansi.size() && static_cast<unsigned char>(ansi[ascii]) < 0x80) ++ascii;
  std::string out(ansi.substr(0, ascii));
  if (ascii == ansi.size()) return out;
  out.reserve(ansi.size() + ansi.size() / 8);
  for (char ch : ansi.substr(ascii)) {
    auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out += ch;
    } else if (b < 0xA0) {
      char32_t cp = kCp1252High[b - 0x80];
      AppendUtf8(out, cp ? cp : b);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (char ch : latin1) AppendUtf8(out, static_cast<unsigned char>(ch));
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string TrimText(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

std::string TrimRightBlanks(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string AsciiLower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = AsciiLowerChar(c);
  return r;
}

std::string AsciiUpper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = AsciiUpperChar(c);
  return r;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
  }
  return true;
}

}  // namespace zv
