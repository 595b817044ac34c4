// The switches -VERSION, -JSON and -DRAIN: alone, together with the modes they go with, and not.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/command_line.h"

namespace zv {
namespace {

TEST(CommandLine, VersionAndJsonSwitches) {
  struct Case {
    std::vector<std::string> args;
    bool version, status, json;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{"-VERSION"}, true, false, false, ""},
      {{"/version"}, true, false, false, ""},
      {{"-STATUS", "-JSON"}, false, true, true, ""},
      {{"/json", "/Status"}, false, true, true, ""},
      {{"-JSON"}, false, false, true, "-JSON goes with -STATUS"},
      {{"-SYNC", "-JSON"}, false, false, true, "-JSON goes with -STATUS"},
      {{"-VERSION", "-STATUS"},
       true,
       true,
       false,
       "choose one of -INSTALL, -UNINSTALL, -STATUS, -SYNC, -VERSION"},
  };
  for (const Case& c : cases) {
    const CommandLine cl = ParseCommandLine(c.args);
    const std::string what = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
    EXPECT_EQ(cl.version, c.version) << what;
    EXPECT_EQ(cl.status, c.status) << what;
    EXPECT_EQ(cl.json, c.json) << what;
    EXPECT_EQ(cl.error, c.error) << what;
  }
}

TEST(CommandLine, DrainGoesWithSync) {
  struct Case {
    std::vector<std::string> args;
    bool drain;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{"-SYNC", "-DRAIN"}, true, ""},
      {{"/drain", "-sync", "-NOPROBE"}, true, ""},
      {{"-SYNC"}, false, ""},
      {{"-DRAIN"}, true, "-DRAIN goes with -SYNC"},
      {{"-STATUS", "-DRAIN"}, true, "-DRAIN goes with -SYNC"},
  };
  for (const Case& c : cases) {
    const CommandLine cl = ParseCommandLine(c.args);
    EXPECT_EQ(cl.drain, c.drain) << c.args[0];
    EXPECT_EQ(cl.error, c.error) << c.args[0];
  }
}

}  // namespace
}  // namespace zv
