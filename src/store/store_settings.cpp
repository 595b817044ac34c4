// IniConn and GetCredenciaisZentrovia: the store connection of the service and the
// integration settings read from its `padrao` row.

#include "store/store_settings.h"

#include "base/errors.h"

namespace zv {

namespace {

constexpr const char* kSettingsQuery =
    "select first 1  p.zentrovia_usuario ,p.zentrovia_senha ,p.zentrovia_url1 as "
    "zentrovia_url1,p.zentrovia_url2 as zentrovia_url2,p.zentrovia_url3 as "
    "zentrovia_url3,p.zentrovia_idempresa ,coalesce(p.zentrovia_intervalo, 10) as "
    "zentrovia_intervalo ,coalesce(p.zentrovia_idlocal, 1) as zentrovia_idlocal "
    ",p.zentrovia_datainicio as zentrovia_datainicio,coalesce(p.zentrovia_ultvenda, 0) as "
    "zentrovia_ultvenda ,coalesce(p.zentrovia_ultcancelamento, 0) as "
    "zentrovia_ultcancelamento ,coalesce(p.zentrovia_ultcaixa, p.zentrovia_datainicio) as "
    "zentrovia_ultcaixa ,coalesce(p.zentrovia_verificapromo, dateadd(-2 hour to "
    "current_timestamp)) as zentrovia_verificapromo ,coalesce(p.zentrovia_verificareenvio, "
    "dateadd(-1 day  to current_timestamp)) as zentrovia_verificareenvio "
    ",replace(replace(replace(p.cgc, '-', ''),'/',''),'.','') as cnpj from padrao p where "
    "p.codigo is not null and coalesce(p.cgc, '') <> '' ";

constexpr const char* kSettingsFailed =
    "Falha ao tentar recuperar os dados da Zentrovia do banco do Quelmara";
constexpr const char* kStartDateAdjusted =
    "Ajuste na data de inicio Zentrovia no banco do Quelmara";

}  // namespace

void ReadSettingsRow(TStoreQuery& q, IntegrationSettings& s) {
  q.ClearSQL();
  q.AddSQL(kSettingsQuery);
  q.Open();
  // Each value replaces the one in memory as soon as it is read.
  s.zentrovia_ultvenda = q.FieldByName("zentrovia_ultvenda").AsInteger();
  s.zentrovia_ultcaixa = q.FieldByName("zentrovia_ultcaixa").AsDateTime();
  s.zentrovia_verificapromo = q.FieldByName("zentrovia_verificapromo").AsDateTime();
  s.zentrovia_verificareenvio = q.FieldByName("zentrovia_verificareenvio").AsDateTime();
  s.zentrovia_ultcancelamento = q.FieldByName("zentrovia_ultcancelamento").AsInteger();
  s.zentrovia_url1 = q.FieldByName("zentrovia_url1").AsString();
  s.zentrovia_url2 = q.FieldByName("zentrovia_url2").AsString();
  s.zentrovia_url3 = q.FieldByName("zentrovia_url3").AsString();
  s.zentrovia_intervalo = q.FieldByName("zentrovia_intervalo").AsInteger();
  s.zentrovia_usuario = q.FieldByName("zentrovia_usuario").AsString();
  s.zentrovia_senha = q.FieldByName("zentrovia_senha").AsString();
  s.zentrovia_idempresa = q.FieldByName("zentrovia_idempresa").AsString();
  s.zentrovia_idlocal = q.FieldByName("zentrovia_idlocal").AsString();
  s.zentrovia_datainicio = q.FieldByName("zentrovia_datainicio").AsDateTime();
  s.cnpj = q.FieldByName("cnpj").AsString();
}

void GetCredenciaisZentrovia(TStoreSession& store, IntegrationSettings& s, IZentroviaTimer& timer,
                             const IClock& clock, const LogSink& log) {
  timer.Disable();
  TStoreQuery* q = nullptr;
  try {
    store.Reopen();
    q = &store.StoreQuery1();
    ReadSettingsRow(*q, s);

    // Nothing older than two calendar months is ever sent.
    const DateTime limit = clock.Today().AddMonths(-2);
    if (s.zentrovia_datainicio < limit) {
      s.zentrovia_datainicio = limit;
      q->ClearSQL();
      q->AddSQL("update padrao set zentrovia_datainicio = :zentrovia_datainicio");
      q->ParamByName("zentrovia_datainicio").AsDate(s.zentrovia_datainicio);
      q->Prepare();
      q->ExecSQL();
      log(kStartDateAdjusted);
    }
    q->ClearSQL();
  } catch (const std::exception&) {
    if (q) q->ClearSQL();
    log(kSettingsFailed);
  }
  timer.Enable();
}

}  // namespace zv
