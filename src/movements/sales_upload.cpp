// EnviarVendasZentrovia: posts the next new sale of the store, one per call, and moves the
// sales cursor past it.

#include <exception>

#include "movements/movement_document.h"
#include "movements/movement_sql.h"
#include "platform/errors.h"
#include "service/srv_zentrovia.h"
#include "store/store_query.h"

namespace zv {

namespace {

// The candidate must be the lowest qualifying sale: the cursor only grows, and without an
// ordering Firebird returns the first qualifying row in storage order (index or not), so a
// sale stored after a higher-numbered one would be passed over for ever.
const std::string kNextSaleOrdered =
    std::string(movement_sql::kNextSaleStatement) + " order by v.venda";

}  // namespace

void TSrvZentrovia::EnviarVendasZentrovia() {
  ZentroviaTimer.Disable();
  // Every way out, an error included, leaves the timer running at the configured interval.
  struct RearmOnExit {
    TSrvZentrovia& self;
    ~RearmOnExit() {
      self.ZentroviaTimer.SetInterval(
          static_cast<uint32_t>(self.Settings.zentrovia_intervalo * 1000));
      self.ZentroviaTimer.Enable();
    }
  } rearm{*this};

  if (!StoreConnection || !StoreQuery1 || !StoreQuery2) {
    throw EDatabaseError("the store database is not connected");
  }
  StoreConnection->Close();
  StoreConnection->Open();
  StoreQuery1->SetConnection(StoreConnection.get());
  StoreQuery2->SetConnection(StoreConnection.get());

  TStoreQuery& q1 = *StoreQuery1;
  q1.ClearSQL();
  q1.AddSQL(kNextSaleOrdered);
  q1.ParamByName("zentrovia_ultvenda").AsInteger(Settings.zentrovia_ultvenda);
  q1.ParamByName("datainicio").AsDate(Settings.zentrovia_datainicio);
  q1.Prepare();
  q1.Open();
  const int64_t venda = q1.FieldByName("venda").AsInteger();

  if (venda <= 0) {
    // No new sale. This is where the cancellation upload takes its turn; this build has no
    // cancellation upload yet, so the call ends here without posting anything.
    return;
  }

  MovementDocument doc;
  PreparaDocumentoVenda(venda, doc);

  try {
    MontaDocumentoVenda(doc);
  } catch (const std::exception& e) {
    // The sale cannot be expressed as a document: it is posted empty and passed over, so one
    // broken sale never holds back the ones after it.
    const auto* own = dynamic_cast<const Exception*>(&e);
    const std::string kind = own ? own->kind() : "Exception";
    doc.batch.clear();
    DoSaveLog(doc.batch);
    DoSaveLog("Erro: " + kind + "\r\n" + "Mensagem: " + e.what());
    doc.Free();
  }

  Zentrovia->RequestBody = doc.batch;
  const TZentrovRetornos retorno = Zentrovia->postEnviarVenda();
  DoSaveLog("[Venda= " + doc.numero + "]" + VerificarErroJSON(retorno.json_retorno));

  Settings.zentrovia_ultvenda = venda;
  q1.ClearSQL();
  q1.AddSQL(movement_sql::kSaleCursorUpdate);
  q1.ParamByName("venda").AsInteger(venda);
  q1.Prepare();
  q1.ExecSQL();
  // The detail and payment objects go with `doc` on every way out.
}

}  // namespace zv
