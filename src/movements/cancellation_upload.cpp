// EnviarVendasCanceladas: posts the cancelled sales above the cancellation cursor one after
// the other (jobs/drain.h), each as a movement document of its cancelled lines, and moves the
// cursor past each.

#include "movements/cancellation_upload.h"

#include <algorithm>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include "base/errors.h"
#include "jobs/drain.h"
#include "jobs/job_rules.h"
#include "movements/movement_document.h"
#include "movements/movement_sql.h"
#include "platform/payment_types.h"
#include "store/store_query.h"

namespace zv {

namespace {

using namespace movement_sql;

// The lowest pending code first: the cursor only grows, so a cancellation stored after a
// higher-coded one would otherwise be passed over for ever.
const std::string kNextCancellationOrdered =
    std::string(kNextCancellationStatement) + " order by v.codigocancelamento, v.venda";

void OpenSale(TStoreQuery& q, const std::string& sql, int64_t venda) {
  q.ClearSQL();
  q.AddSQL(sql);
  q.ParamByName("venda").AsInteger(venda);
  q.Prepare();
  q.Open();
}

std::vector<int64_t> SalesAtCode(JobContext& ctx, TStoreQuery& q, int64_t codigo) {
  q.ClearSQL();
  q.AddSQL(kSalesAtCancellationCodeStatement);
  q.ParamByName("codigocancelamento").AsInteger(codigo);
  q.ParamByName("datainicio").AsDate(ctx.settings.zentrovia_datainicio);
  q.Prepare();
  q.Open();
  std::vector<int64_t> sales;
  for (; !q.Eof(); q.Next()) sales.push_back(q.FieldByName("venda").AsInteger());
  q.Close();
  return sales;
}

std::set<int64_t> CancelledCodes(TStoreQuery& q, int64_t venda) {
  OpenSale(q, kCancelledCodesStatement, venda);
  std::set<int64_t> codes;
  for (; !q.Eof(); q.Next()) codes.insert(q.FieldByName("codigocancelamento").AsInteger());
  q.Close();
  return codes;
}

// The last code of the unbroken run that starts at the code found. A code beyond a gap may
// belong to another sale's cancellation, still unposted; a sale cancelled again later is
// found again by its next code and posted once more.
int64_t EndOfRun(const std::set<int64_t>& codes, int64_t found) {
  if (codes.count(found) == 0) return found;
  int64_t end = found;
  while (codes.count(end + 1) != 0) ++end;
  return end;
}

// The run stops short of a code that another sale holds: that sale's cancellation is found
// there by the next call instead of being passed over.
int64_t StopBeforeOtherSales(JobContext& ctx, TStoreQuery& q, int64_t found, int64_t end,
                             const std::vector<int64_t>& sales) {
  if (end == found) return end;
  q.ClearSQL();
  q.AddSQL(kCodesInRunStatement);
  q.ParamByName("primeiro").AsInteger(found);
  q.ParamByName("ultimo").AsInteger(end);
  q.ParamByName("datainicio").AsDate(ctx.settings.zentrovia_datainicio);
  q.Prepare();
  q.Open();
  int64_t stop = end;
  for (; !q.Eof(); q.Next()) {
    const int64_t venda = q.FieldByName("venda").AsInteger();
    if (std::find(sales.begin(), sales.end(), venda) == sales.end())
      stop = std::min(stop, q.FieldByName("codigocancelamento").AsInteger() - 1);
  }
  q.Close();
  return stop;
}

void AddCash(MovementDocument& doc, Money importe) {
  doc.pagos.push_back(movement::NewPayment(payment_type::kCash, importe));
  doc.canal_descricao += "-DINHEIRO";
}

// The payments of a sale cancelled as a whole, from its cancelled till record.
void AddTotalCancellationPayments(JobContext& ctx, MovementDocument& doc) {
  TStoreQuery& q1 = ctx.store.StoreQuery1();
  TStoreQuery& q2 = ctx.store.StoreQuery2();
  OpenSale(q1, kCancellationTillStatement, doc.venda);
  if (q1.FieldByName("naturezadaoperacao").AsString() != movement::kVendaAVista) {
    AddCash(doc, doc.lines_total + doc.surcharge - doc.additional_discount);
    return;
  }
  movement::AddItemisedPayments(q1, q2, doc, doc.lines_total + doc.surcharge);

  const Money dinheiro = q1.FieldByName("dinheiro").AsMoney();
  if (dinheiro > Money()) {
    // Only the cancelled goods are returned: the net cash counts up to their value, unless
    // a surcharge makes the cash belong to more than the goods.
    const Money net = dinheiro - q1.FieldByName("troco").AsMoney();
    AddCash(doc, doc.surcharge > Money() || net < doc.lines_total ? net : doc.lines_total);
  }
  if (doc.pagos.empty()) {
    AddCash(doc, doc.lines_total + doc.surcharge);
    doc.surcharge = Money();
    doc.additional_discount = Money();
    doc.discount_total = Money();
  }
}

// Nothing to post for the code: the cursor passes it all the same.
void LogNothingToPost(JobContext& ctx, int64_t codigo, int64_t venda,
                      std::exception_ptr& log_failure) {
  try {
    ctx.DoSaveLog("[Canc= " + std::to_string(codigo) + "]Venda " + std::to_string(venda) +
                  " sem item cancelado neste código; nada enviado");
  } catch (...) {
    if (!log_failure) log_failure = std::current_exception();
  }
}

// Posts the cancellation of one sale whose run of codes starts at `codigo`, then has the
// closing of its day sent again when it came on a later day. Returns once the platform gave
// its verdict (or the document was passed over as unbuildable) and the closing went out; a
// log that cannot be written after the post is kept in `log_failure` for after the cursor.
void PostSaleCancellation(JobContext& ctx, int64_t venda, int64_t codigo,
                          std::exception_ptr& log_failure) {
  TStoreQuery& q1 = ctx.store.StoreQuery1();
  TStoreQuery& q2 = ctx.store.StoreQuery2();

  if (CancelledCodes(q2, venda).count(codigo) == 0) {
    // The code's row carries no cancellation (or only the sale's other rows are cancelled,
    // and they are found by their own codes): there is nothing to post for it.
    LogNothingToPost(ctx, codigo, venda, log_failure);
    return;
  }

  OpenSale(q1, kRemainingLinesStatement, venda);
  const bool partial = !q1.IsEmpty();

  MovementDocument doc;
  doc.venda = venda;
  doc.cancelacion = true;

  q1.ClearSQL();
  q1.AddSQL(kCancelledLineStatement);
  q1.ParamByName("venda").AsInteger(venda);
  q1.ParamByName("datainicio").AsDate(ctx.settings.zentrovia_datainicio);
  q1.Prepare();
  q1.Open();
  if (q1.IsEmpty()) {
    // Only special rows (surcharge, discount) are cancelled: no line to show.
    LogNothingToPost(ctx, codigo, venda, log_failure);
    return;
  }
  // A cancellation on a later day changes a closing already sent: the sale's day and till
  // are kept to send it again.
  bool later_day = false;
  DateTime sale_day;
  std::string sale_till;
  movement::ReadGuarded(doc, [&] {
    const DateTime data = q1.FieldByName("data").AsDateTime();
    if (q1.FieldByName("cancelamento").AsDateTime().Date() > data.Date()) {
      sale_day = data;
      sale_till = q1.FieldByName("terminal").AsString();
      later_day = true;
    }
  });
  // Partial cancellations have no till of their own at the platform.
  ctx.platform.RequestTill = partial ? "9999" : q1.FieldByName("terminal").AsString();
  movement::ReadGuarded(doc, [&] { movement::ReadSaleHeader(q1, doc); });
  doc.numero = "-" + (partial ? std::to_string(movement::PartialCancellationNumber(venda, codigo))
                              : doc.numero);

  movement::ReadSurchargeAndDiscount(q2, kCancelledSurchargeStatement, doc);

  const bool passed_over = BuildOrPassOver(ctx, doc.batch, "Erro: ", [&] {
    if (doc.data_error) std::rethrow_exception(doc.data_error);
    movement::AddDetailLines(q1, doc);
    if (partial) {
      AddCash(doc, doc.lines_total);
    } else {
      AddTotalCancellationPayments(ctx, doc);
    }
    movement::FinishDocument(doc);
  });
  if (passed_over) doc.Free();

  ctx.platform.RequestBody = doc.batch;
  const TZentrovRetornos retorno = ctx.platform.postEnviarVenda();
  std::string key = doc.numero;
  key.erase(std::remove(key.begin(), key.end(), '-'), key.end());
  // No verdict raises: the cancellation goes again, the cursor stays.
  LogAnswerAndAdvance(
      ctx, PostedKind::Cancellation, retorno, (partial ? "[CancP= " : "[CancT= ") + key + "]",
      passed_over, [] {}, log_failure);
  // The closing goes again before the cursor moves, so that a stop in between sends both
  // again rather than neither. Its failure reaches the cycle with the cursor unmoved: a
  // closing left without the cancellation would never be corrected.
  if (later_day) ctx.ResendClosing(sale_day, sale_till);
  // The detail and payment objects go with `doc` on every way out.
}

}  // namespace

bool EnviaProximoCancelamento(JobContext& ctx) {
  TStoreQuery& q1 = ctx.store.StoreQuery1();
  TStoreQuery& q2 = ctx.store.StoreQuery2();

  movement::OpenNextRecord(q1, kNextCancellationOrdered, "zentrovia_ultcancelamento",
                           ctx.settings.zentrovia_ultcancelamento,
                           ctx.settings.zentrovia_datainicio);
  const int64_t venda = q1.FieldByName("venda").AsInteger();
  if (venda <= 0) return false;
  const int64_t codigo = q1.FieldByName("codigocancelamento").AsInteger();

  std::vector<int64_t> sales = SalesAtCode(ctx, q1, codigo);
  if (sales.empty()) sales.push_back(venda);
  std::set<int64_t> codes;
  for (int64_t s : sales) codes.merge(CancelledCodes(q2, s));
  const int64_t new_cursor = StopBeforeOtherSales(ctx, q2, codigo, EndOfRun(codes, codigo), sales);

  std::exception_ptr log_failure;
  for (int64_t s : sales) PostSaleCancellation(ctx, s, codigo, log_failure);

  MoveCursor(ctx, q1, kCancellationCursorUpdate, "codigocancelamento", "zentrovia_ultcancelamento",
             new_cursor, ctx.settings.zentrovia_ultcancelamento);
  if (log_failure) std::rethrow_exception(log_failure);
  return true;
}

int64_t CountPendingCancellations(TStoreQuery& q, const IntegrationSettings& s) {
  return movement::CountWithConditionsOf(
      q, kNextCancellationStatement, "count(distinct v.codigocancelamento)",
      [&](TStoreQuery& query) {
        movement::BindNextRecord(query, "zentrovia_ultcancelamento", s.zentrovia_ultcancelamento,
                                 s.zentrovia_datainicio);
      });
}

void EnviarVendasCanceladas(JobContext& ctx) {
  const UploadTimerGuard timer_guard(ctx);
  DrainBacklog(ctx, [&] {
    ctx.store.Reopen();
    const bool posted = EnviaProximoCancelamento(ctx);
    // With nothing to send the reload also picks up a cursor changed by hand in `padrao`.
    ctx.ReloadSettings();
    return posted;
  });
}

}  // namespace zv
