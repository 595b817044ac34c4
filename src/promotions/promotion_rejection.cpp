// The rejection pass of AtualizaPromo: the promotion rows and baskets of the promotions that the
// store rejected on the platform get the time of the rejection in REJEITADA. It inserts
// nothing, and a promotion that comes back as accepted loses the mark again when it is written.

#include "base/errors.h"
#include "jobs/job_rules.h"
#include "promotions/promotion_import.h"
#include "promotions/promotion_pass.h"
#include "promotions/promotions_sql.h"
#include "store/store_query.h"

namespace zv {

namespace {

constexpr const char* kErrorPrefix = "Erro RejeitaPromo: ";

bool AnyConditionArticle(const TResults& promotion) {
  for (const TItems& item : promotion.Detalles()->Condiciones()->Items()) {
    if (!item.Articulos().empty()) return true;
  }
  return false;
}

void Mark(JobContext& ctx, const char* statement, const char* param, int32_t id) {
  TStoreQuery& q = ctx.store.StoreQuery1();
  q.ClearSQL();
  q.AddSQL(statement);
  q.ParamByName(param).AsInteger(id);
  q.Prepare();
  q.ExecSQL();
}

}  // namespace

void RejeitaPromo(JobContext& ctx, PromotionPassCounts& counts) {
  const TZentrovRetornos answer = ctx.platform.getPromoRejeitadas();
  TRoot root;
  try {
    if (!ReadPromotionAnswer(answer, root)) return;
  } catch (const Exception& e) {
    LogError(ctx, kErrorPrefix, e);
    return;
  }

  bool refused = false;
  for (PromotionEntry& entry : root.Results()) {
    if (ctx.StopRequested()) return;
    try {
      const TResults& promotion = PromotionOf(entry);
      const PromotionShape shape = ShapeOf(promotion);
      // What the accepted pass writes for the same shape: promotion rows on the payment-method
      // and plain paths, baskets on the basket path.
      const bool mark_promotion =
          shape.has_payment_methods ||
          (!shape.has_benefits && shape.has_condition_items && AnyConditionArticle(promotion));
      const bool mark_basket =
          shape.has_benefits && IsBasketType(promotion.Tipo()) && shape.has_condition_items;
      if (!mark_promotion && !mark_basket) continue;
      TStoreTransaction transaction(ctx.store.StoreConnection());
      if (mark_promotion) {
        Mark(ctx, promotions_sql::kMarkPromotionRejected, "CODIGOPROMOCAO", promotion.Id());
      }
      if (mark_basket) {
        Mark(ctx, promotions_sql::kMarkBasketRejected, "CODIGOZENTROVA", promotion.Id());
      }
      transaction.Commit();
      ++counts.marked_rejected;
    } catch (const Exception& e) {
      refused = true;
      ++counts.rejection_refused;
      LogRefusal(ctx, kErrorPrefix, entry, e);
      if (StoreConnectionGone(ctx)) return;
    }
  }
  if (!refused) {
    ctx.DoSaveLog("[R- " + ctx.clock.Now().ToDateText(ctx.date_separator) +
                  "]Ok:Promos Zentrovia rejeitadas com sucesso");
  }
}

}  // namespace zv
