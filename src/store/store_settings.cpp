// IniConn and GetCredenciaisZentrovia: the store connection of the service and the
// integration settings read from its `padrao` row.

#include "os/system.h"
#include "platform/errors.h"
#include "service/srv_zentrovia.h"

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

constexpr const char* kConnectionFailed =
    "Falha na conex\xC3\xA3o com o banco de dados do Quelmara";
constexpr const char* kSettingsFailed =
    "Falha ao tentar recuperar os dados da Zentrovia do banco do Quelmara";
constexpr const char* kStartDateAdjusted =
    "Ajuste na data de inicio Zentrovia no banco do Quelmara";

}  // namespace

bool TSrvZentrovia::ConnectStore(std::string* error) {
  const std::string ini = env_.exe_dir + "Dorvali.ini";
  StoreServer = ReadIniString(ini, "Dorvali", "Servidor", "localhost");
  StoreDatabasePath = ReadIniString(ini, "Dorvali", "Caminho", env_.exe_dir + "DORVALI.FDB");

  if (!StoreConnection) StoreConnection = std::make_unique<TStoreConnection>();
  if (!StoreQuery1) StoreQuery1 = std::make_unique<TStoreQuery>();
  if (!StoreQuery2) StoreQuery2 = std::make_unique<TStoreQuery>();
  if (!StoreQuery3) StoreQuery3 = std::make_unique<TStoreQuery>();
  if (!StoreDriverLink) StoreDriverLink = std::make_unique<TFbDriverLink>();
  StoreConnection->DriverLink = StoreDriverLink.get();

  auto attempt = [&](const char* password) {
    FBConn->CreateConn(StoreServer, StoreDatabasePath, "3050", "SYSDBA", password,
                       *StoreConnection);
    FBConn->ConfigureConnection(*StoreConnection);
    FBConn->ConnectConn(*StoreConnection);
  };
  bool connected = false;
  try {
    attempt("pelvoxard");
    connected = true;
  } catch (const std::exception& first) {
    // The first attempt's error says what went wrong with the usual password.
    if (error) *error = first.what();
    try {
      attempt("mirsol");
      connected = true;
    } catch (const std::exception&) {
    }
  }

  StoreQuery1->SetConnection(StoreConnection.get());
  StoreQuery2->SetConnection(StoreConnection.get());
  StoreQuery3->SetConnection(StoreConnection.get());
  return connected;
}

void TSrvZentrovia::IniConn() {
  DbConnected = ConnectStore(nullptr);
  if (!DbConnected) DoSaveLog(kConnectionFailed);
  GetCredenciaisZentrovia();
}

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

void TSrvZentrovia::GetCredenciaisZentrovia() {
  ZentroviaTimer.Disable();
  try {
    if (!StoreConnection || !StoreQuery1)
      throw EDatabaseError("The store connection has not been created");
    StoreConnection->Close();
    StoreConnection->Open();

    TStoreQuery& q = *StoreQuery1;
    q.SetConnection(StoreConnection.get());
    IntegrationSettings& s = Settings;
    ReadSettingsRow(q, s);

    // Nothing older than two calendar months is ever sent.
    const DateTime limit = clock().Today().AddMonths(-2);
    if (s.zentrovia_datainicio < limit) {
      s.zentrovia_datainicio = limit;
      q.ClearSQL();
      q.AddSQL("update padrao set zentrovia_datainicio = :zentrovia_datainicio");
      q.ParamByName("zentrovia_datainicio").AsDate(s.zentrovia_datainicio);
      q.Prepare();
      q.ExecSQL();
      DoSaveLog(kStartDateAdjusted);
      q.ClearSQL();
    }
    q.ClearSQL();
    ZentroviaTimer.Enable();
  } catch (const std::exception&) {
    DoSaveLog(kSettingsFailed);
  }
  ZentroviaTimer.Enable();
}

}  // namespace zv
