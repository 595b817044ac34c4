#pragma once
// The movement document: one sale of the store as the platform's movements endpoint takes
// it. The document is written by hand as compact JSON: the platform receives its strings
// with "/" escaped and its amounts as exact decimals, which a general JSON library does not
// write.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "base/money.h"
#include "base/text.h"
#include "platform/json_writer.h"

namespace zv {

class TStoreQuery;

// A JSON object whose members keep the order in which they were added. Each value is kept
// as its compact JSON text.
class TJsonDocObject {
 public:
  void AddString(std::string_view key, std::string_view value);
  void AddNumber(std::string_view key, Money value);
  void AddInteger(std::string_view key, int64_t value);
  void AddBool(std::string_view key, bool value);
  void AddNull(std::string_view key);
  // value must already be compact JSON.
  void AddRaw(std::string_view key, std::string_view json);
  void AppendTo(std::string& out) const;
  std::string ToJson() const;

 private:
  void AddKey(std::string_view key);
  std::string body_;  // members without the braces
};

// The detail or payment objects of one document; the list owns them.
using TJsonObjectList = std::vector<std::unique_ptr<TJsonDocObject>>;

// Releases every object in index order and empties the list; a second call does nothing.
void FreeJsonArrayObjs(TJsonObjectList& Arr);

// The header of a movement document, members in the platform's order. A DocumentoCliente
// that is blank after trimming is written as null. The objects of both lists stay with the
// caller.
std::string JsonVenda(const std::string& Fecha, const std::string& Numero, Money DescuentoTotal,
                      Money RecargoTotal, const std::string& CodigoMoneda, Money Cotizacion,
                      Money Total, bool Cancelacion, const std::string& DocumentoCliente,
                      int64_t CodigoCanalVenta, const std::string& DescripcionCanalVenta,
                      const TJsonObjectList& Detalles, const TJsonObjectList& Pagos);

// The working state of one document build. The sales upload, the movement resend and the
// cancellation upload fill it in two halves: the preparing statements, then the build that
// the calling job guards.
struct MovementDocument {
  int64_t venda = 0;
  std::string numero;    // document number, trimmed
  std::string cliente;   // customer tax id, trimmed ("" when none)
  DateTime datahora;     // the sale's timestamp (zero when the sale has no line)
  Money lines_total;     // sum of the details' importe
  Money discount_total;  // sum of the details' descuento, then the additional discount
  Money surcharge;       // surcharge or delivery fee
  Money additional_discount;
  bool partial = false;  // some lines cancelled, some not
  Money partial_total;   // amount of the cancelled lines of a partly cancelled sale
  int64_t canal = 1;
  std::string canal_descricao;
  Money total;
  bool cancelacion = false;
  std::string terminal;  // the till of the sale's first line ("" when it has none)
  TJsonObjectList detalles;
  TJsonObjectList pagos;
  // "[" + document + "]" once the build has finished; empty before and after a failed build.
  std::string batch;
  // The first data error met while the preparing statements were read: the build raises it,
  // so the calling job's guard passes the sale over as for an error of the build itself.
  std::exception_ptr data_error;

  ~MovementDocument() { Free(); }
  void Free() {
    FreeJsonArrayObjs(detalles);
    FreeJsonArrayObjs(pagos);
  }
};

// Pieces of the build shared by the jobs that post movement documents.
namespace movement {

inline constexpr const char* kCodigoMoneda = "986";
inline constexpr const char* kVendaAVista = "Venda a Vista";
inline constexpr const char* kDebito = "DÉBITO";

// From the line row where `lines` rests: the customer tax id, the document number (the sale
// number for a non-fiscal sale, else the fiscal receipt number) and the sale's timestamp.
void ReadSaleHeader(const TStoreQuery& lines, MovementDocument& doc);

// One detail object per remaining row of `lines` (which is left at Eof), by the line
// rules; adds to the lines and discount totals. Returns the `cancelamento` text of the last
// row read ("" when there was none).
std::string AddDetailLines(TStoreQuery& lines, MovementDocument& doc);

// A payment object with the four members every payment has.
std::unique_ptr<TJsonDocObject> NewPayment(int64_t codigo_tipo_pago, Money importe);

// Adds the card fields of a card entry when the authorization is not empty.
void AddCardFields(TJsonDocObject& pago, const std::string& autorizacao,
                   const std::string& ultimos_digitos, const std::string& bin);

// Runs `read` (values taken from the preparing statements' rows); a data error of the sale
// is kept in doc.data_error for the guarded build (KeepDataError, jobs/job_rules.h), so a
// value that cannot be read never holds back the records after it. Any other error (the
// store went away) goes to the caller.
void ReadGuarded(MovementDocument& doc, const std::function<void()>& read);

// The nine-digit number of a partial cancellation: 100000000 plus a draw below 900000000,
// the same for the same sale and first cancellation code on any machine and in any process.
int64_t PartialCancellationNumber(int64_t venda, int64_t primeiro_codigo);

// A substitute for missing last card digits: a pseudo-random integer from 1000 to 9999.
int64_t RandomCardDigits();

// The itemised payments that sales and cancellations share: cheque, exchange voucher,
// card(s), digital wallet and e-commerce, each at most `cap`. `row` rests on the payment
// row; the card rows are read on `q2`.
void AddItemisedPayments(TStoreQuery& row, TStoreQuery& q2, MovementDocument& doc, Money cap);

// The surcharge (from `surcharge_statement`, the sale's or its cancelled rows') and the
// additional discount of doc.venda, read on q2 under ReadGuarded.
void ReadSurchargeAndDiscount(TStoreQuery& q2, const char* surcharge_statement,
                              MovementDocument& doc);

// Binds the parameters of a next-record statement: the job's cursor (`cursor_param`) and the
// start date.
void BindNextRecord(TStoreQuery& q, const char* cursor_param, int64_t cursor, DateTime datainicio);
// Opens a next-record statement on q, its parameters bound by BindNextRecord.
void OpenNextRecord(TStoreQuery& q, const std::string& statement, const char* cursor_param,
                    int64_t cursor, DateTime datainicio);

// What a job has still to send, counted with the conditions of its own next-record statement
// (the text from " from " on): `counted` is the count expression, `bind` binds the
// statement's parameters. Runs on q.
int64_t CountWithConditionsOf(TStoreQuery& q, std::string_view statement, const char* counted,
                              const std::function<void(TStoreQuery&)>& bind);

// The totals, the channel prefix, the header and the batch text.
void FinishDocument(MovementDocument& doc);

}  // namespace movement

}  // namespace zv
