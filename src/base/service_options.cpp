#include "base/service_options.h"

#include <charconv>

#include "base/errors.h"
#include "base/text.h"

namespace zv {

const char* ServiceOptionsSection() {
  return "SrvZentrovia";
}

const std::vector<ServiceOptionKey>& ServiceOptionKeys() {
  static const std::vector<ServiceOptionKey> keys = {
      {"StoreCallDeadline", &ServiceOptions::store_call_deadline_s, 120, 1, 3600,
       "seconds a store call may take before its connection is cut"},
      {"CycleCeiling", &ServiceOptions::cycle_ceiling_s, 600, 1, 86400,
       "seconds a sync cycle may run before the process ends for its service manager to "
       "restart it"},
      {"DrainSeconds", &ServiceOptions::drain_s, 5, 0, 300,
       "seconds the uploads go on with the next waiting document in one cycle (0: one "
       "document per cycle)"},
  };
  return keys;
}

ServiceOptions ParseServiceOptions(
    const std::function<std::optional<std::string>(const std::string& key)>& lookup) {
  ServiceOptions options;
  for (const ServiceOptionKey& k : ServiceOptionKeys()) {
    std::optional<std::string> text = lookup(k.key);
    if (!text) {
      options.*k.field = k.default_value;
      options.sources.emplace_back("default");
      continue;
    }
    const std::string value = TrimText(*text);
    int parsed = 0;
    const char* end = value.data() + value.size();
    auto [ptr, ec] = std::from_chars(value.data(), end, parsed);
    if (value.empty() || ec != std::errc() || ptr != end || parsed < k.min_value ||
        parsed > k.max_value) {
      throw EConversionError("Dorvali.ini [" + std::string(ServiceOptionsSection()) + "] " + k.key +
                             "=" + value + ": expected a whole number from " +
                             std::to_string(k.min_value) + " to " + std::to_string(k.max_value));
    }
    options.*k.field = parsed;
    options.sources.emplace_back("Dorvali.ini");
  }
  return options;
}

}  // namespace zv
