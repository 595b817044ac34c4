#include "platform/json_writer.h"

#include "base/text.h"
#include "platform/json_helpers.h"

namespace zv {

void AppendJsonString(std::string& out, std::string_view text, JsonSlash slash) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  // Characters that stand for themselves go out a run at a time.
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool plain = c >= 0x20 && c != '"' && c != '\\' && (c != '/' || slash == JsonSlash::Plain);
    if (plain) continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
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
        // A raw control character would make the whole batch unreadable to the platform.
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(text.data() + run, text.size() - run);
  out += '"';
}

std::string JsonString(std::string_view text, JsonSlash slash) {
  std::string out;
  AppendJsonString(out, text, slash);
  return out;
}

namespace {

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf8(out, NextCodePoint(text, i));
  return out;
}

void Write(std::string& out, const JsonValue& v, int indent, int depth) {
  const auto line_break = [&](int level) {
    if (indent <= 0) return;
    out += '\n';
    out.append(static_cast<size_t>(indent) * static_cast<size_t>(level), ' ');
  };
  switch (v.kind()) {
    case JsonValue::Kind::Null:
      out += "null";
      return;
    case JsonValue::Kind::Boolean:
      out += v.BoolValue() ? "true" : "false";
      return;
    case JsonValue::Kind::Number:
      out += v.Text();
      return;
    case JsonValue::Kind::String:
      AppendJsonString(out, ValidUtf8(v.Text()), JsonSlash::Plain);
      return;
    case JsonValue::Kind::Array: {
      out += '[';
      bool first = true;
      for (const JsonValue& item : v.Items()) {
        if (!first) out += ',';
        first = false;
        line_break(depth + 1);
        Write(out, item, indent, depth + 1);
      }
      if (!first) line_break(depth);
      out += ']';
      return;
    }
    case JsonValue::Kind::Object: {
      out += '{';
      bool first = true;
      for (const JsonMember& m : v.Members()) {
        if (!first) out += ',';
        first = false;
        line_break(depth + 1);
        AppendJsonString(out, ValidUtf8(m.name), JsonSlash::Plain);
        out += indent > 0 ? ": " : ":";
        Write(out, m.value, indent, depth + 1);
      }
      if (!first) line_break(depth);
      out += '}';
      return;
    }
  }
}

}  // namespace

std::string WriteJson(const JsonValue& value, int indent) {
  std::string out;
  Write(out, value, indent, 0);
  return out;
}

}  // namespace zv
