#pragma once
// Which build this is: the project's version and the short commit it was built from
// ("unknown" outside a checkout). Both are written by the build (cmake/version.cmake).

#include <string>

namespace zv {

const char* ZentroviaVersion();
const char* ZentroviaCommit();

// "SrvZentrovia <version> (<commit>)": what -VERSION prints, -STATUS shows and the service's
// start line names.
inline std::string VersionText() {
  return std::string("SrvZentrovia ") + ZentroviaVersion() + " (" + ZentroviaCommit() + ")";
}

}  // namespace zv
