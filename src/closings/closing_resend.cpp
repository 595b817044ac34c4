// ReenviaCaixaZentrovia: one day's closing of one till (or of every till that sold) posted
// again, then the day's partial cancellations under till "9999". No cursor moves.

#include "closings/closing_resend.h"

#include <string>
#include <vector>

#include "base/errors.h"
#include "closings/closing_document.h"
#include "closings/closings_sql.h"
#include "jobs/job_rules.h"
#include "store/store_query.h"

namespace zv {

namespace {

// The tills that sold on the day, as the daily closing lists them (a NULL till as till 1),
// read whole before any of them is resent on the same query.
std::vector<std::string> DayTills(TStoreQuery& q, DateTime day) {
  q.ClearSQL();
  q.AddSQL(closings_sql::kDaySalesStatement);
  q.ParamByName("ZENTROVIA_ULTCAIXA").AsDate(day);
  q.Prepare();
  q.Open();
  std::vector<std::string> tills;
  for (; !q.Eof(); q.Next()) tills.push_back(q.FieldByName("TERMINAL").AsString());
  q.Close();
  return tills;
}

class Resend {
 public:
  Resend(JobContext& ctx, DateTime day, const std::string& progress_key,
         std::exception_ptr* log_failure)
      : ctx_(ctx),
        day_(day),
        date_text_(day.ToDateText(ctx.date_separator)),
        progress_key_(progress_key),
        log_failure_(log_failure) {}

  // The till's document, posted; false when the till sold nothing that is not cancelled.
  bool Till(const std::string& Terminal) {
    TStoreQuery& q1 = ctx_.store.StoreQuery1();
    TStoreQuery& q2 = ctx_.store.StoreQuery2();
    q1.ClearSQL();
    q1.AddSQL(closings_sql::kTillSalesStatement);
    q1.ParamByName("DATACAIXA").AsDate(day_);
    q1.ParamByName("TERMINAL").AsString(Terminal);
    q1.Prepare();
    q1.Open();
    if (q1.Eof()) return false;

    for (; !q1.Eof(); q1.Next()) {
      const Money net = q1.FieldByName("VALOR").AsMoney();
      const int64_t sales = q1.FieldByName("QUANTIDADE").AsInteger();
      const int64_t till = q1.FieldByName("TERMINAL").AsInteger();
      const std::string till_text = q1.FieldByName("TERMINAL").AsString();
      const std::string key = progress_key_ + "|caixa " + till_text;
      if (IsDone(key)) continue;
      ctx_.platform.RequestTill = till_text;
      const ClosingTotals partial =
          OpenClosingTotals(q2, closings_sql::kClosingTillPartialStatement, "DATACAIXA", day_,
                            &till)
              .value_or(ClosingTotals{});
      const ClosingTotals cancelled =
          OpenClosingTotals(q2, closings_sql::kResendFullCancellationStatement, "DATACAIXA", day_,
                            &till)
              .value_or(ClosingTotals{});
      document_ = ClosingDocument(net + partial.valor, cancelled.valor,
                                  sales + cancelled.quantidade, day_, cancelled.quantidade);
      Post("[REENVIO-CAIXA:", "Erro Reenvio Caixa Total: ", key);
    }
    return true;
  }

  void Partial() {
    const std::string key = progress_key_ + "|9999";
    if (IsDone(key)) return;
    const std::optional<ClosingTotals> day_partial = OpenClosingTotals(
        ctx_.store.StoreQuery2(), closings_sql::kDayPartialStatement, "DATACAIXA", day_, nullptr);
    if (!day_partial) return;
    document_ = PartialCancellationDocument(day_partial->valor, day_partial->quantidade, day_);
    ctx_.platform.RequestTill = kPartialCancellationTill;
    Post("[REENVIO-CAIXA-PARC.:", "Erro Reenvio Caixa Parcial: ", key);
  }

  // A statement failed: the call ends there.
  void Failed(const Exception& e) {
    ctx_.DoSaveLog(document_);
    LogError(ctx_, "Erro Reenvio Caixa: ", e);
    Keep(failure_);
  }

  void RaiseAny() {
    if (failure_) std::rethrow_exception(failure_);
    if (!log_failure_pending_) return;
    if (log_failure_ == nullptr) std::rethrow_exception(log_failure_pending_);
    if (!*log_failure_) *log_failure_ = log_failure_pending_;
  }

 private:
  bool IsDone(const std::string& key) const {
    return !progress_key_.empty() && ctx_.resend_progress.Done(key);
  }

  static void Keep(std::exception_ptr& slot) {
    if (!slot) slot = std::current_exception();
  }

  // Posts document_ to RequestTill. A failed post or an answer without verdict is logged with
  // `error_prefix` and kept; a log that fails once the verdict is in is kept apart.
  void Post(const char* log_prefix, const char* error_prefix, const std::string& key) {
    ctx_.platform.RequestBody = document_;
    try {
      const TZentrovRetornos retorno = ctx_.platform.postFechaCaixa();
      LogAnswerAndAdvance(
          ctx_, PostedKind::Resend, retorno, log_prefix + date_text_ + "]", false,
          [&] {
            if (!progress_key_.empty()) ctx_.resend_progress.MarkDone(key);
          },
          log_failure_pending_);
    } catch (const Exception& e) {
      ctx_.DoSaveLog(document_);
      LogError(ctx_, error_prefix, e);
      Keep(failure_);
    }
  }

  JobContext& ctx_;
  DateTime day_;
  std::string date_text_;
  const std::string& progress_key_;
  std::exception_ptr* log_failure_;
  std::string document_;  // the last document built, for the error lines
  std::exception_ptr failure_;
  std::exception_ptr log_failure_pending_;
};

}  // namespace

void ReenviaCaixaZentrovia(JobContext& ctx, DateTime DataCaixa, const std::string& Terminal,
                           const std::string& progress_key, std::exception_ptr* log_failure) {
  Resend resend(ctx, DataCaixa.Date(), progress_key, log_failure);
  try {
    // A request without a till stands for every till that sold on the day; the "9999"
    // document covers them all and goes once.
    const bool every_till = Terminal.empty();
    const std::vector<std::string> tills = every_till
                                               ? DayTills(ctx.store.StoreQuery1(), DataCaixa.Date())
                                               : std::vector<std::string>{Terminal};
    bool any_sold = false;
    for (const std::string& till : tills) any_sold = resend.Till(till) || any_sold;
    if (every_till ? !tills.empty() : any_sold) resend.Partial();
  } catch (const Exception& e) {
    resend.Failed(e);
  }
  resend.RaiseAny();
}

}  // namespace zv
