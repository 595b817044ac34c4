// The service's own section of Dorvali.ini, read with the system's ini reader.

#include "base/service_options.h"
#include "os/system.h"

namespace zv {

ServiceOptions LoadServiceOptions(const std::string& exe_dir) {
  const std::string ini = exe_dir + "Dorvali.ini";
  // A default no store's file holds tells an absent key from an empty value.
  static const std::string kAbsent = "\x1f(absent)\x1f";
  return ParseServiceOptions([&](const std::string& key) -> std::optional<std::string> {
    std::string value = ReadIniString(ini, ServiceOptionsSection(), key, kAbsent);
    if (value == kAbsent) return std::nullopt;
    return value;
  });
}

}  // namespace zv
