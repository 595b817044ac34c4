// -SYNC: the sync cycle without the timer's waits, until nothing is left to send.

#include <optional>
#include <ostream>

#include "base/errors.h"
#include "movements/sales_upload.h"
#include "service/foreground.h"
#include "service/srv_zentrovia.h"

namespace zv {

namespace {

struct SyncCounts {
  uint64_t sales = 0;
  uint64_t passed_over = 0;  // empty bodies posted for sales that could not be built
  uint64_t cancellations = 0;
  uint64_t closings = 0;  // closing documents posted by the daily closing
  uint64_t resends = 0;   // documents posted again at the platform's request or after a
                          // later-day cancellation

  // What a job that returned did, as its report says.
  void Add(const JobReport& report) {
    const JobReport::Posts& sale_posts = report.Of(PostedKind::Sale);
    sales += sale_posts.posted - sale_posts.passed_over;
    passed_over += sale_posts.passed_over;
    cancellations += report.Of(PostedKind::Cancellation).posted;
    closings += report.Of(PostedKind::Closing).posted;
    resends += report.Of(PostedKind::Resend).posted;
  }

  void Write(std::ostream& out) const {
    out << sales << " sales, " << cancellations << " cancellations, " << closings
        << " closing documents, " << resends << " resent documents";
    if (passed_over > 0) {
      out << "; " << passed_over
          << " sales passed over as they cannot be built (see Zentrovia.log)";
    }
  }
};

// The cursor a job must move when it returns; a job that returns with it unmoved would be
// chosen again at once.
const char* CursorOf(ZentroviaJob job) {
  // In the order of ZentroviaJob.
  static constexpr const char* kCursors[] = {"zentrovia_verificareenvio", "zentrovia_verificapromo",
                                             "zentrovia_ultcaixa", "zentrovia_ultvenda"};
  return kCursors[static_cast<size_t>(job)];
}

// The sales upload returns with its cursor unmoved when nothing waits.
bool CursorMoved(ZentroviaJob job, const JobReport& report) {
  return job == ZentroviaJob::EnviarVendas || report.CursorMoved(CursorOf(job));
}

// Whether the failed cycle gave `job` a (new) retry time.
bool GotRetryTime(TSrvZentrovia& m, ZentroviaJob job, const std::optional<JobRetry>& before) {
  const std::optional<JobRetry>& after = m.Cycle().RetryTimes().Of(job);
  return after && (!before || after->failures != before->failures);
}

// Names the due jobs that are in their retry time; returns whether there was one.
bool WriteJobsPassedOver(TSrvZentrovia& m, std::ostream& out) {
  const DateTime now = m.clock().Now();
  bool any = false;
  for (ZentroviaJob job : {ZentroviaJob::VerificaReenvio, ZentroviaJob::AtualizaPromo,
                           ZentroviaJob::FechamentoCaixa}) {
    const std::optional<JobRetry>& retry = m.Cycle().RetryTimes().Of(job);
    if (!retry || !JobIsDue(job, m.Settings(), now, now.Date())) continue;
    out << JobName(job) << " is still due: it failed " << retry->failures
        << (retry->failures == 1 ? " time" : " times") << ", last with " << retry->error
        << ", and is passed over until " << retry->until.ToText().substr(0, 19)
        << "; see Zentrovia.log." << std::endl;
    any = true;
  }
  return any;
}

}  // namespace

int RunSyncForeground(TSrvZentrovia& m, ManualTimer& timer, const SyncRunOptions& options,
                      std::ostream& out) {
  long cycles = 0;
  SyncCounts counts;
  int64_t pending = -1;
  for (;;) {
    if (options.max_cycles > 0 && cycles >= options.max_cycles) {
      if (options.progress) out << std::endl;
      out << "Stopped after " << cycles << " cycles; ";
      counts.Write(out);
      out << "." << std::endl;
      return kExitOk;
    }
    const DateTime now = m.clock().Now();
    const bool connected_before = m.DbConnected();
    const ZentroviaJob job = m.NextJob(now, now.Date());
    const PromotionPassCounts promotions_before = m.PromotionCounts();
    const std::optional<JobRetry> retry_before = m.Cycle().RetryTimes().Of(job);

    const CycleOutcome outcome = m.ZentroviaTimerTimer();
    ++cycles;
    // Between cycles the timer only records what the cycle asked for.
    timer.Disable();

    switch (outcome) {
      case CycleOutcome::Stopped:
        return kExitOk;
      case CycleOutcome::JobFailed:
        if (GotRetryTime(m, job, retry_before)) {
          // The job steps aside as in the service; the others go on without the pause.
          const JobRetry& retry = *m.Cycle().RetryTimes().Of(job);
          if (options.progress) out << std::endl;
          out << JobName(job) << " failed (" << retry.error << "); passed over until "
              << retry.until.ToText().substr(0, 19) << "." << std::endl;
          m.Cycle().FCooldownUntil = DateTime();
          break;
        }
        [[fallthrough]];
      case CycleOutcome::Paused:
      case CycleOutcome::ProbeFailed:
        if (options.progress) out << std::endl;
        out << "The service entered a retry pause until " << m.FCooldownUntil().ToText()
            << " after " << cycles << " cycles (";
        counts.Write(out);
        out << "); see Zentrovia.log for the reason." << std::endl;
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
        if (!connected_before) break;
        const JobReport& report = m.Context().report;
        counts.Add(report);
        if (job == ZentroviaJob::AtualizaPromo) {
          const PromotionPassCounts& p = m.PromotionCounts();
          if (options.progress) out << std::endl;
          out << "AtualizaPromo: " << p.written - promotions_before.written << " written, "
              << p.refused - promotions_before.refused << " refused, "
              << p.marked_rejected - promotions_before.marked_rejected << " marked rejected"
              << std::endl;
        }
        if (options.progress) {
          out << "\r";
          counts.Write(out);
          if (pending >= 0) {
            const int64_t left = pending - static_cast<int64_t>(counts.sales + counts.passed_over);
            out << "; sales left: " << (left > 0 ? left : 0);
          }
          out << "   " << std::flush;
        }
        if (!CursorMoved(job, report)) {
          if (options.progress) out << std::endl;
          out << JobName(job) << " returned without moving " << CursorOf(job)
              << " (the next cycle would run it again); see Zentrovia.log." << std::endl;
          return kExitStopped;
        }
        if (job == ZentroviaJob::EnviarVendas && report.Posted() == 0) {
          if (options.progress) out << std::endl;
          out << "Nothing left to send after " << cycles << " cycles; ";
          counts.Write(out);
          out << "." << std::endl;
          return WriteJobsPassedOver(m, out) ? kExitStopped : kExitOk;
        }
        if (job != ZentroviaJob::EnviarVendas && !options.progress) {
          out << JobName(job) << " done." << std::endl;
        }
        break;
      }
    }
  }
}

}  // namespace zv
