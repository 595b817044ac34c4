// FechamentoCaixaZentrovia: every finished day from the closing cursor on, oldest first, one
// document per till that sold, then the day's partial cancellations under till "9999".

#include "closings/daily_closing.h"

#include <exception>
#include <optional>
#include <string>

#include "base/errors.h"
#include "closings/closing_document.h"
#include "closings/closings_sql.h"
#include "jobs/job_rules.h"
#include "movements/sales_upload.h"
#include "store/store_query.h"

namespace zv {

namespace {

enum class DayOutcome {
  Closed,       // every document of the day got a verdict; the cursor moved on
  PassedOver,   // no till sold on a day the store server has finished; the cursor moved on
  NotFinished,  // no row yet and the store server's date has not passed the day
  Stopped,      // the service is stopping: the day stays due and all its documents go again
};

// The cycle timer runs again whichever way a day's work ends.
struct RestartTimer {
  IZentroviaTimer& timer;
  ~RestartTimer() { timer.Enable(); }
};

void MoveClosingCursor(JobContext& ctx, TStoreQuery& q, const char* statement, DateTime next) {
  MoveCursor(ctx, q, statement, "zentrovia_ultcaixa", "zentrovia_ultcaixa", next,
             CursorBinding::Date, ctx.settings.zentrovia_ultcaixa);
}

bool ServerHasFinished(TStoreQuery& q, DateTime day) {
  q.ClearSQL();
  q.AddSQL(closings_sql::kServerDateStatement);
  q.Prepare();
  q.Open();
  const DateTime server_today = q.FieldByName("current_date").AsDateTime();
  q.ClearSQL();
  return server_today.Date() > day;
}

// Posts RequestBody to the till of RequestTill and writes the log line. An answer that says
// nothing about the document (a login error, a page that is not JSON ...) raises after its
// line, so the day stays due. A log that cannot be written does not stop the day once the
// post has returned: the first such failure is kept for after the cursor has moved.
void PostDocument(JobContext& ctx, const std::string& log_prefix, std::exception_ptr& log_failure) {
  LogAnswerAndAdvance(
      ctx, PostedKind::Closing, ctx.platform.postFechaCaixa(), log_prefix, false, [] {},
      log_failure);
}

// An error ends the run with the day still due (all its documents go again next time) and
// reaches the cycle, which gives the job its retry time: a day that keeps failing never holds
// back the sales upload.
DayOutcome CloseDay(JobContext& ctx, DateTime day) {
  TStoreQuery& q1 = ctx.store.StoreQuery1();
  TStoreQuery& q2 = ctx.store.StoreQuery2();
  q1.ClearSQL();
  q1.AddSQL(closings_sql::kDaySalesStatement);
  q1.ParamByName("ZENTROVIA_ULTCAIXA").AsDate(day);
  q1.Prepare();
  q1.Open();

  if (q1.Eof()) {
    // The statement counts only days the store server has finished: when its clock is
    // behind, the day's sales are still to come and the day must stay due.
    if (!ServerHasFinished(q1, day)) return DayOutcome::NotFinished;
    MoveClosingCursor(ctx, q1, closings_sql::kEmptyDayUpdate, day.AddDays(1));
    return DayOutcome::PassedOver;
  }

  const std::string date_text = day.ToDateText(ctx.date_separator);
  std::exception_ptr log_failure;
  for (; !q1.Eof(); q1.Next()) {
    if (ctx.StopRequested()) return DayOutcome::Stopped;
    const Money net = q1.FieldByName("VALOR").AsMoney();
    const int64_t sales = q1.FieldByName("QUANTIDADE").AsInteger();
    const int64_t till = q1.FieldByName("TERMINAL").AsInteger();
    ctx.platform.RequestTill = q1.FieldByName("TERMINAL").AsString();

    // The cancelled rows of partly cancelled sales stay in the till's net sales: the "9999"
    // document takes them off once for the whole day.
    const ClosingTotals partial =
        OpenClosingTotals(q2, closings_sql::kClosingTillPartialStatement, "DATACAIXA", day, &till)
            .value_or(ClosingTotals{});
    const ClosingTotals cancelled = OpenClosingTotals(q2, closings_sql::kFullCancellationStatement,
                                                      "ZENTROVIA_ULTCAIXA", day, &till)
                                        .value_or(ClosingTotals{});

    ctx.platform.RequestBody =
        ClosingDocument(net + partial.valor, cancelled.valor, sales + cancelled.quantidade, day,
                        cancelled.quantidade);
    PostDocument(ctx, "[F.Dia- " + date_text + "]", log_failure);
  }

  const std::optional<ClosingTotals> day_partial =
      OpenClosingTotals(q2, closings_sql::kDayPartialStatement, "DATACAIXA", day, nullptr);
  if (day_partial) {
    if (ctx.StopRequested()) return DayOutcome::Stopped;
    ctx.platform.RequestBody =
        PartialCancellationDocument(day_partial->valor, day_partial->quantidade, day);
    ctx.platform.RequestTill = kPartialCancellationTill;
    PostDocument(ctx, "[F.Parc- " + date_text + "]", log_failure);
  }

  MoveClosingCursor(ctx, q1, closings_sql::kClosedDayUpdate, day.AddDays(1));
  if (log_failure) std::rethrow_exception(log_failure);
  return DayOutcome::Closed;
}

}  // namespace

void FechamentoCaixaZentrovia(JobContext& ctx) {
  IntegrationSettings& s = ctx.settings;
  ctx.timer.Disable();
  // Nothing before the start date is ever sent. A cursor behind it (NULL cursor and start
  // date read as 30/12/1899) would otherwise walk one empty day per cycle while no sale
  // goes out.
  if (s.zentrovia_ultcaixa < s.zentrovia_datainicio)
    MoveClosingCursor(ctx, ctx.store.StoreQuery1(), closings_sql::kEmptyDayUpdate,
                      s.zentrovia_datainicio);

  for (;;) {
    ctx.timer.Disable();
    const DateTime day = s.zentrovia_ultcaixa;
    if (!(day < ctx.clock.Today())) break;
    // A catch-up of many days gives way to a stop between two of them.
    if (ctx.StopRequested()) {
      ctx.timer.Enable();
      return;
    }
    DayOutcome outcome;
    {
      RestartTimer restart{ctx.timer};
      outcome = CloseDay(ctx, day);
    }
    if (outcome == DayOutcome::Closed) continue;
    if (outcome == DayOutcome::NotFinished) break;
    return;
  }
  EnviarVendasZentrovia(ctx);
}

}  // namespace zv
