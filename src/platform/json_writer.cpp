#include "platform/json_writer.h"

namespace zv {

void AppendJsonString(std::string& out, std::string_view text, JsonSlash slash) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += slash == JsonSlash::Escaped ? "\\/" : "/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20) {
          // A raw control character would make the whole batch unreadable to the platform.
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

std::string JsonString(std::string_view text, JsonSlash slash) {
  std::string out;
  AppendJsonString(out, text, slash);
  return out;
}

}  // namespace zv
