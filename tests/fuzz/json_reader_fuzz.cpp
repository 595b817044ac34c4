// Fuzz target for the service's JSON reader (platform/json_helpers.h): any bytes are parsed;
// whatever parses is written back as compact JSON (platform/json_writer.h, numbers as their
// text), and that text must parse again to a tree that writes the same text. A parse that
// gives up must do so for the value bound alone when it says so. Built by
// `bash scripts/fuzz SECONDS json_reader_fuzz` (CMake option ZV_FUZZ).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/json_helpers.h"
#include "platform/json_writer.h"

namespace {

void Write(std::string& out, const zv::JsonValue& v) {
  using Kind = zv::JsonValue::Kind;
  switch (v.kind()) {
    case Kind::Null:
      out += "null";
      return;
    case Kind::Boolean:
      out += v.BoolValue() ? "true" : "false";
      return;
    case Kind::Number:
      out += v.Text();
      return;
    case Kind::String:
      zv::AppendJsonString(out, v.Text(), zv::JsonSlash::Plain);
      return;
    case Kind::Array: {
      out += '[';
      bool first = true;
      for (const zv::JsonValue& item : v.Items()) {
        if (!first) out += ',';
        first = false;
        Write(out, item);
      }
      out += ']';
      return;
    }
    case Kind::Object: {
      out += '{';
      bool first = true;
      for (const zv::JsonMember& m : v.Members()) {
        if (!first) out += ',';
        first = false;
        zv::AppendJsonString(out, m.name, zv::JsonSlash::Plain);
        out += ':';
        Write(out, m.value);
      }
      out += '}';
      return;
    }
  }
}

[[noreturn]] void Broken(const char* what, std::string_view text) {
  std::fprintf(stderr, "JSON reader property broken: %s\n%.*s\n", what,
               static_cast<int>(text.size() > 2000 ? 2000 : text.size()), text.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // A small bound, so that the fuzzer also reaches the "too many values" way out.
  bool too_many = false;
  const std::optional<zv::JsonValue> small = zv::ParseJson(text, 64, &too_many);
  const std::optional<zv::JsonValue> parsed = zv::ParseJson(text);
  if (small && too_many) Broken("a value given and too_many set", text);
  if (small && !parsed) Broken("parsed under a bound of 64 values, not under the full bound", text);
  if (!small && !too_many && parsed) Broken("refused under a bound it did not reach", text);
  if (!parsed) return 0;

  std::string written;
  Write(written, *parsed);
  const std::optional<zv::JsonValue> again = zv::ParseJson(written);
  if (!again) Broken("what was parsed, written back, does not parse", written);
  std::string rewritten;
  Write(rewritten, *again);
  if (rewritten != written) Broken("written back twice, the texts differ", rewritten);
  return 0;
}
