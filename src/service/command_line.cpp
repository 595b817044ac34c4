#include "service/command_line.h"
#include "base/text.h"

#include <cctype>
#include <cstdlib>

namespace zv {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/')) {
      cl.error = "unknown argument: " + arg;
      continue;
    }
    const std::string name = AsciiUpper(arg.substr(1));
    if (name == "INSTALL") {
      cl.install = true;
    } else if (name == "UNINSTALL") {
      cl.uninstall = true;
    } else if (name == "SILENT") {
      cl.silent = true;
    } else if (name == "STATUS") {
      cl.status = true;
    } else if (name == "SYNC") {
      cl.sync = true;
    } else if (name == "VERSION") {
      cl.version = true;
    } else if (name == "JSON") {
      cl.json = true;
    } else if (name == "NOPROBE") {
      cl.no_probe = true;
    } else if (name == "DRAIN") {
      cl.drain = true;
    } else if (name == "MAXCYCLES") {
      char* end = nullptr;
      long n = i + 1 < args.size() ? std::strtol(args[i + 1].c_str(), &end, 10) : 0;
      if (i + 1 >= args.size() || *end != '\0' || n <= 0) {
        cl.error = "-MAXCYCLES needs a whole number above 0";
      } else {
        cl.max_cycles = n;
        ++i;
      }
    } else {
      cl.error = "unknown switch: " + arg;
    }
  }
  int modes = cl.install + cl.uninstall + cl.status + cl.sync + cl.version;
  if (cl.error.empty() && modes > 1)
    cl.error = "choose one of -INSTALL, -UNINSTALL, -STATUS, -SYNC, -VERSION";
  if (cl.error.empty() && cl.json && !cl.status) cl.error = "-JSON goes with -STATUS";
  if (cl.error.empty() && cl.drain && !cl.sync) cl.error = "-DRAIN goes with -SYNC";
  return cl;
}

}  // namespace zv
