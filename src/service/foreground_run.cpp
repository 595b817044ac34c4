// -SYNC: the sync cycle without the timer's waits, until nothing is left to send.

#include <ostream>

#include "base/errors.h"
#include "movements/sales_upload.h"
#include "service/foreground.h"
#include "service/srv_zentrovia.h"

namespace zv {

int RunSyncForeground(TSrvZentrovia& m, ManualTimer& timer, const SyncRunOptions& options,
                      std::ostream& out) {
  long cycles = 0;
  uint64_t sales_sent = 0;
  uint64_t passed_over = 0;  // empty bodies posted for sales that could not be built
  int64_t pending = -1;
  for (;;) {
    if (options.max_cycles > 0 && cycles >= options.max_cycles) {
      out << "Stopped after " << cycles << " cycles; " << sales_sent << " documents sent."
          << std::endl;
      return kExitOk;
    }
    const DateTime now = m.clock().Now();
    const bool connected_before = m.DbConnected();
    const ZentroviaJob job = m.NextJob(now, now.Date());
    const uint64_t posts_before = m.Zentrovia().PostCount();
    const uint64_t empty_before = m.Zentrovia().EmptyPostCount();

    const CycleOutcome outcome = m.ZentroviaTimerTimer();
    ++cycles;
    // Between cycles the timer only records what the cycle asked for.
    timer.Disable();

    switch (outcome) {
      case CycleOutcome::Stopped:
        return kExitOk;
      case CycleOutcome::Paused:
      case CycleOutcome::ProbeFailed:
      case CycleOutcome::JobFailed:
        if (options.progress) out << std::endl;
        out << "The service entered a retry pause until " << m.FCooldownUntil().ToText()
            << " after " << cycles << " cycles (" << sales_sent
            << " documents sent); see Zentrovia.log for the reason." << std::endl;
        return kExitStopped;
      case CycleOutcome::Connected:
        if (!m.DbConnected()) {
          out << "The store database could not be connected; see Zentrovia.log." << std::endl;
          return kExitStopped;
        }
        out << "Connected to the store database " << m.Store().StoreServer() << ":"
            << m.Store().StoreDatabasePath() << std::endl;
        if (options.progress) {
          try {
            pending = CountPendingSales(m.Store().StoreQuery3(), m.Settings());
          } catch (const Exception&) {
            pending = -1;  // the progress line then shows what was sent only
          }
        }
        break;
      case CycleOutcome::JobDone: {
        const uint64_t empty = m.Zentrovia().EmptyPostCount() - empty_before;
        const uint64_t posted = m.Zentrovia().PostCount() - posts_before - empty;
        if (!connected_before) break;
        if (job == ZentroviaJob::EnviarVendas) {
          sales_sent += posted;
          passed_over += empty;
          if (options.progress) {
            out << "\rSales sent: " << sales_sent;
            if (pending >= 0) {
              int64_t left = pending - static_cast<int64_t>(sales_sent);
              out << ", left: " << (left > 0 ? left : 0);
            }
            out << "   " << std::flush;
          }
          if (posted == 0 && empty == 0) {
            if (options.progress) out << std::endl;
            out << "Nothing left to send after " << cycles << " cycles; " << sales_sent
                << " sales sent";
            if (passed_over > 0) {
              out << ", " << passed_over
                  << " passed over as they cannot be built (see Zentrovia.log)";
            }
            out << "." << std::endl;
            return kExitOk;
          }
        } else {
          if (options.progress) out << std::endl;
          out << JobName(job) << " done." << std::endl;
        }
        break;
      }
    }
  }
}

}  // namespace zv
