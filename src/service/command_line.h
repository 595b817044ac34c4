#pragma once
// The process's switches: "-" or "/" in front, any letter case.

#include <optional>
#include <string>
#include <vector>

namespace zv {

struct CommandLine {
  bool install = false;
  bool uninstall = false;
  bool silent = false;
  bool status = false;
  bool sync = false;
  bool version = false;  // -VERSION: print the build's version and commit
  bool json = false;     // -JSON, with -STATUS: the report as one JSON object
  bool no_probe = false;
  bool drain = false;   // -DRAIN, with -SYNC: an upload sends what waits as the service does
  long max_cycles = 0;  // 0: no limit
  std::string error;    // set when a switch is not understood
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace zv
