#pragma once
// The two foreground modes for support people: -SYNC runs the service's cycles back to
// back; -STATUS reports, without changing anything, where the service stands.

#include <cstdint>
#include <iosfwd>

namespace zv {

class TSrvZentrovia;
class ManualTimer;
class TStoreQuery;
struct IntegrationSettings;

// Sales above the sales cursor and on or after the start date: what the sales upload has
// still to send. Runs on q.
int64_t CountPendingSales(TStoreQuery& q, const IntegrationSettings& s);

struct SyncRunOptions {
  long max_cycles = 0;    // 0: until nothing is left to send
  bool progress = false;  // a terminal: show a progress line
};

// Returns the process exit code: 0 when the run ended with nothing left to send (or after
// max_cycles), 2 when a retry pause or a failed connection ended it.
int RunSyncForeground(TSrvZentrovia& module, ManualTimer& timer, const SyncRunOptions& options,
                      std::ostream& out);

// Returns 0, or 2 with a message when the store cannot be reached.
int RunStatusReport(TSrvZentrovia& module, std::ostream& out);

}  // namespace zv
