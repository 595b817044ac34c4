// EnviarVendasCanceladas: posts the cancelled sales above the cancellation cursor one after
// the other (jobs/drain.h), each as a movement document of its cancelled lines, and moves the
// cursor past each.

#include "movements/cancellation_upload.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <random>
#include <set>
#include <string>

#include "base/errors.h"
#include "closings/closing_resend.h"
#include "jobs/drain.h"
#include "movements/movement_document.h"
#include "movements/movement_sql.h"
#include "movements/sales_upload.h"
#include "store/store_query.h"

namespace zv {

namespace {

using namespace movement_sql;

// The lowest pending code first: the cursor only grows, so a cancellation stored after a
// higher-coded one would otherwise be passed over for ever.
const std::string kNextCancellationOrdered =
    std::string(kNextCancellationStatement) + " order by v.codigocancelamento";

// The cancelled lines together with their codes, which decide how far the cursor moves.
std::string CancelledLinesWithCodes() {
  std::string sql = kCancelledLineStatement;
  sql.insert(sql.find(" from vendas v "), ", v.codigocancelamento as codigocancelamento");
  return sql;
}

void OpenSale(TStoreQuery& q, const std::string& sql, int64_t venda) {
  q.ClearSQL();
  q.AddSQL(sql);
  q.ParamByName("venda").AsInteger(venda);
  q.Prepare();
  q.Open();
}

void OpenCancelledLines(JobContext& ctx, TStoreQuery& q, int64_t venda) {
  q.ClearSQL();
  q.AddSQL(CancelledLinesWithCodes());
  q.ParamByName("venda").AsInteger(venda);
  q.ParamByName("datainicio").AsDate(ctx.settings.zentrovia_datainicio);
  q.Prepare();
  q.Open();
}

// The new cursor: the last code of the unbroken run that starts at the code found. A code
// beyond a gap may belong to another sale's cancellation, still unposted; a sale cancelled
// again later is found again by its next code and posted once more.
int64_t EndOfRun(const std::set<int64_t>& codes, int64_t found) {
  if (codes.count(found) == 0) return found;
  int64_t end = found;
  while (codes.count(end + 1) != 0) ++end;
  return end;
}

// The number of a partial cancellation: the platform wants a document number of its own for
// it. One generator for the process: seeding again from the clock at each draw gives two
// cancellations of the same tick the same number.
int64_t PartialCancellationNumber() {
  static std::mt19937_64 generator(
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<uint64_t>(std::random_device{}()) << 32));
  return std::uniform_int_distribution<int64_t>(100000000, 999999999)(generator);
}

void AddCash(MovementDocument& doc, Money importe) {
  doc.pagos.push_back(movement::NewPayment(9, importe));
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

}  // namespace

// One cancellation: answers false when none waits.
static bool EnviaProximoCancelamento(JobContext& ctx) {
  ctx.store.Reopen();
  TStoreQuery& q1 = ctx.store.StoreQuery1();
  TStoreQuery& q2 = ctx.store.StoreQuery2();

  q1.ClearSQL();
  q1.AddSQL(kNextCancellationOrdered);
  q1.ParamByName("zentrovia_ultcancelamento").AsInteger(ctx.settings.zentrovia_ultcancelamento);
  q1.ParamByName("datainicio").AsDate(ctx.settings.zentrovia_datainicio);
  q1.Prepare();
  q1.Open();
  const int64_t venda = q1.FieldByName("venda").AsInteger();
  if (venda <= 0) {
    // Also picks up a cursor changed by hand in the settings row.
    ctx.ReloadSettings();
    return false;
  }
  const int64_t codigo = q1.FieldByName("codigocancelamento").AsInteger();

  OpenSale(q1, kRemainingLinesStatement, venda);
  const bool partial = !q1.IsEmpty();

  MovementDocument doc;
  doc.venda = venda;
  doc.cancelacion = true;

  OpenCancelledLines(ctx, q1, venda);
  // A cancellation on a later day changes a closing already sent: the sale's day and till
  // are kept to send it again.
  bool later_day = false;
  DateTime sale_day;
  std::string sale_till;
  if (!q1.IsEmpty()) {
    const DateTime data = q1.FieldByName("data").AsDateTime();
    if (q1.FieldByName("cancelamento").AsDateTime().Date() > data.Date()) {
      later_day = true;
      sale_day = data;
      sale_till = q1.FieldByName("terminal").AsString();
    }
  }
  // Partial cancellations have no till of their own at the platform.
  ctx.platform.RequestTill = partial ? "9999" : q1.FieldByName("terminal").AsString();
  movement::ReadSaleHeader(q1, doc);
  doc.numero = "-" + doc.numero;
  std::set<int64_t> codes;
  for (; !q1.Eof(); q1.Next()) codes.insert(q1.FieldByName("codigocancelamento").AsInteger());
  const int64_t new_cursor = EndOfRun(codes, codigo);

  OpenSale(q2, kCancelledSurchargeStatement, venda);
  doc.surcharge = q2.IsEmpty() ? Money() : q2.FieldByName("acressimo").AsMoney();
  q2.ClearSQL();
  q2.AddSQL(kAdditionalDiscountStatement);
  q2.ParamByName("venda").AsInteger(venda);
  q2.ParamByName("codigoproduto").AsString("XXDESCONTOXX");
  q2.Prepare();
  q2.Open();
  if (!q2.IsEmpty()) doc.additional_discount = q2.FieldByName("desconto").AsMoney();

  // The lines were read once for their codes; the details are built from a second reading.
  OpenCancelledLines(ctx, q1, venda);

  bool passed_over = false;
  try {
    movement::AddDetailLines(q1, doc);
    if (partial) {
      AddCash(doc, doc.lines_total);
    } else {
      AddTotalCancellationPayments(ctx, doc);
    }
    if (partial) doc.numero = "-" + std::to_string(PartialCancellationNumber());
    movement::FinishDocument(doc);
  } catch (const std::exception& e) {
    if (!IsDataError(e)) throw;
    // The cancellation cannot be expressed as a document: it is posted empty and passed
    // over, so one broken cancellation never holds back the ones after it.
    const auto& own = static_cast<const Exception&>(e);
    passed_over = true;
    doc.batch.clear();
    doc.Free();
    ctx.DoSaveLog(doc.batch);
    ctx.DoSaveLog("Erro: " + own.kind() + "\r\n" + "Mensagem: " + e.what());
  }

  // The closing goes again before the cursor moves, so that a stop in between sends both
  // again rather than neither; its failure does not hold the cursor back.
  const auto resend_closing_and_move = [&] {
    std::exception_ptr resend_failure;
    if (later_day) {
      try {
        ReenviaCaixaZentrovia(ctx, sale_day, sale_till);
      } catch (...) {
        resend_failure = std::current_exception();
      }
    }
    q1.ClearSQL();
    q1.AddSQL(kCancellationCursorUpdate);
    q1.ParamByName("codigocancelamento").AsInteger(new_cursor);
    q1.Prepare();
    q1.ExecSQL();
    // Moved in memory only once stored: a failed update leaves the cancellation to be posted
    // again, never passed over.
    ctx.settings.zentrovia_ultcancelamento = new_cursor;
    if (resend_failure) std::rethrow_exception(resend_failure);
  };

  ctx.platform.RequestBody = doc.batch;
  const TZentrovRetornos retorno = ctx.platform.postEnviarVenda();
  std::string key = doc.numero;
  key.erase(std::remove(key.begin(), key.end(), '-'), key.end());
  LogAnswerAndAdvance(ctx, retorno, (partial ? "[CancP= " : "[CancT= ") + key + "]", passed_over,
                      resend_closing_and_move);
  ctx.ReloadSettings();
  // The detail and payment objects go with `doc` on every way out.
  return true;
}

void EnviarVendasCanceladas(JobContext& ctx) {
  const UploadTimerGuard timer_guard(ctx);
  DrainBacklog(ctx, [&] { return EnviaProximoCancelamento(ctx); });
}

}  // namespace zv
