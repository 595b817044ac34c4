#pragma once
// What every job of the sync cycle receives: the store session, the platform client, the
// settings, the log, the timer and the clock. The service module owns all of them and hands
// them over; a test builds one over a real store and the fake platform.

#include <cstdint>
#include <exception>
#include <functional>
#include <set>
#include <string>

#include "base/clock.h"
#include "base/datetime.h"
#include "base/integration_settings.h"
#include "base/log_sink.h"
#include "base/service_options.h"
#include "base/zentrovia_timer.h"
#include "platform/answer.h"
#include "platform/zentrovia_client.h"
#include "store/store_session.h"

namespace zv {

// What an unfinished resend poll has already posted with a verdict, by document: a poll that
// an error ended goes on from there in a later cycle instead of posting it all again. Kept in
// memory until the poll completes (a restart of the process sends everything again).
class ResendProgress {
 public:
  // The progress belongs to the poll that was due since `last_poll`: a poll moved meanwhile
  // (completed, or set by hand in `padrao`) starts afresh.
  void Begin(DateTime last_poll) {
    if (last_poll != last_poll_) done_.clear();
    last_poll_ = last_poll;
  }
  bool Done(const std::string& key) const { return done_.count(key) != 0; }
  void MarkDone(const std::string& key) { done_.insert(key); }
  void Clear() { done_.clear(); }
  size_t Size() const { return done_.size(); }

 private:
  std::set<std::string> done_;
  DateTime last_poll_;
};

// The kinds of document a job posts, as the report counts them.
enum class PostedKind {
  Sale,
  Cancellation,
  Closing,  // the daily closing's own documents
  Resend,   // posted again at the platform's request or after a later-day cancellation
};

// What the job that runs did: the documents it posted, by kind, and the cursors it moved.
// The service module clears it before each job; the foreground run reads it afterwards.
class JobReport {
 public:
  struct Posts {
    uint64_t posted = 0;       // posts that got an answer
    uint64_t accepted = 0;     // of those, accepted by the platform
    uint64_t refused = 0;      // of those, rejected by the platform
    uint64_t passed_over = 0;  // of those, empty bodies for records that cannot be built
  };

  void NotePost(PostedKind kind, PlatformVerdict verdict, bool passed_over) {
    Posts& p = posts_[static_cast<size_t>(kind)];
    ++p.posted;
    if (verdict == PlatformVerdict::Accepted) ++p.accepted;
    if (verdict == PlatformVerdict::Rejected) ++p.refused;
    if (passed_over) ++p.passed_over;
  }
  void NoteCursorMoved(const std::string& cursor) { cursors_moved_.insert(cursor); }

  const Posts& Of(PostedKind kind) const { return posts_[static_cast<size_t>(kind)]; }
  uint64_t Posted() const {
    uint64_t n = 0;
    for (const Posts& p : posts_) n += p.posted;
    return n;
  }
  // Whether the cursor of that settings column moved.
  bool CursorMoved(const std::string& cursor) const { return cursors_moved_.count(cursor) != 0; }

 private:
  Posts posts_[4];
  std::set<std::string> cursors_moved_;
};

struct JobContext {
  TStoreSession& store;
  TZentrovia& platform;
  IntegrationSettings& settings;
  IZentroviaTimer& timer;
  const IClock& clock;
  LogSink log;
  // Asked between the steps of a long job; empty: never.
  std::function<bool()> stop_requested;
  // The date separator of the log's "dd/mm/yyyy" texts.
  char date_separator = '/';
  // The service's own settings (Dorvali.ini, [SrvZentrovia]) as last read by the connect step.
  ServiceOptions options;
  ResendProgress resend_progress;
  // Asked between the documents of a backlog drain; empty: never.
  std::function<bool()> pause_requested = {};
  // ReenviaCaixaZentrovia (closings/), wired by whoever builds the context: the closing jobs
  // call the movement jobs, so a movement job reaches the closing resend only through here.
  std::function<void(DateTime DataCaixa, const std::string& Terminal)> resend_closing = {};
  JobReport report = {};

  void DoSaveLog(const std::string& msg) const { log(msg); }
  bool StopRequested() const { return stop_requested && stop_requested(); }
  bool PauseRequested() const { return pause_requested && pause_requested(); }
  // The settings reload (GetCredenciaisZentrovia): reopens the connection and reads `padrao`.
  void ReloadSettings();
  // The closing of one day and till posted again (resend_closing); raises ENotAvailable when
  // the context was built without it, so the caller keeps its cursor.
  void ResendClosing(DateTime DataCaixa, const std::string& Terminal) const;
};

// The uploads stop the timer while they run; every way out, an error included, leaves it
// running at the configured interval (zentrovia_intervalo seconds).
class UploadTimerGuard {
 public:
  explicit UploadTimerGuard(JobContext& ctx) : ctx_(ctx) { ctx_.timer.Disable(); }
  ~UploadTimerGuard() {
    ctx_.timer.SetInterval(static_cast<uint32_t>(ctx_.settings.zentrovia_intervalo * 1000));
    ctx_.timer.Enable();
  }
  UploadTimerGuard(const UploadTimerGuard&) = delete;
  UploadTimerGuard& operator=(const UploadTimerGuard&) = delete;

 private:
  JobContext& ctx_;
};

// VerificarErroJSON: the text that ends an upload's log line (platform/answer.h), logging the
// posted document first when the platform rejected it.
std::string VerificarErroJSON(JobContext& ctx, const std::string& AJson);

// Log line and cursor of one post of a `kind` document whose answer decides whether a cursor
// moves (the post is noted in ctx.report):
//  - the line `log_prefix` + the answer's text goes to the log (the rejected document first);
//  - the cursor moves (`move_cursor`) when the answer is a verdict on the document (accepted
//    or rejected), or always when `passed_over` (an empty body posted for a document that
//    cannot be built: the decision to pass it over was taken before the post);
//  - once the post has returned, a log that cannot be written does not keep the cursor
//    where it was: the log's error is raised after the cursor has moved;
//  - an answer without a verdict (a login error, a page that is not JSON, a 404 ...) leaves
//    the cursor and raises ERESTException with the answer's text, so the cycle pauses and
//    the document goes out again once the channel is right.
void LogAnswerAndAdvance(JobContext& ctx, PostedKind kind, const TZentrovRetornos& retorno,
                         const std::string& log_prefix, bool passed_over,
                         const std::function<void()>& move_cursor);
// The same for a job that moves its cursor once after several posts: a log that cannot be
// written once the post has a verdict is kept in `log_failure` (the first such failure) for
// after the cursor, instead of raised.
void LogAnswerAndAdvance(JobContext& ctx, PostedKind kind, const TZentrovRetornos& retorno,
                         const std::string& log_prefix, bool passed_over,
                         const std::function<void()>& move_cursor, std::exception_ptr& log_failure);

}  // namespace zv
