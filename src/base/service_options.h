#pragma once
// The service's own settings: the optional [SrvZentrovia] section of Dorvali.ini beside the
// executable. The store's keys ([Dorvali]) belong to the point-of-sale system; these belong
// to this service. A missing section or key means the default; a value that cannot be read
// is an error naming the key, never a silent default.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zv {

struct ServiceOptions {
  // Longest a store call (attach, prepare, execute, fetch, commit, rollback) may take before
  // its attachment is cut.
  int store_call_deadline_s = 120;
  // Longest a sync cycle may run before the process ends with a failure exit, so that the
  // service manager starts it again.
  int cycle_ceiling_s = 600;
  // How long the sales and cancellation uploads go on with the next waiting document in the
  // same cycle; 0 sends one document per cycle.
  int drain_s = 5;

  // Where each value came from, in the order of Keys(): "default" or "Dorvali.ini".
  std::vector<std::string> sources;
};

// One key of the section.
struct ServiceOptionKey {
  const char* key;
  int ServiceOptions::*field;
  int default_value;
  int min_value;
  int max_value;
  // What it sets, in one line (shown by -STATUS and the README).
  const char* meaning;
};

const char* ServiceOptionsSection();
const std::vector<ServiceOptionKey>& ServiceOptionKeys();

// Builds the options from a lookup that answers a key's text, or nothing when the key is
// absent. Raises EConversionError naming the key for a value that is not a whole number in
// its range.
ServiceOptions ParseServiceOptions(
    const std::function<std::optional<std::string>(const std::string& key)>& lookup);

}  // namespace zv
