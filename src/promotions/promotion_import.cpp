// AtualizaPromo: marks the promotions the store rejected on the platform, then writes the
// accepted ones into the promotion tables, one transaction per promotion, so that the tills
// never sell by half a promotion and one broken promotion never holds back the others.

#include "promotions/promotion_import.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/decimal.h"
#include "base/errors.h"
#include "base/text.h"
#include "jobs/job_rules.h"
#include "platform/payment_types.h"
#include "promotions/promotion_pass.h"
#include "promotions/promotions_sql.h"
#include "store/store_errors.h"
#include "store/store_query.h"

namespace zv {

namespace {

constexpr const char* kErrorPrefix = "Erro AtualizaPromo: ";

// Firebird's RDB$FIELD_TYPE codes of the columns the checks look at.
constexpr int64_t kFbChar = 14;
constexpr int64_t kFbVarchar = 37;
constexpr int64_t kFbSmallint = 7;
constexpr int64_t kFbInteger = 8;
constexpr int64_t kFbBigint = 16;

struct ColumnSize {
  bool text = false;
  int64_t chars = 0;
  bool fixed_point = false;  // NUMERIC or DECIMAL
  int precision = 0;
  int scale = 0;  // digits after the point
};

// The declared sizes of the promotion tables' columns. Firebird stores a NUMERIC(15,2) in a
// 64-bit integer and accepts any value that integer holds, and the binding cuts a text to its
// column; the import checks against the declaration itself instead.
class PromotionColumns {
 public:
  void Read(TStoreQuery& q) {
    q.ClearSQL();
    q.AddSQL(promotions_sql::kColumnSizes);
    q.Prepare();
    q.Open();
    for (; !q.Eof(); q.Next()) {
      const int64_t type = q.FieldByName("tipo").AsInteger();
      ColumnSize c;
      c.text = type == kFbChar || type == kFbVarchar;
      c.chars = q.FieldByName("tamanho").AsInteger();
      c.precision = static_cast<int>(q.FieldByName("precisao").AsInteger());
      c.scale = static_cast<int>(-q.FieldByName("escala").AsInteger());
      c.fixed_point = (type == kFbSmallint || type == kFbInteger || type == kFbBigint) &&
                      c.precision > 0 && c.scale >= 0;
      sizes_[Key(q.FieldByName("tabela").AsString(), q.FieldByName("coluna").AsString())] = c;
    }
    q.ClearSQL();
  }

  // nullptr when the store has no such column (the statement then says so itself).
  const ColumnSize* Find(std::string_view table, std::string_view column) const {
    const auto it = sizes_.find(Key(table, column));
    return it == sizes_.end() ? nullptr : &it->second;
  }

 private:
  static std::string Key(std::string_view table, std::string_view column) {
    return AsciiUpper(table) + "." + AsciiUpper(column);
  }
  std::map<std::string, ColumnSize> sizes_;
};

// An article code or BIN is a key: cut, or with "?" for a character the store's code page
// lacks, it would name another product or card. Such a key is never written.
bool KeyFits(const std::string& key, const ColumnSize* column) {
  if (key.empty()) return false;
  const std::string stored = Utf8ToWindows1252(key);
  if (Windows1252ToUtf8(stored) != key) return false;
  return !column || !column->text || static_cast<int64_t>(stored.size()) <= column->chars;
}

// Raises when `value`, rounded to the column's decimals as the binding rounds it, has more
// digits than the column declares.
void CheckAmount(const ColumnSize* column, std::string_view name, Money value) {
  if (!column || !column->fixed_point || column->precision > 18) return;
  const uint64_t raw =
      value.raw() < 0 ? 0 - static_cast<uint64_t>(value.raw()) : static_cast<uint64_t>(value.raw());
  bool fits = true;
  if (column->scale <= 4) {
    const uint64_t rounded = DivRoundHalfAway(raw, Pow10<uint64_t>(4 - column->scale));
    fits = rounded < Pow10<uint64_t>(column->precision);
  } else if (column->precision - column->scale + 4 < 19) {
    fits = raw < Pow10<uint64_t>(column->precision - column->scale + 4);
  }
  if (!fits) {
    throw EConversionError(std::string(name) + ": " + value.ToJson() + " does not fit NUMERIC(" +
                           std::to_string(column->precision) + "," + std::to_string(column->scale) +
                           ")");
  }
}

// TIPOPROMOCAO of a type code; nullptr (NULL) for the basket types and unknown codes.
const char* TypeLetter(const std::string& tipo) {
  if (tipo == "DESCUENTO_VARIABLE") return "N";
  if (tipo == "PRECIO_FIJO") return "K";
  if (tipo == "DESCUENTO_FIJO") return "F";
  if (tipo == "LLEVA_PAGA") return "P";
  return nullptr;
}

// One accepted promotion: what its shape makes the import write, the checks that refuse it
// before anything is written, and the statements.
class PromotionWriter {
 public:
  PromotionWriter(JobContext& ctx, const PromotionColumns& columns, const TResults& promotion)
      : ctx_(ctx),
        columns_(columns),
        p_(promotion),
        shape_(ShapeOf(promotion)),
        payment_path_(shape_.has_payment_methods),
        basket_path_(shape_.has_benefits && IsBasketType(promotion.Tipo()) &&
                     shape_.has_condition_items),
        plain_path_(!shape_.has_benefits && !shape_.has_payment_methods) {}

  bool WritesAnything() const {
    return shape_.has_condition_items && (payment_path_ || basket_path_ || plain_path_);
  }

  // Everything that would refuse the promotion half way is found here, before its first
  // statement: nothing is rolled back in vain and no basket number is spent on it.
  void Check() const {
    if ((payment_path_ || plain_path_) && shape_.has_condition_items) CheckPromotionRow();
    if (payment_path_ && shape_.has_condition_items) CheckBins();
    if (basket_path_) CheckBasket();
  }

  void Write() {
    if (payment_path_) WriteItemsPath(promotions_sql::kPromotionRowPayment, /*bins=*/true);
    if (basket_path_) WriteBasket();
    if (plain_path_) WriteItemsPath(promotions_sql::kPromotionRowPlain, /*bins=*/false);
  }

 private:
  const std::vector<TItems>& ConditionItems() const {
    return p_.Detalles()->Condiciones()->Items();
  }
  const std::vector<TItems>& BenefitItems() const { return p_.Detalles()->Beneficios()->Items(); }
  const TDetalles& Details() const { return *p_.Detalles(); }

  void CheckPromotionRow() const {
    const std::string& tipo = p_.Tipo();
    if (tipo == "PRECIO_FIJO") {
      // Written as 0 the price would give the products away.
      if (!Details().HasPrecio()) {
        throw EConversionError("detalles.precio: a PRECIO_FIJO promotion without a price");
      }
      CheckAmount(columns_.Find("ZENTROVA_PROMOCOES", "PRECOFIXO"), "PRECOFIXO",
                  Details().Precio());
    } else if (tipo == "LLEVA_PAGA") {
      if (!Details().HasPaga()) {
        throw EConversionError("detalles.paga: a LLEVA_PAGA promotion without the count paid");
      }
    } else if (tipo == "DESCUENTO_VARIABLE") {
      CheckAmount(columns_.Find("ZENTROVA_PROMOCOES", "DESCONTOPORCENTAGEM"), "DESCONTOPORCENTAGEM",
                  Details().Descuento());
    } else if (tipo == "DESCUENTO_FIJO") {
      CheckAmount(columns_.Find("ZENTROVA_PROMOCOES", "DESCONTOFIXO"), "DESCONTOFIXO",
                  Details().Descuento());
    }
  }

  // A BIN cut, or with "?" for a character the store's code page lacks, would name other
  // cards; without it the promotion would miss the cards it names. An empty one names none
  // and is passed over.
  void CheckBins() const {
    const ColumnSize* bin_column = columns_.Find("ZENTROVA_PROMOCOES_BIN", "BIN");
    for (const TFormasPago& method : p_.Detalles()->Condiciones()->FormasPago()) {
      for (const std::string& bin : method.Bines()) {
        if (!bin.empty() && !KeyFits(bin, bin_column)) {
          throw EConversionError("bines \"" + bin + "\": not a BIN the store can hold whole");
        }
      }
    }
  }

  void CheckBasket() const {
    const std::vector<TItems>& conditions = ConditionItems();
    const ColumnSize* code_column = columns_.Find("ITENSCESTASPROMOCIONAIS", "CODIGOPRODUTO");
    auto check_articles = [&](const TItems& item) {
      for (const TArticulos& a : item.Articulos()) {
        if (!KeyFits(a.CodigoBarras(), code_column)) {
          throw EConversionError("codigoBarras \"" + a.CodigoBarras() +
                                 "\": not a product code the store can hold whole");
        }
      }
    };
    for (const TItems& item : conditions) check_articles(item);
    if (!shape_.has_benefit_items) return;
    const std::vector<TItems>& benefits = BenefitItems();
    if (benefits.size() < conditions.size()) {
      throw EArgumentOutOfRangeException(
          "detalles.beneficios.items: condition item " + std::to_string(benefits.size() + 1) +
          " of " + std::to_string(conditions.size()) + " has no benefit item at its position");
    }
    for (size_t j = 0; j < conditions.size(); ++j) check_articles(benefits[j]);
    const Money discount = BenefitDiscount();
    CheckAmount(columns_.Find("ITENSCESTASPROMOCIONAIS", "DESCONTOVISTA"), "DESCONTOVISTA",
                discount);
    CheckAmount(columns_.Find("ITENSCESTASPROMOCIONAIS", "DESCONTOPRAZO"), "DESCONTOPRAZO",
                discount);
  }

  Money BenefitDiscount() const {
    return p_.Tipo() == "ADICIONAL_REGALO" ? Money::FromInt(100) : Details().Descuento();
  }

  TStoreQuery& Begin(const char* statement) {
    TStoreQuery& q = ctx_.store.StoreQuery1();
    q.ClearSQL();
    q.AddSQL(statement);
    return q;
  }
  static void Run(TStoreQuery& q) {
    q.Prepare();
    q.ExecSQL();
  }

  // The payment-method and plain paths: the promotion row once per condition item (it ends
  // with the last item's values), each article's product row and, on the payment-method path,
  // the BIN rows once after all of them (none when no item has an article).
  void WriteItemsPath(const char* promotion_statement, bool bins) {
    bool any_article = false;
    for (const TItems& item : ConditionItems()) {
      WritePromotionRow(promotion_statement, item);
      for (const TArticulos& article : item.Articulos()) {
        WriteProductRow(article);
        any_article = true;
      }
    }
    if (bins && any_article) WriteBinRows();
  }

  void WritePromotionRow(const char* statement, const TItems& item) {
    TStoreQuery& q = Begin(statement);
    q.ParamByName("CODIGOPROMOCAO").AsInteger(p_.Id());
    // A promotion without dates keeps the zero date, and the day before it as its last day.
    q.ParamByName("DATAINICIAL").AsDate(p_.VigenciaDesde());
    q.ParamByName("DATAFINAL").AsDate(p_.VigenciaHasta().AddDays(-1));
    q.ParamByName("LIMITE").AsInteger(p_.LimitePromocionesPorTicket());
    const std::string& tipo = p_.Tipo();
    if (const char* letter = TypeLetter(tipo)) q.ParamByName("TIPOPROMOCAO").AsString(letter);
    q.ParamByName("QUANTIDADEMINIMA").AsInteger(item.Cantidad());
    if (tipo == "DESCUENTO_VARIABLE") {
      q.ParamByName("DESCONTOPORCENTAGEM").AsMoney(Details().Descuento());
    } else if (tipo == "PRECIO_FIJO") {
      q.ParamByName("PRECOFIXO").AsMoney(Details().Precio());
    } else if (tipo == "DESCUENTO_FIJO") {
      q.ParamByName("DESCONTOFIXO").AsMoney(Details().Descuento());
    } else if (tipo == "LLEVA_PAGA") {
      q.ParamByName("PAGUE").AsInteger(Details().Paga());
      q.ParamByName("LEVE").AsInteger(item.Cantidad());
    }
    q.ParamByName("DESCRICAO").AsString(p_.Descripcion());
    Run(q);
  }

  // A product the store does not know is left out (its product row names no product of the
  // store, which refuses it; the statement's own changes are undone and the transaction goes
  // on), and so is a code the store could not hold whole, as no product of the store has it.
  // Any other error (a lock time-out, an update conflict, a lost connection) refuses the whole
  // promotion.
  void WriteProductRow(const TArticulos& article) {
    if (!KeyFits(article.CodigoBarras(),
                 columns_.Find("ZENTROVA_PROMOCOES_PRODUTOS", "CODIGOPRODUTO"))) {
      return;
    }
    try {
      TStoreQuery& q = Begin(promotions_sql::kProductRow);
      q.ParamByName("CODIGOPROMOCAO").AsInteger(p_.Id());
      q.ParamByName("CODIGOPRODUTO").AsString(article.CodigoBarras());
      Run(q);
    } catch (const EMissingReference&) {
    }
  }

  // Check made sure every BIN fits its column.
  void WriteBinRows() {
    for (const TFormasPago& method : p_.Detalles()->Condiciones()->FormasPago()) {
      for (const std::string& bin : method.Bines()) {
        if (bin.empty()) continue;
        TStoreQuery& q = Begin(promotions_sql::kBinRow);
        q.ParamByName("CODIGOPROMOCAO").AsInteger(p_.Id());
        q.ParamByName("BIN").AsString(bin);
        if (method.CodigoTipoPago() == payment_type::kDebitCard) {
          q.ParamByName("CREDITODEBITO").AsString("D");
        } else if (method.CodigoTipoPago() == payment_type::kCreditCard) {
          q.ParamByName("CREDITODEBITO").AsString("C");
        }
        Run(q);
      }
    }
  }

  // The promotion keeps the basket it has; a new one takes the generator's next number.
  std::string BasketCode() {
    TStoreQuery& q = Begin(promotions_sql::kFindBasket);
    q.ParamByName("CODIGOZENTROVA").AsInteger(p_.Id());
    q.Prepare();
    q.Open();
    std::string code;
    if (!q.Eof()) {
      code = q.FieldByName("CODIGO").AsString();
    } else {
      TStoreQuery& g = Begin(promotions_sql::kNextBasketNumber);
      g.Prepare();
      g.Open();
      code = "CPROM" + std::to_string(g.FieldByName("CODIGO").AsInteger());
    }
    q.ClearSQL();
    return code;
  }

  void WriteBasket() {
    const std::vector<TItems>& conditions = ConditionItems();
    for (size_t j = 0; j < conditions.size(); ++j) {
      const std::string code = BasketCode();
      TStoreQuery& q = Begin(promotions_sql::kBasketRow);
      q.ParamByName("CODIGO").AsString(code);
      q.ParamByName("DESCRICAO").AsString(p_.Descripcion());
      q.ParamByName("DATAINICIOPROMOCAO").AsDate(p_.VigenciaDesde());
      q.ParamByName("DATAFINALPROMOCAO").AsDate(p_.VigenciaHasta());
      q.ParamByName("CODIGOZENTROVA").AsInteger(p_.Id());
      Run(q);

      for (const TArticulos& article : conditions[j].Articulos()) {
        TStoreQuery& item = Begin(promotions_sql::kBasketConditionItem);
        item.ParamByName("CODIGOCESTA").AsString(code);
        item.ParamByName("CODIGOPRODUTO").AsString(article.CodigoBarras());
        item.ParamByName("QUANTIDADE").AsInteger(conditions[j].Cantidad());
        item.ParamByName("TIPODESCONTO").AsString("N");
        item.ParamByName("DESCRICAO").AsString(p_.Descripcion());
        Run(item);
      }
      if (!shape_.has_benefit_items) continue;
      // Paired by position; Check made sure every condition item has its benefit item.
      const TItems& benefit = BenefitItems()[j];
      for (const TArticulos& article : benefit.Articulos()) {
        TStoreQuery& item = Begin(promotions_sql::kBasketBenefitItem);
        item.ParamByName("CODIGOCESTA").AsString(code);
        item.ParamByName("CODIGOPRODUTO").AsString(article.CodigoBarras());
        item.ParamByName("QUANTIDADE").AsInteger(benefit.Cantidad());
        item.ParamByName("TIPODESCONTO").AsString("P");
        item.ParamByName("DESCONTOVISTA").AsMoney(BenefitDiscount());
        item.ParamByName("DESCONTOPRAZO").AsMoney(BenefitDiscount());
        Run(item);
      }
    }
  }

  JobContext& ctx_;
  const PromotionColumns& columns_;
  const TResults& p_;
  const PromotionShape shape_;
  const bool payment_path_;
  const bool basket_path_;
  const bool plain_path_;
};

// The stamp is the service's own time, the clock the cycle's due test reads: the store
// server's clock may be off by any amount. The value in memory moves with it, so that the
// job counts as done whatever the settings reload and the log do afterwards.
void Stamp(JobContext& ctx) {
  MoveCursor(ctx, ctx.store.StoreQuery1(), promotions_sql::kStamp, "agora",
             "zentrovia_verificapromo", ctx.clock.Now(), CursorBinding::Timestamp,
             ctx.settings.zentrovia_verificapromo);
}

// Writes every promotion of the document, each in its own transaction. Returns false when the
// pass ended early (the store connection went, or the service is stopping): then the stamp
// stays old and the next cycle brings the whole document again.
bool ImportPromotions(JobContext& ctx, TRoot& root, PromotionPassCounts& counts) {
  if (root.Results().empty()) return true;
  PromotionColumns columns;
  columns.Read(ctx.store.StoreQuery1());
  for (PromotionEntry& entry : root.Results()) {
    if (ctx.StopRequested()) return false;
    try {
      PromotionWriter writer(ctx, columns, PromotionOf(entry));
      writer.Check();
      if (!writer.WritesAnything()) continue;
      TStoreTransaction transaction(ctx.store.StoreConnection());
      writer.Write();
      transaction.Commit();
      ++counts.written;
    } catch (const Exception& e) {
      ++counts.refused;
      LogRefusal(ctx, kErrorPrefix, entry, e);
      if (StoreConnectionGone(ctx)) return false;
    }
  }
  return true;
}

// The accepted pass. A refused promotion does not stop it: the others are written and the
// stamp moves, so a document with a broken promotion is retried an hour later instead of
// taking every cycle (and with it the sales upload).
void ImportAccepted(JobContext& ctx, const TZentrovRetornos& answer, PromotionPassCounts& counts) {
  TRoot root;
  bool read = false;
  try {
    read = ReadPromotionAnswer(answer, root);
  } catch (const Exception& e) {
    LogError(ctx, kErrorPrefix, e);
    try {
      Stamp(ctx);
    } catch (const Exception& stamp_error) {
      LogError(ctx, kErrorPrefix, stamp_error);
    }
    return;
  }
  if (!read) {
    Stamp(ctx);
    return;
  }
  const uint64_t refused_before = counts.refused;
  try {
    if (!ImportPromotions(ctx, root, counts)) return;
    Stamp(ctx);
  } catch (const Exception& e) {
    LogError(ctx, kErrorPrefix, e);
    return;
  }
  if (counts.refused == refused_before) {
    ctx.DoSaveLog("[P- " + ctx.clock.Now().ToDateText(ctx.date_separator) +
                  "]Ok:Promos Zentrovia atualizadas com sucesso");
  }
}

}  // namespace

void AtualizaPromo(JobContext& ctx, PromotionPassCounts* counts) {
  PromotionPassCounts run;
  struct AddOnExit {
    const PromotionPassCounts& run;
    PromotionPassCounts* out;
    ~AddOnExit() {
      if (out) *out += run;
    }
  } add{run, counts};

  ctx.timer.Disable();
  RejeitaPromo(ctx, run);
  const TZentrovRetornos answer = ctx.platform.getPromoAceitas();
  ImportAccepted(ctx, answer, run);
  ctx.ReloadSettings();
}

}  // namespace zv
