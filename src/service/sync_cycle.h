#pragma once
// The sync cycle: one tick of ZentroviaTimer runs at most one job. The cycle owns the retry
// pause; what it checks and runs comes through ISyncSteps, which the service module
// implements (and a test, with stand-ins).

#include <cstdint>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/datetime.h"
#include "base/integration_settings.h"
#include "base/log_sink.h"
#include "base/zentrovia_timer.h"
#include "service/job_retry.h"

namespace zv {

// How a cycle ended (for the foreground run and the tests; the service ignores it).
enum class CycleOutcome {
  Stopped,      // the service is stopping: nothing ran
  Paused,       // a retry pause is in force
  ProbeFailed,  // no internet: 15 minutes pause
  Connected,    // connect step ran (DbConnected tells whether it worked)
  JobDone,      // a job returned without error
  JobFailed,    // an error ended the cycle (logged, pause set)
};

// The job a cycle at `now` (its date `today`) runs with these settings: the first test that
// holds wins.
ZentroviaJob ChooseJob(const IntegrationSettings& settings, DateTime now, DateTime today);
// The same, passing over the jobs whose retry time is in force at `now`.
ZentroviaJob ChooseJob(const IntegrationSettings& settings, DateTime now, DateTime today,
                       const TJobRetryTimes& retries);
// Whether the due test of `job` holds (the sales upload: always).
bool JobIsDue(ZentroviaJob job, const IntegrationSettings& settings, DateTime now, DateTime today);

class ISyncSteps {
 public:
  virtual ~ISyncSteps() = default;
  virtual bool isInternetOk() = 0;
  virtual bool DbConnected() const = 0;
  // IniConn: connects and loads the settings; sets what DbConnected answers.
  virtual void IniConn() = 0;
  virtual void RunJob(ZentroviaJob job) = 0;
  // Whether the service is stopping: a job that ends early for it has not failed.
  virtual bool StopRequested() const { return false; }
};

class TSyncCycle {
 public:
  static constexpr uint32_t kIntervalAfterJob = 10000;
  static constexpr uint32_t kIntervalOtherwise = 30000;

  TSyncCycle(IZentroviaTimer& timer, const IClock& clock, LogSink log,
             const IntegrationSettings& settings, ISyncSteps& steps)
      : timer_(timer), clock_(clock), log_(std::move(log)), settings_(settings), steps_(steps) {}

  // ZentroviaTimerTimer: one cycle.
  CycleOutcome Run();
  // The job a cycle would run at `now` with the settings and retry times as they are.
  ZentroviaJob NextJob(DateTime now, DateTime today) const {
    return ChooseJob(settings_, now, today, retries_);
  }
  const TJobRetryTimes& RetryTimes() const { return retries_; }
  // The separators of the dates in the retry line (the log's own).
  void SetSeparators(char date_separator, char time_separator) {
    date_separator_ = date_separator;
    time_separator_ = time_separator;
  }
  // Whether the text of an error is a host name that does not resolve.
  static bool IsNameResolutionFailure(const std::string& text);

  // The retry pause: cycles before it do nothing; zero means none.
  DateTime FCooldownUntil;

 private:
  // Records the failure of the job a cycle started at `now` ran; returns the retry time it
  // set, none when no job ran, for the sales upload (the cycle's pause is its retry), or
  // when the job is no longer due.
  std::optional<JobRetry> JobFailed(std::optional<ZentroviaJob> job, DateTime now, DateTime today,
                                    const std::string& error);

  IZentroviaTimer& timer_;
  const IClock& clock_;
  LogSink log_;
  const IntegrationSettings& settings_;
  ISyncSteps& steps_;
  TJobRetryTimes retries_;
  char date_separator_ = '/';
  char time_separator_ = ':';
};

}  // namespace zv
