#pragma once
// The firewall's list of authorized applications, written the way the service does it at
// every start.

#include <windows.h>

#include <string>
#include <vector>

namespace zv {

// The three lists, each a path from the root of HKEY_LOCAL_MACHINE, in the order written.
const std::vector<std::string>& AuthorizedApplicationKeys();

// Writes the REG_SZ value name = data = Executavel into each key under root, in order. A key
// is opened, never created; the first key that cannot be opened or written raises EOSError
// and the keys after it are left alone.
void AuthorizeApplicationInKeys(HKEY root, const std::vector<std::string>& keys,
                                const std::string& Executavel);

}  // namespace zv
