// -SYNC: the sync cycle without the timer's waits, until nothing is left to send.

#include <ostream>

#include "platform/errors.h"
#include "service/foreground.h"
#include "service/srv_zentrovia.h"

namespace zv {

int64_t CountPendingSales(TStoreQuery& q, const IntegrationSettings& s) {
  q.ClearSQL();
  q.AddSQL(
      "select count(distinct v.venda) as pendentes from vendas v where v.venda > :ultvenda "
      "and v.data >= :datainicio and v.codigoproduto not in ('XXDESCONTOXX', "
      "'XXACRESCIMOXX', 'XXENTREGAXX', 'RECARGACELULAR')");
  q.ParamByName("ultvenda").AsInteger(s.zentrovia_ultvenda);
  q.ParamByName("datainicio").AsDate(s.zentrovia_datainicio);
  q.Prepare();
  q.Open();
  int64_t n = q.FieldByName("pendentes").AsInteger();
  q.ClearSQL();
  return n;
}

int RunSyncForeground(TSrvZentrovia& m, ManualTimer& timer, const SyncRunOptions& options,
                      std::ostream& out) {
  long cycles = 0;
  uint64_t sales_sent = 0;
  int64_t pending = -1;
  for (;;) {
    if (options.max_cycles > 0 && cycles >= options.max_cycles) {
      out << "Stopped after " << cycles << " cycles; " << sales_sent << " documents sent."
          << std::endl;
      return 0;
    }
    const DateTime now = m.clock().Now();
    const bool connected_before = m.DbConnected;
    const ZentroviaJob job = m.NextJob(now, now.Date());
    const uint64_t posts_before = m.Zentrovia->PostCount();

    const CycleOutcome outcome = m.ZentroviaTimerTimer();
    ++cycles;
    // Between cycles the timer only records what the cycle asked for.
    timer.Disable();

    switch (outcome) {
      case CycleOutcome::Stopped:
        return 0;
      case CycleOutcome::Paused:
      case CycleOutcome::ProbeFailed:
      case CycleOutcome::JobFailed:
        if (options.progress) out << std::endl;
        out << "The service entered a retry pause until " << m.FCooldownUntil.ToText() << " after "
            << cycles << " cycles (" << sales_sent
            << " documents sent); see Zentrovia.log for the reason." << std::endl;
        return 2;
      case CycleOutcome::Connected:
        if (!m.DbConnected) {
          out << "The store database could not be connected; see Zentrovia.log." << std::endl;
          return 2;
        }
        out << "Connected to the store database " << m.StoreServer << ":" << m.StoreDatabasePath
            << std::endl;
        if (options.progress) {
          try {
            pending = CountPendingSales(*m.StoreQuery3, m.Settings);
          } catch (const Exception&) {
            pending = -1;  // the progress line then shows what was sent only
          }
        }
        break;
      case CycleOutcome::JobDone: {
        const uint64_t posted = m.Zentrovia->PostCount() - posts_before;
        if (!connected_before) break;
        if (job == ZentroviaJob::EnviarVendas) {
          sales_sent += posted;
          if (options.progress) {
            out << "\rSales sent: " << sales_sent;
            if (pending >= 0) {
              int64_t left = pending - static_cast<int64_t>(sales_sent);
              out << ", left: " << (left > 0 ? left : 0);
            }
            out << "   " << std::flush;
          }
          if (posted == 0) {
            if (options.progress) out << std::endl;
            out << "Nothing left to send after " << cycles << " cycles; " << sales_sent
                << " sales sent." << std::endl;
            return 0;
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
