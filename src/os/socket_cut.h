#pragma once
// Cutting the sockets a library opened when it gives no handle to them: the store client's
// attach has no attachment to cancel yet while it waits for the server's first answers.

#include <string>
#include <vector>

namespace zv {

// The process's open sockets, as opaque ids (empty where the system cannot list them).
std::vector<std::string> OpenSocketIds();

// Shuts down, both ways, every open socket not in `before`: a call blocked on one returns at
// once with an error. Returns how many it shut down (0 where the system cannot list them).
int ShutdownSocketsOpenedSince(const std::vector<std::string>& before);

}  // namespace zv
