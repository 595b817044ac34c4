#pragma once
// The two foreground modes for support people: -SYNC runs the service's cycles back to
// back; -STATUS reports, without changing anything, where the service stands.

#include <cstdint>
#include <iosfwd>
#include <string>

namespace zv {

class TSrvZentrovia;
class ManualTimer;
class IClock;

// Process exit codes of the command line.
enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,   // the service could not be registered, or the run failed to start
  kExitStopped = 2,  // -SYNC or -STATUS ended on an error or a retry pause
  kExitLocked = 3,   // another process works on this installation, or the lock failed
  kExitUsage = 64,   // the command line is not understood
};

struct SyncRunOptions {
  long max_cycles = 0;    // 0: until nothing is left to send
  bool progress = false;  // a terminal: show a progress line
};

// Returns kExitOk when the run ended with nothing left to send (or after max_cycles),
// kExitStopped when a retry pause or a failed connection ended it.
int RunSyncForeground(TSrvZentrovia& module, ManualTimer& timer, const SyncRunOptions& options,
                      std::ostream& out);

// Reads the installation in `exe_dir` without writing anything, not even the log. Returns
// kExitOk, or kExitStopped with a message when the store cannot be reached.
// The last problems of Zentrovia.log's tail come with it, each with what it means.
int RunStatusReport(const std::string& exe_dir, const IClock& clock, std::ostream& out);
// The same report as one JSON object (never the password), with the same exit codes.
int RunStatusReportJson(const std::string& exe_dir, const IClock& clock, std::ostream& out);

}  // namespace zv
