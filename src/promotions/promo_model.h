#pragma once
// The promotion document the platform returns for one store's accepted or rejected promotions:
// TRoot holds the promotions, each promotion its author and details, the details their
// conditions and benefits, and those their items, articles, payment methods and customer
// groups. An object member that is absent keeps the empty object the constructor made; a JSON
// null leaves no object. The import tells these apart (ShapeOf).
//
// One promotion that cannot be read does not spoil the document: TRoot keeps it as a refused
// entry (its error, position and, when readable, its id) beside the promotions that read, so the
// import refuses that one and writes the others.

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "base/money.h"
#include "platform/json_helpers.h"
#include "promotions/json_dto.h"

namespace zv {

class TAutor {
 public:
  const std::string& Descripcion() const { return FDescripcion; }
  void SetDescripcion(std::string v) { FDescripcion = std::move(v); }

  JsonValue ToJsonValue() const;
  void ReadObject(const JsonValue& obj, const std::string& path);
  static std::span<const DtoField> Fields();
  void ReadField(int field, const JsonValue& v, const std::string& path);

 private:
  std::string FDescripcion;
};

class TArticulos {
 public:
  const std::string& CodigoBarras() const { return FCodigoBarras; }
  void SetCodigoBarras(std::string v) { FCodigoBarras = std::move(v); }
  const std::string& Nombre() const { return FNombre; }
  void SetNombre(std::string v) { FNombre = std::move(v); }

  JsonValue ToJsonValue() const;
  void ReadObject(const JsonValue& obj, const std::string& path);
  static std::span<const DtoField> Fields();
  void ReadField(int field, const JsonValue& v, const std::string& path);

 private:
  std::string FCodigoBarras;
  std::string FNombre;
};

class TGruposCliente {
 public:
  const std::string& Descripcion() const { return FDescripcion; }
  void SetDescripcion(std::string v) { FDescripcion = std::move(v); }
  const std::string& Id() const { return FId; }
  void SetId(std::string v) { FId = std::move(v); }
  const std::string& Tipo() const { return FTipo; }
  void SetTipo(std::string v) { FTipo = std::move(v); }

  JsonValue ToJsonValue() const;
  void ReadObject(const JsonValue& obj, const std::string& path);
  static std::span<const DtoField> Fields();
  void ReadField(int field, const JsonValue& v, const std::string& path);

 private:
  std::string FDescripcion;
  std::string FId;
  std::string FTipo;
};

class TFormasPago : public TJsonDTO {
 public:
  const std::string& Descripcion() const { return FDescripcion; }
  void SetDescripcion(std::string v) { FDescripcion = std::move(v); }
  // 10 credit card, 13 debit card.
  int32_t CodigoTipoPago() const { return FCodigoTipoPago; }
  void SetCodigoTipoPago(int32_t v) { FCodigoTipoPago = v; }
  const std::string& CodigoTarjeta() const { return FCodigoTarjeta; }
  void SetCodigoTarjeta(std::string v) { FCodigoTarjeta = std::move(v); }
  const std::string& CodigoMoneda() const { return FCodigoMoneda; }
  void SetCodigoMoneda(std::string v) { FCodigoMoneda = std::move(v); }
  // Card number prefixes, as texts.
  std::vector<std::string>& Bines() { return FBines; }
  const std::vector<std::string>& Bines() const { return FBines; }

  JsonValue ToJsonValue() const override;
  std::span<const DtoField> Fields() const override;
  void ReadField(int field, const JsonValue& v, const std::string& path) override;

 private:
  std::string FDescripcion;
  int32_t FCodigoTipoPago = 0;
  std::string FCodigoTarjeta;
  std::string FCodigoMoneda;
  std::vector<std::string> FBines;
};

class TItems : public TJsonDTO {
 public:
  std::vector<TArticulos>& Articulos() { return FArticulos; }
  const std::vector<TArticulos>& Articulos() const { return FArticulos; }
  int32_t Cantidad() const { return FCantidad; }
  void SetCantidad(int32_t v) { FCantidad = v; }

  JsonValue ToJsonValue() const override;
  std::span<const DtoField> Fields() const override;
  void ReadField(int field, const JsonValue& v, const std::string& path) override;

 private:
  std::vector<TArticulos> FArticulos;
  int32_t FCantidad = 0;
};

class TBeneficios : public TJsonDTO {
 public:
  std::vector<TItems>& Items() { return FItems; }
  const std::vector<TItems>& Items() const { return FItems; }

  JsonValue ToJsonValue() const override;
  std::span<const DtoField> Fields() const override;
  void ReadField(int field, const JsonValue& v, const std::string& path) override;

 private:
  std::vector<TItems> FItems;
};

class TCondiciones : public TJsonDTO {
 public:
  std::vector<TFormasPago>& FormasPago() { return FFormasPago; }
  const std::vector<TFormasPago>& FormasPago() const { return FFormasPago; }
  std::vector<TGruposCliente>& GruposCliente() { return FGruposCliente; }
  const std::vector<TGruposCliente>& GruposCliente() const { return FGruposCliente; }
  std::vector<TItems>& Items() { return FItems; }
  const std::vector<TItems>& Items() const { return FItems; }

  JsonValue ToJsonValue() const override;
  std::span<const DtoField> Fields() const override;
  void ReadField(int field, const JsonValue& v, const std::string& path) override;

 private:
  std::vector<TFormasPago> FFormasPago;
  std::vector<TGruposCliente> FGruposCliente;
  std::vector<TItems> FItems;
};

class TDetalles {
 public:
  // Empty conditions and benefits, as a promotion without those members has.
  TDetalles();

  TBeneficios* Beneficios() { return FBeneficios.get(); }
  const TBeneficios* Beneficios() const { return FBeneficios.get(); }
  TCondiciones* Condiciones() { return FCondiciones.get(); }
  const TCondiciones* Condiciones() const { return FCondiciones.get(); }
  // A percentage or an amount, by the promotion's type.
  Money Descuento() const { return FDescuento; }
  void SetDescuento(Money v) { FDescuento = v; }
  int32_t Paga() const { return FPaga; }
  void SetPaga(int32_t v);
  // False when the document gave no "paga" (absent or null): 0 would give goods away.
  bool HasPaga() const { return FPagaGiven; }
  Money Precio() const { return FPrecio; }
  void SetPrecio(Money v);
  bool HasPrecio() const { return FPrecioGiven; }

  JsonValue ToJsonValue() const;
  void ReadObject(const JsonValue& obj, const std::string& path);
  static std::span<const DtoField> Fields();
  void ReadField(int field, const JsonValue& v, const std::string& path);

 private:
  std::unique_ptr<TBeneficios> FBeneficios;
  std::unique_ptr<TCondiciones> FCondiciones;
  Money FDescuento;
  int32_t FPaga = 0;
  bool FPagaGiven = false;
  Money FPrecio;
  bool FPrecioGiven = false;
};

class TResults {
 public:
  // An empty author and empty details.
  TResults();

  TAutor* Autor() { return FAutor.get(); }
  const TAutor* Autor() const { return FAutor.get(); }
  const std::string& Descripcion() const { return FDescripcion; }
  void SetDescripcion(std::string v) { FDescripcion = std::move(v); }
  TDetalles* Detalles() { return FDetalles.get(); }
  const TDetalles* Detalles() const { return FDetalles.get(); }
  int32_t Id() const { return FId; }
  void SetId(int32_t v);
  // False when the document gave no "id" (absent or null).
  bool HasId() const { return FIdGiven; }
  int32_t LimitePromocionesPorTicket() const { return FLimitePromocionesPorTicket; }
  void SetLimitePromocionesPorTicket(int32_t v) { FLimitePromocionesPorTicket = v; }
  const std::string& Tipo() const { return FTipo; }
  void SetTipo(std::string v) { FTipo = std::move(v); }
  const std::string& Titulo() const { return FTitulo; }
  void SetTitulo(std::string v) { FTitulo = std::move(v); }
  // In UTC; the zero date when the document gave "".
  DateTime VigenciaDesde() const { return FVigenciaDesde; }
  void SetVigenciaDesde(DateTime v) { FVigenciaDesde = v; }
  DateTime VigenciaHasta() const { return FVigenciaHasta; }
  void SetVigenciaHasta(DateTime v) { FVigenciaHasta = v; }

  JsonValue ToJsonValue() const;
  void ReadObject(const JsonValue& obj, const std::string& path);
  static std::span<const DtoField> Fields();
  void ReadField(int field, const JsonValue& v, const std::string& path);

 private:
  std::unique_ptr<TAutor> FAutor;
  std::string FDescripcion;
  std::unique_ptr<TDetalles> FDetalles;
  int32_t FId = 0;
  bool FIdGiven = false;
  int32_t FLimitePromocionesPorTicket = 0;
  std::string FTipo;
  std::string FTitulo;
  DateTime FVigenciaDesde;
  DateTime FVigenciaHasta;
};

// One element of the document's "results": a promotion, or the error that kept it from being
// read (then it keeps the element's JSON, so writing the document back keeps it as it came).
class PromotionEntry {
 public:
  PromotionEntry(std::unique_ptr<TResults> promotion, int position);
  // `error` must hold a zv::Exception.
  PromotionEntry(JsonValue element, std::exception_ptr error, int position);

  bool Readable() const { return promotion_ != nullptr; }
  // The promotion; for one that could not be read, raises its error again (same kind and
  // message), so one handler around a promotion covers reading and writing it.
  TResults& Promotion();
  const TResults& Promotion() const;
  // "" for a readable promotion.
  const std::string& ErrorKind() const { return error_kind_; }
  const std::string& ErrorMessage() const { return error_message_; }
  // From 1, in document order.
  int Position() const { return position_; }
  // The promotion's id when the document gave a readable one, also for a refused promotion.
  std::optional<int32_t> Id() const;

  JsonValue ToJsonValue() const;

 private:
  std::unique_ptr<TResults> promotion_;
  JsonValue element_;
  std::exception_ptr error_;
  std::string error_kind_;
  std::string error_message_;
  int position_ = 0;
  std::optional<int32_t> refused_id_;
};

// The most promotions one answer may hold, far above any store's real list. A promotion is
// refused one by one, each keeping its element and its error, so without a bound a list of
// millions of small elements would take GBs before the first is looked at.
inline constexpr size_t kMaxPromotions = 10'000;

class TRoot : public TJsonDTO {
 public:
  // The promotions in document order, readable or refused.
  std::vector<PromotionEntry>& Results() { return FResults; }
  const std::vector<PromotionEntry>& Results() const { return FResults; }
  // The platform's count; nothing relies on it.
  int32_t Total() const { return FTotal; }
  void SetTotal(int32_t v) { FTotal = v; }

  JsonValue ToJsonValue() const override;
  std::span<const DtoField> Fields() const override;
  void ReadField(int field, const JsonValue& v, const std::string& path) override;

 private:
  std::vector<PromotionEntry> FResults;
  int32_t FTotal = 0;
};

// How the import classifies a promotion before writing it. Each test implies the ones it
// names: benefit items need benefits, benefits and conditions need details.
struct PromotionShape {
  bool has_details = false;
  bool has_benefits = false;
  bool has_benefit_items = false;
  bool has_conditions = false;
  bool has_condition_items = false;
  bool has_payment_methods = false;
  bool operator==(const PromotionShape&) const = default;
};
PromotionShape ShapeOf(const TResults& promotion);

}  // namespace zv
