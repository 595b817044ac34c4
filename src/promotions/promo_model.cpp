// The promotion document: field tables, reading and writing of each class, and the shape tests.

#include "promotions/promo_model.h"

#include <array>

#include "base/errors.h"

namespace zv {

namespace {

// An owned object member: a new object from its constructor filled from the member, or none for
// a JSON null; anything else raises.
template <class T>
void ReadOwned(std::unique_ptr<T>& field, const JsonValue& v, const std::string& path) {
  const JsonValue* obj = ReadObjectValue(v, path);
  if (!obj) {
    field.reset();
    return;
  }
  auto fresh = std::make_unique<T>();
  fresh->ReadObject(*obj, path);
  field = std::move(fresh);
}

template <class T>
JsonValue OwnedToJson(const std::unique_ptr<T>& field) {
  return field ? field->ToJsonValue() : JsonValue::Null();
}

PromotionEntry ReadPromotion(const JsonValue& element, int position) {
  try {
    auto promotion = std::make_unique<TResults>();
    promotion->ReadObject(ReadElementObject(element, std::string()), std::string());
    return PromotionEntry(std::move(promotion), position);
  } catch (const Exception&) {
    return PromotionEntry(element, std::current_exception(), position);
  }
}

}  // namespace

// ---- TAutor, TArticulos, TGruposCliente ----

std::span<const DtoField> TAutor::Fields() {
  static constexpr std::array<DtoField, 1> kFields{{
      Field("FDescripcion", Reading::Lenient),
  }};
  return kFields;
}

void TAutor::ReadObject(const JsonValue& obj, const std::string& path) {
  ReadMembers(*this, Fields(), obj, path);
}

void TAutor::ReadField(int, const JsonValue& v, const std::string&) {
  TryReadText(v, FDescripcion);
}

JsonValue TAutor::ToJsonValue() const {
  JsonValue out = JsonValue::Object();
  out.Add("descripcion", JsonValue::String(FDescripcion));
  return out;
}

std::span<const DtoField> TArticulos::Fields() {
  static constexpr std::array<DtoField, 2> kFields{{
      Field("FCodigoBarras"),
      Field("FNombre", Reading::Lenient),
  }};
  return kFields;
}

void TArticulos::ReadObject(const JsonValue& obj, const std::string& path) {
  ReadMembers(*this, Fields(), obj, path);
}

void TArticulos::ReadField(int field, const JsonValue& v, const std::string& path) {
  if (field == 0)
    FCodigoBarras = ReadText(v, path);
  else
    TryReadText(v, FNombre);
}

JsonValue TArticulos::ToJsonValue() const {
  JsonValue out = JsonValue::Object();
  out.Add("codigoBarras", JsonValue::String(FCodigoBarras));
  out.Add("nombre", JsonValue::String(FNombre));
  return out;
}

std::span<const DtoField> TGruposCliente::Fields() {
  static constexpr std::array<DtoField, 3> kFields{{
      Field("FDescripcion", Reading::Lenient),
      Field("FId", Reading::Lenient),
      Field("FTipo", Reading::Lenient),
  }};
  return kFields;
}

void TGruposCliente::ReadObject(const JsonValue& obj, const std::string& path) {
  ReadMembers(*this, Fields(), obj, path);
}

void TGruposCliente::ReadField(int field, const JsonValue& v, const std::string&) {
  TryReadText(v, field == 0 ? FDescripcion : field == 1 ? FId : FTipo);
}

JsonValue TGruposCliente::ToJsonValue() const {
  JsonValue out = JsonValue::Object();
  out.Add("descripcion", JsonValue::String(FDescripcion));
  out.Add("id", JsonValue::String(FId));
  out.Add("tipo", JsonValue::String(FTipo));
  return out;
}

// ---- TFormasPago ----

std::span<const DtoField> TFormasPago::Fields() const {
  static constexpr std::array<DtoField, 5> kFields{{
      Field("FDescripcion", Reading::Lenient),
      Field("FCodigoTipoPago"),
      Field("FCodigoTarjeta", Reading::Lenient),
      Field("FCodigoMoneda", Reading::Lenient),
      NamedField("FBines", "bines"),
  }};
  return kFields;
}

void TFormasPago::ReadField(int field, const JsonValue& v, const std::string& path) {
  switch (field) {
    case 0:
      TryReadText(v, FDescripcion);
      break;
    case 1:
      FCodigoTipoPago = ReadInteger(v, path);
      break;
    case 2:
      TryReadText(v, FCodigoTarjeta);
      break;
    case 3:
      TryReadText(v, FCodigoMoneda);
      break;
    default:
      FBines = ReadTextList(v, path);
  }
}

JsonValue TFormasPago::ToJsonValue() const {
  JsonValue out = JsonValue::Object();
  out.Add("descripcion", JsonValue::String(FDescripcion));
  out.Add("codigoTipoPago", IntegerToJson(FCodigoTipoPago));
  out.Add("codigoTarjeta", JsonValue::String(FCodigoTarjeta));
  out.Add("codigoMoneda", JsonValue::String(FCodigoMoneda));
  out.Add("bines", TextListToJson(FBines));
  return out;
}

// ---- TItems, TBeneficios, TCondiciones ----
// A list is read from the member of its array field (exact key) and written from the list.

std::span<const DtoField> TItems::Fields() const {
  static constexpr std::array<DtoField, 3> kFields{{
      ArrayField("FArticulosArray", "articulos"),
      ListField("FArticulos"),
      Field("FCantidad"),
  }};
  return kFields;
}

void TItems::ReadField(int field, const JsonValue& v, const std::string& path) {
  if (field == 0)
    FArticulos = ReadObjectList<TArticulos>(v, path);
  else
    FCantidad = ReadInteger(v, path);
}

JsonValue TItems::ToJsonValue() const {
  JsonValue out = JsonValue::Object();
  out.Add("articulos", ObjectListToJson(FArticulos));
  out.Add("cantidad", IntegerToJson(FCantidad));
  return out;
}

std::span<const DtoField> TBeneficios::Fields() const {
  static constexpr std::array<DtoField, 2> kFields{{
      ArrayField("FItemsArray", "items"),
      ListField("FItems"),
  }};
  return kFields;
}

void TBeneficios::ReadField(int, const JsonValue& v, const std::string& path) {
  FItems = ReadObjectList<TItems>(v, path);
}

JsonValue TBeneficios::ToJsonValue() const {
  JsonValue out = JsonValue::Object();
  out.Add("items", ObjectListToJson(FItems));
  return out;
}

std::span<const DtoField> TCondiciones::Fields() const {
  static constexpr std::array<DtoField, 6> kFields{{
      ArrayField("FFormasPagoArray", "formasPago"),
      ListField("FFormasPago"),
      ArrayField("FGruposClienteArray", "gruposCliente", Reading::Lenient),
      ListField("FGruposCliente", Reading::Lenient),
      ArrayField("FItemsArray", "items"),
      ListField("FItems"),
  }};
  return kFields;
}

void TCondiciones::ReadField(int field, const JsonValue& v, const std::string& path) {
  switch (field) {
    case 0:
      FFormasPago = ReadObjectList<TFormasPago>(v, path);
      break;
    case 2:
      if (v.IsNull()) {
        FGruposCliente.clear();
      } else if (v.IsArray()) {
        std::vector<TGruposCliente> groups;
        for (const JsonValue& element : v.Items()) {
          if (!element.IsObject()) continue;
          groups.emplace_back();
          groups.back().ReadObject(element, path);
        }
        FGruposCliente = std::move(groups);
      }
      break;
    default:
      FItems = ReadObjectList<TItems>(v, path);
  }
}

JsonValue TCondiciones::ToJsonValue() const {
  JsonValue out = JsonValue::Object();
  out.Add("formasPago", ObjectListToJson(FFormasPago));
  out.Add("gruposCliente", ObjectListToJson(FGruposCliente));
  out.Add("items", ObjectListToJson(FItems));
  return out;
}

// ---- TDetalles ----

TDetalles::TDetalles()
    : FBeneficios(std::make_unique<TBeneficios>()),
      FCondiciones(std::make_unique<TCondiciones>()) {}

void TDetalles::SetPaga(int32_t v) {
  FPaga = v;
  FPagaGiven = true;
}

void TDetalles::SetPrecio(Money v) {
  FPrecio = v;
  FPrecioGiven = true;
}

std::span<const DtoField> TDetalles::Fields() {
  static constexpr std::array<DtoField, 5> kFields{{
      Field("FBeneficios"),
      Field("FCondiciones"),
      Field("FDescuento"),
      Field("FPaga"),
      Field("FPrecio"),
  }};
  return kFields;
}

void TDetalles::ReadObject(const JsonValue& obj, const std::string& path) {
  ReadMembers(*this, Fields(), obj, path);
}

void TDetalles::ReadField(int field, const JsonValue& v, const std::string& path) {
  switch (field) {
    case 0:
      ReadOwned(FBeneficios, v, path);
      break;
    case 1:
      ReadOwned(FCondiciones, v, path);
      break;
    case 2:
      FDescuento = ReadMoney(v, path);
      break;
    case 3:
      FPaga = ReadInteger(v, path);
      FPagaGiven = !v.IsNull();
      break;
    default:
      FPrecio = ReadMoney(v, path);
      FPrecioGiven = !v.IsNull();
  }
}

JsonValue TDetalles::ToJsonValue() const {
  JsonValue out = JsonValue::Object();
  out.Add("beneficios", OwnedToJson(FBeneficios));
  out.Add("condiciones", OwnedToJson(FCondiciones));
  out.Add("descuento", MoneyToJson(FDescuento));
  out.Add("paga", FPagaGiven ? IntegerToJson(FPaga) : JsonValue::Null());
  out.Add("precio", FPrecioGiven ? MoneyToJson(FPrecio) : JsonValue::Null());
  return out;
}

// ---- TResults ----

TResults::TResults()
    : FAutor(std::make_unique<TAutor>()), FDetalles(std::make_unique<TDetalles>()) {}

void TResults::SetId(int32_t v) {
  FId = v;
  FIdGiven = true;
}

namespace {
constexpr int kResultsId = 3;
}

std::span<const DtoField> TResults::Fields() {
  static constexpr std::array<DtoField, 9> kFields{{
      Field("FAutor", Reading::Lenient),
      Field("FDescripcion"),
      Field("FDetalles"),
      Field("FId"),
      Field("FLimitePromocionesPorTicket"),
      Field("FTipo"),
      Field("FTitulo", Reading::Lenient),
      Field("FVigenciaDesde"),
      Field("FVigenciaHasta"),
  }};
  return kFields;
}

void TResults::ReadObject(const JsonValue& obj, const std::string& path) {
  ReadMembers(*this, Fields(), obj, path);
}

void TResults::ReadField(int field, const JsonValue& v, const std::string& path) {
  switch (field) {
    case 0:
      if (v.IsNull()) {
        FAutor.reset();
      } else if (v.IsObject()) {
        auto autor = std::make_unique<TAutor>();
        autor->ReadObject(v, path);
        FAutor = std::move(autor);
      }
      break;
    case 1:
      FDescripcion = ReadText(v, path);
      break;
    case 2:
      ReadOwned(FDetalles, v, path);
      break;
    case kResultsId:
      FId = ReadInteger(v, path);
      FIdGiven = !v.IsNull();
      break;
    case 4:
      FLimitePromocionesPorTicket = ReadInteger(v, path);
      break;
    case 5:
      FTipo = ReadText(v, path);
      break;
    case 6:
      TryReadText(v, FTitulo);
      break;
    case 7:
      FVigenciaDesde = ReadDate(v, path);
      break;
    default:
      FVigenciaHasta = ReadDate(v, path);
  }
}

JsonValue TResults::ToJsonValue() const {
  JsonValue out = JsonValue::Object();
  out.Add("autor", OwnedToJson(FAutor));
  out.Add("descripcion", JsonValue::String(FDescripcion));
  out.Add("detalles", OwnedToJson(FDetalles));
  out.Add("id", FIdGiven ? IntegerToJson(FId) : JsonValue::Null());
  out.Add("limitePromocionesPorTicket", IntegerToJson(FLimitePromocionesPorTicket));
  out.Add("tipo", JsonValue::String(FTipo));
  out.Add("titulo", JsonValue::String(FTitulo));
  out.Add("vigenciaDesde", DateToJson(FVigenciaDesde));
  out.Add("vigenciaHasta", DateToJson(FVigenciaHasta));
  return out;
}

// ---- PromotionEntry ----

PromotionEntry::PromotionEntry(std::unique_ptr<TResults> promotion, int position)
    : promotion_(std::move(promotion)), position_(position) {}

PromotionEntry::PromotionEntry(JsonValue element, std::exception_ptr error, int position)
    : element_(std::move(element)), error_(std::move(error)), position_(position) {
  try {
    std::rethrow_exception(error_);
  } catch (const Exception& e) {
    error_kind_ = e.kind();
    error_message_ = e.what();
  }
  // The id alone, for the refusal's message: a promotion whose other values fail can still be
  // named by it.
  if (!element_.IsObject()) return;
  for (const MatchedMember& m : MatchMembers(TResults::Fields(), element_)) {
    int32_t id = 0;
    if (m.field == kResultsId && !m.value->IsNull() && TryReadInteger(*m.value, id)) {
      refused_id_ = id;
    }
  }
}

TResults& PromotionEntry::Promotion() {
  if (!promotion_) std::rethrow_exception(error_);
  return *promotion_;
}

const TResults& PromotionEntry::Promotion() const {
  if (!promotion_) std::rethrow_exception(error_);
  return *promotion_;
}

std::optional<int32_t> PromotionEntry::Id() const {
  if (!promotion_) return refused_id_;
  if (!promotion_->HasId()) return std::nullopt;
  return promotion_->Id();
}

JsonValue PromotionEntry::ToJsonValue() const {
  return promotion_ ? promotion_->ToJsonValue() : element_;
}

// ---- TRoot ----

std::span<const DtoField> TRoot::Fields() const {
  static constexpr std::array<DtoField, 3> kFields{{
      ArrayField("FResultsArray", "results"),
      ListField("FResults"),
      Field("FTotal", Reading::Lenient),
  }};
  return kFields;
}

void TRoot::ReadField(int field, const JsonValue& v, const std::string& path) {
  if (field != 0) {
    TryReadInteger(v, FTotal);
    return;
  }
  std::vector<PromotionEntry> entries;
  if (const JsonValue* array = ReadArrayValue(v, path)) {
    if (array->Items().size() > kMaxPromotions) {
      throw EConversionError(path + ": " + std::to_string(array->Items().size()) +
                             " promotions, more than the " + std::to_string(kMaxPromotions) +
                             " one answer may hold");
    }
    entries.reserve(array->Items().size());
    for (size_t i = 0; i < array->Items().size(); ++i) {
      entries.push_back(ReadPromotion(array->Items()[i], static_cast<int>(i + 1)));
    }
  }
  FResults = std::move(entries);
}

JsonValue TRoot::ToJsonValue() const {
  JsonValue out = JsonValue::Object();
  JsonValue results = JsonValue::Array();
  for (const PromotionEntry& entry : FResults) results.Append(entry.ToJsonValue());
  out.Add("results", std::move(results));
  out.Add("total", IntegerToJson(FTotal));
  return out;
}

// ---- Shape tests ----

PromotionShape ShapeOf(const TResults& promotion) {
  PromotionShape s;
  const TDetalles* details = promotion.Detalles();
  s.has_details = details != nullptr;
  s.has_benefits = s.has_details && details->Beneficios() != nullptr;
  s.has_benefit_items = s.has_benefits && !details->Beneficios()->Items().empty();
  s.has_conditions = s.has_details && details->Condiciones() != nullptr;
  s.has_condition_items = s.has_conditions && !details->Condiciones()->Items().empty();
  s.has_payment_methods = s.has_conditions && !details->Condiciones()->FormasPago().empty();
  return s;
}

}  // namespace zv
