// The movement document: the compact JSON writer, JsonVenda, and the build of one sale's
// document from the store database.

#include "movements/movement_document.h"

#include <algorithm>
#include <chrono>
#include <random>

#include "base/errors.h"
#include "jobs/job_rules.h"

namespace zv {

// ---- Compact JSON ----

void TJsonDocObject::AddKey(std::string_view key) {
  if (!body_.empty()) body_ += ',';
  AppendJsonString(body_, key);
  body_ += ':';
}

void TJsonDocObject::AddString(std::string_view key, std::string_view value) {
  AddKey(key);
  AppendJsonString(body_, value);
}

void TJsonDocObject::AddNumber(std::string_view key, Money value) {
  AddKey(key);
  body_ += value.ToJson();
}

void TJsonDocObject::AddInteger(std::string_view key, int64_t value) {
  AddKey(key);
  body_ += std::to_string(value);
}

void TJsonDocObject::AddBool(std::string_view key, bool value) {
  AddKey(key);
  body_ += value ? "true" : "false";
}

void TJsonDocObject::AddNull(std::string_view key) {
  AddKey(key);
  body_ += "null";
}

void TJsonDocObject::AddRaw(std::string_view key, std::string_view json) {
  AddKey(key);
  body_ += json;
}

void TJsonDocObject::AppendTo(std::string& out) const {
  out += '{';
  out += body_;
  out += '}';
}

std::string TJsonDocObject::ToJson() const {
  std::string out;
  AppendTo(out);
  return out;
}

void FreeJsonArrayObjs(TJsonObjectList& Arr) {
  for (auto& obj : Arr) obj.reset();
  Arr.clear();
}

namespace {

std::string JsonArray(const TJsonObjectList& list) {
  std::string out = "[";
  bool first = true;
  for (const auto& obj : list) {
    if (!obj) continue;
    if (!first) out += ',';
    first = false;
    obj->AppendTo(out);
  }
  out += ']';
  return out;
}

}  // namespace

std::string JsonVenda(const std::string& Fecha, const std::string& Numero, Money DescuentoTotal,
                      Money RecargoTotal, const std::string& CodigoMoneda, Money Cotizacion,
                      Money Total, bool Cancelacion, const std::string& DocumentoCliente,
                      int64_t CodigoCanalVenta, const std::string& DescripcionCanalVenta,
                      const TJsonObjectList& Detalles, const TJsonObjectList& Pagos) {
  TJsonDocObject doc;
  doc.AddString("fecha", Fecha);
  doc.AddString("numero", Numero);
  doc.AddNumber("descuentoTotal", DescuentoTotal);
  doc.AddNumber("recargoTotal", RecargoTotal);
  doc.AddString("codigoMoneda", CodigoMoneda);
  doc.AddNumber("cotizacion", Cotizacion);
  doc.AddNumber("total", Total);
  doc.AddBool("cancelacion", Cancelacion);
  if (TrimText(DocumentoCliente).empty()) {
    doc.AddNull("documentoCliente");
  } else {
    doc.AddString("documentoCliente", DocumentoCliente);
  }
  doc.AddInteger("codigoCanalVenta", CodigoCanalVenta);
  doc.AddString("descripcionCanalVenta", DescripcionCanalVenta);
  doc.AddRaw("detalles", JsonArray(Detalles));
  doc.AddRaw("pagos", JsonArray(Pagos));
  return doc.ToJson();
}

// ---- Pieces of the build ----

namespace movement {

std::unique_ptr<TJsonDocObject> NewPayment(int64_t codigo_tipo_pago, Money importe) {
  auto pago = std::make_unique<TJsonDocObject>();
  pago->AddInteger("codigoTipoPago", codigo_tipo_pago);
  pago->AddString("codigoMoneda", kCodigoMoneda);
  pago->AddNumber("importe", importe);
  pago->AddNumber("cotizacion", Money::FromInt(1));
  return pago;
}

void ReadGuarded(MovementDocument& doc, const std::function<void()>& read) {
  KeepDataError(doc.data_error, read);
}

// The number stands for the cancellation at the platform, so a cancellation posted again (a
// stop or a lost store between its post and its cursor update) must carry the same number,
// or it is counted as a second one. It is therefore drawn from a generator seeded by what
// identifies the cancellation, the sale and the first code of its run, rather than from the
// clock. seed_seq, mt19937_64 and the reduction by modulo are exact integer arithmetic that
// every standard library performs alike (uniform_int_distribution is not), so the Windows and
// Linux builds give the same number; the modulo's bias over 2^64 is below one in 10^10.
int64_t PartialCancellationNumber(int64_t venda, int64_t primeiro_codigo) {
  const auto v = static_cast<uint64_t>(venda);
  const auto c = static_cast<uint64_t>(primeiro_codigo);
  std::seed_seq seed{static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32),
                     static_cast<uint32_t>(c), static_cast<uint32_t>(c >> 32)};
  std::mt19937_64 generator(seed);
  return 100000000 + static_cast<int64_t>(generator() % 900000000u);
}

int64_t RandomCardDigits() {
  static std::mt19937 generator(static_cast<std::mt19937::result_type>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^ std::random_device{}()));
  return std::uniform_int_distribution<int64_t>(1000, 9999)(generator);
}

void AddCardFields(TJsonDocObject& pago, const std::string& autorizacao,
                   const std::string& ultimos_digitos, const std::string& bin) {
  if (autorizacao.empty()) return;
  if (!ultimos_digitos.empty()) {
    pago.AddString("ultimosDigitosTarjeta", ultimos_digitos);
  } else {
    pago.AddInteger("ultimosDigitosTarjeta", RandomCardDigits());
  }
  pago.AddString("numeroAutorizacion", autorizacao);
  pago.AddNull("codigoTarjeta");
  pago.AddString("bin", bin.empty() ? "123456" : bin);
}

}  // namespace movement

}  // namespace zv
