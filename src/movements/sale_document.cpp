// The build of one sale's movement document from the store database: the preparing
// statements, the detail lines, the payment rules and the header.

#include <string>
#include <vector>

#include "base/errors.h"
#include "movements/movement_document.h"
#include "movements/movement_sql.h"
#include "movements/sales_upload.h"
#include "platform/payment_types.h"
#include "platform/timestamp.h"
#include "store/store_query.h"

namespace zv {

namespace {

using namespace movement_sql;

void OpenSale(TStoreQuery& q, const char* sql, int64_t venda) {
  q.ClearSQL();
  q.AddSQL(sql);
  q.ParamByName("venda").AsInteger(venda);
  q.Prepare();
  q.Open();
}

Money AtMost(Money value, Money cap) {
  return value > cap ? cap : value;
}

int64_t CardCode(const std::string& operacao) {
  return operacao == movement::kDebito ? payment_type::kDebitCard : payment_type::kCreditCard;
}

const char* CardSuffix(int64_t code) {
  return code == payment_type::kDebitCard ? "-CARTAO DEBITO" : "-CARTAO CREDITO";
}

}  // namespace

namespace movement {

void ReadSaleHeader(const TStoreQuery& lines, MovementDocument& doc) {
  doc.cliente = TrimText(lines.FieldByName("cic").AsString());
  doc.numero = TrimText(lines.FieldByName("numeroserie").AsString() == "NAO FISCAL"
                            ? lines.FieldByName("venda").AsString()
                            : lines.FieldByName("numerocoo").AsString());
  // A line without a time has no timestamp: the sale's day at midnight stands for it.
  doc.datahora = lines.FieldByName("datahora").IsNull() && !lines.FieldByName("data").IsNull()
                     ? lines.FieldByName("data").AsDateTime().Date()
                     : lines.FieldByName("datahora").AsDateTime();
}

std::string AddDetailLines(TStoreQuery& lines, MovementDocument& doc) {
  std::string last_cancelamento;
  while (!lines.Eof()) {
    const Money precototal = lines.FieldByName("precototal").AsMoney();
    const Money precoautomatico = lines.FieldByName("precoautomatico").AsMoney();
    Money importe, descuento;
    if (precototal.IsZero()) {
      importe = precoautomatico;
    } else if (doc.surcharge > Money() || doc.additional_discount > Money()) {
      // The sale-level amounts are carried in the header; the line shows the list price
      // and its own difference to it.
      importe = precoautomatico;
      descuento = lines.FieldByName("subtotal").AsMoney() - precoautomatico;
    } else {
      importe = precototal;
      descuento = lines.FieldByName("desconto").AsMoney();
    }
    auto detalhe = std::make_unique<TJsonDocObject>();
    detalhe->AddString("codigoArticulo", lines.FieldByName("codhashinterno").AsString());
    detalhe->AddString("codigoBarras", lines.FieldByName("codigoproduto").AsString());
    detalhe->AddString("descripcionArticulo", lines.FieldByName("produto").AsString());
    detalhe->AddNumber("cantidad", lines.FieldByName("quantidade").AsMoney());
    detalhe->AddNumber("importeUnitario", lines.FieldByName("precounitario").AsMoney());
    detalhe->AddNumber("importe", importe);
    detalhe->AddNumber("descuento", descuento);
    detalhe->AddNumber("recargo", Money());
    doc.lines_total += importe;
    doc.discount_total += descuento;
    doc.detalles.push_back(std::move(detalhe));
    // The row the dataset rests on after the loop decides the payment statement.
    last_cancelamento = lines.FieldByName("cancelamento").AsString();
    lines.Next();
  }
  return last_cancelamento;
}

// The itemised ("Venda a Vista") payments: cheque, voucher, card(s), wallet, e-commerce;
// shared with the cancellation upload. `row` rests on the payment row; the card rows are
// read on `q2`.
void AddItemisedPayments(TStoreQuery& row, TStoreQuery& q2, MovementDocument& doc, Money cap) {
  auto append = [&doc](std::unique_ptr<TJsonDocObject> pago, const char* suffix) {
    doc.pagos.push_back(std::move(pago));
    doc.canal_descricao += suffix;
  };

  const Money cheque = row.FieldByName("cheque").AsMoney();
  if (cheque > Money()) append(NewPayment(payment_type::kCheque, AtMost(cheque, cap)), "-CHEQUE");

  const Money valetroca = row.FieldByName("valetroca").AsMoney();
  if (valetroca > Money())
    append(NewPayment(payment_type::kExchangeVoucher, AtMost(valetroca, cap)), "-DINHEIRO");

  const Money cartao = row.FieldByName("cartao").AsMoney();
  if (cartao > Money()) {
    OpenSale(q2, kCardRowsStatement, doc.venda);
    // The rows are read whole first: how many there are decides how they are used.
    struct CardRow {
      std::string operacao, autorizacao, ultimos, bin;
      Money valortotal;
    };
    std::vector<CardRow> cards;
    for (; !q2.Eof(); q2.Next()) {
      cards.push_back({q2.FieldByName("operacao").AsString(),
                       q2.FieldByName("autorizacao").AsString(),
                       q2.FieldByName("ultimosquatrodigitos").AsString(),
                       q2.FieldByName("bin").AsString(), q2.FieldByName("valortotal").AsMoney()});
    }
    if (cards.size() <= 1) {
      // One card (or none recorded): the till record carries the amount and the card.
      const int64_t code = CardCode(row.FieldByName("operacao").AsString());
      auto pago = NewPayment(code, AtMost(cartao, cap));
      AddCardFields(*pago, row.FieldByName("autorizacao").AsString(),
                    row.FieldByName("ultimosquatrodigitos").AsString(),
                    row.FieldByName("bin").AsString());
      append(std::move(pago), CardSuffix(code));
    } else {
      // Split across cards: each card row is its own payment, capped by the goods alone.
      for (const CardRow& card : cards) {
        const int64_t code = CardCode(card.operacao);
        auto pago = NewPayment(code, AtMost(card.valortotal, doc.lines_total));
        AddCardFields(*pago, card.autorizacao, card.ultimos, card.bin);
        append(std::move(pago), CardSuffix(code));
      }
    }
  }

  const Money carteiradigital = row.FieldByName("carteiradigital").AsMoney();
  if (carteiradigital > Money())
    append(NewPayment(payment_type::kDigitalWallet, AtMost(carteiradigital, cap)), "-PIX");

  const Money ecommerce = row.FieldByName("ecommerce").AsMoney();
  if (ecommerce > Money()) {
    // An e-commerce order is a delivery-app sale: its channel replaces the in-store one,
    // whatever other entries came before it.
    doc.pagos.push_back(NewPayment(payment_type::kCash, AtMost(ecommerce, cap)));
    doc.canal_descricao = "IFOOD";
    doc.canal = 3;
  }
}

void ReadSurchargeAndDiscount(TStoreQuery& q2, const char* surcharge_statement,
                              MovementDocument& doc) {
  OpenSale(q2, surcharge_statement, doc.venda);
  // A second surcharge or delivery line of the same sale is not added.
  ReadGuarded(
      doc, [&] { doc.surcharge = q2.IsEmpty() ? Money() : q2.FieldByName("acressimo").AsMoney(); });

  q2.ClearSQL();
  q2.AddSQL(kAdditionalDiscountStatement);
  q2.ParamByName("venda").AsInteger(doc.venda);
  q2.ParamByName("codigoproduto").AsString("XXDESCONTOXX");
  q2.Prepare();
  q2.Open();
  ReadGuarded(doc, [&] {
    if (!q2.IsEmpty()) doc.additional_discount = q2.FieldByName("desconto").AsMoney();
  });
}

void BindNextRecord(TStoreQuery& q, const char* cursor_param, int64_t cursor, DateTime datainicio) {
  q.ParamByName(cursor_param).AsInteger(cursor);
  q.ParamByName("datainicio").AsDate(datainicio);
}

void OpenNextRecord(TStoreQuery& q, const std::string& statement, const char* cursor_param,
                    int64_t cursor, DateTime datainicio) {
  q.ClearSQL();
  q.AddSQL(statement);
  BindNextRecord(q, cursor_param, cursor, datainicio);
  q.Prepare();
  q.Open();
}

int64_t CountWithConditionsOf(TStoreQuery& q, std::string_view statement, const char* counted,
                              const std::function<void(TStoreQuery&)>& bind) {
  q.ClearSQL();
  q.AddSQL("select " + std::string(counted) + " as pendentes" +
           std::string(statement.substr(statement.find(" from "))));
  bind(q);
  q.Prepare();
  q.Open();
  const int64_t n = q.FieldByName("pendentes").AsInteger();
  q.ClearSQL();
  return n;
}

void FinishDocument(MovementDocument& doc) {
  doc.discount_total += doc.additional_discount;
  doc.total = doc.lines_total + doc.surcharge - doc.additional_discount;
  if (doc.canal == 1) doc.canal_descricao = "VENDA NA LOJA" + doc.canal_descricao;
  const std::string document =
      JsonVenda(DateTimeToISO8601(doc.datahora), doc.numero, doc.discount_total, doc.surcharge,
                kCodigoMoneda, Money::FromInt(1), doc.total, doc.cancelacion, doc.cliente,
                doc.canal, doc.canal_descricao, doc.detalles, doc.pagos);
  doc.batch = "[" + document + "]";
}

}  // namespace movement

void PrepareSaleDocument(JobContext& ctx, int64_t Venda, MovementDocument& Doc) {
  using namespace movement_sql;
  TStoreQuery& q1 = ctx.store.StoreQuery1();
  TStoreQuery& q2 = ctx.store.StoreQuery2();
  Doc.venda = Venda;

  q1.ClearSQL();
  q1.AddSQL(kLineStatement);
  q1.ParamByName("venda").AsInteger(Venda);
  q1.ParamByName("datainicio").AsDate(ctx.settings.zentrovia_datainicio);
  q1.Prepare();
  q1.Open();

  Doc.terminal = q1.FieldByName("terminal").AsString();
  movement::ReadGuarded(Doc, [&] { movement::ReadSaleHeader(q1, Doc); });

  Doc.canal = 1;
  Doc.canal_descricao.clear();
  Doc.lines_total = Money();
  Doc.discount_total = Money();
  Doc.additional_discount = Money();
  Doc.partial_total = Money();

  movement::ReadSurchargeAndDiscount(q2, kSurchargeStatement, Doc);

  OpenSale(q2, kCancellationShapeStatement, Venda);
  // More than one distinct value: some lines cancelled and some not.
  Doc.partial = false;
  if (!q2.Eof()) {
    q2.Next();
    Doc.partial = !q2.Eof();
  }
  if (Doc.partial) {
    OpenSale(q2, kPartialCancellationStatement, Venda);
    movement::ReadGuarded(
        Doc, [&] { Doc.partial_total = q2.FieldByName("totalcancelamentoparcial").AsMoney(); });
  }
  q2.ClearSQL();
}

void BuildSaleDocument(JobContext& ctx, MovementDocument& Doc) {
  using namespace movement_sql;
  TStoreQuery& q1 = ctx.store.StoreQuery1();
  TStoreQuery& q2 = ctx.store.StoreQuery2();

  const std::string last_cancelamento = movement::AddDetailLines(q1, Doc);

  // A sale cancelled as a whole has its till record moved to the cancelled-till table; a
  // partly cancelled one keeps it in the till table.
  const char* till_sql =
      !last_cancelamento.empty() && !Doc.partial ? kCancelledTillStatement : kTillStatement;
  OpenSale(q1, till_sql, Doc.venda);

  const Money cap = Doc.lines_total + Doc.surcharge;
  if (q1.FieldByName("naturezadaoperacao").AsString() != movement::kVendaAVista) {
    Doc.pagos.push_back(movement::NewPayment(
        payment_type::kCash, Doc.lines_total + Doc.surcharge - Doc.additional_discount));
    Doc.canal_descricao += "-DINHEIRO";
  } else {
    movement::AddItemisedPayments(q1, q2, Doc, cap);

    const Money dinheiro = q1.FieldByName("dinheiro").AsMoney();
    const Money troco = q1.FieldByName("troco").AsMoney();
    bool cash = true;
    Money importe;
    if (dinheiro > Money() && !Doc.partial) {
      importe = dinheiro - troco;
    } else if (dinheiro > Money() && Doc.partial) {
      importe = dinheiro + Doc.partial_total - troco;
    } else if (dinheiro.IsZero() && Doc.partial) {
      importe = Doc.partial_total;
    } else {
      cash = false;
    }
    if (cash) {
      Doc.pagos.push_back(movement::NewPayment(payment_type::kCash, importe));
      Doc.canal_descricao += "-DINHEIRO";
    }

    if (Doc.pagos.empty()) {
      // Nothing itemised: the whole sale counts as cash at the goods' value, without the
      // sale-level adjustments that nothing would balance.
      Doc.pagos.push_back(movement::NewPayment(payment_type::kCash, Doc.lines_total));
      Doc.canal_descricao += "-DINHEIRO";
      Doc.surcharge = Money();
      Doc.additional_discount = Money();
      Doc.discount_total = Money();
    }
  }

  movement::FinishDocument(Doc);
}

}  // namespace zv
