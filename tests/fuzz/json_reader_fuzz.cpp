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

  // Also with line breaks: the indented form reads back as the same value.
  const std::string written = zv::WriteJson(*parsed);
  const std::optional<zv::JsonValue> indented = zv::ParseJson(zv::WriteJson(*parsed, 2));
  if (!indented || zv::WriteJson(*indented) != written)
    Broken("the indented text does not read back as the same value", written);
  const std::optional<zv::JsonValue> again = zv::ParseJson(written);
  if (!again) Broken("what was parsed, written back, does not parse", written);
  const std::string rewritten = zv::WriteJson(*again);
  if (rewritten != written) Broken("written back twice, the texts differ", rewritten);
  return 0;
}
