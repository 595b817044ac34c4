// ReenviaCaixaZentrovia: one day's closing of one till (or of every till that sold) posted
// again, then the day's partial cancellations under till "9999". No cursor moves.

#include "closings/closing_resend.h"

#include <string>
#include <vector>

#include "base/errors.h"
#include "closings/closing_document.h"
#include "closings/closings_sql.h"
#include "store/store_query.h"

namespace zv {

namespace {

std::string ErrorLine(const char* prefix, const Exception& e) {
  return prefix + e.kind() + "\r\n" + "Mensagem: " + e.what();
}

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

// The till's document, posted; false when the till sold nothing that is not cancelled.
// `document` keeps the last document built, for the error lines.
bool ResendTill(JobContext& ctx, DateTime day, const std::string& Terminal, std::string& document) {
  TStoreQuery& q1 = ctx.store.StoreQuery1();
  TStoreQuery& q2 = ctx.store.StoreQuery2();
  q1.ClearSQL();
  q1.AddSQL(closings_sql::kTillSalesStatement);
  q1.ParamByName("DATACAIXA").AsDate(day);
  q1.ParamByName("TERMINAL").AsString(Terminal);
  q1.Prepare();
  q1.Open();
  if (q1.Eof()) return false;

  const std::string date_text = day.ToDateText(ctx.date_separator);
  for (; !q1.Eof(); q1.Next()) {
    const Money net = q1.FieldByName("VALOR").AsMoney();
    const int64_t sales = q1.FieldByName("QUANTIDADE").AsInteger();
    const int64_t till = q1.FieldByName("TERMINAL").AsInteger();
    ctx.platform.RequestTill = q1.FieldByName("TERMINAL").AsString();
    const ClosingTotals partial =
        OpenClosingTotals(q2, closings_sql::kTillPartialStatement, "DATACAIXA", day, &till)
            .value_or(ClosingTotals{});
    const ClosingTotals cancelled =
        OpenClosingTotals(q2, closings_sql::kResendFullCancellationStatement, "DATACAIXA", day,
                          &till)
            .value_or(ClosingTotals{});
    document = ClosingDocument(net + partial.valor, cancelled.valor, sales + cancelled.quantidade,
                               day, cancelled.quantidade);
    ctx.platform.RequestBody = document;
    try {
      const TZentrovRetornos retorno = ctx.platform.postFechaCaixa();
      ctx.DoSaveLog("[REENVIO-CAIXA:" + date_text + "]" +
                    VerificarErroJSON(ctx, retorno.json_retorno));
    } catch (const Exception& e) {
      ctx.DoSaveLog(document);
      ctx.DoSaveLog(ErrorLine("Erro Reenvio Caixa Total: ", e));
    }
  }
  return true;
}

}  // namespace

void ReenviaCaixaZentrovia(JobContext& ctx, DateTime DataCaixa, const std::string& Terminal) {
  const DateTime day = DataCaixa.Date();
  std::string document;
  try {
    // A request without a till stands for every till that sold on the day; the "9999"
    // document covers them all and goes once.
    const bool every_till = Terminal.empty();
    const std::vector<std::string> tills =
        every_till ? DayTills(ctx.store.StoreQuery1(), day) : std::vector<std::string>{Terminal};
    bool any_sold = false;
    for (const std::string& till : tills)
      any_sold = ResendTill(ctx, day, till, document) || any_sold;
    if (every_till ? tills.empty() : !any_sold) return;

    const std::optional<ClosingTotals> day_partial = OpenClosingTotals(
        ctx.store.StoreQuery2(), closings_sql::kDayPartialStatement, "DATACAIXA", day, nullptr);
    if (!day_partial) return;
    document = PartialCancellationDocument(day_partial->valor, day_partial->quantidade, day);
    ctx.platform.RequestBody = document;
    ctx.platform.RequestTill = kPartialCancellationTill;
    try {
      const TZentrovRetornos retorno = ctx.platform.postFechaCaixa();
      ctx.DoSaveLog("[REENVIO-CAIXA-PARC.:" + day.ToDateText(ctx.date_separator) + "]" +
                    VerificarErroJSON(ctx, retorno.json_retorno));
    } catch (const Exception& e) {
      ctx.DoSaveLog(document);
      ctx.DoSaveLog(ErrorLine("Erro Reenvio Caixa Parcial: ", e));
    }
  } catch (const Exception& e) {
    ctx.DoSaveLog(document);
    ctx.DoSaveLog(ErrorLine("Erro Reenvio Caixa: ", e));
  }
}

}  // namespace zv
