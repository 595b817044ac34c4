// -STATUS: where the service stands, read from the same places the service reads, without
// writing anything (the settings row is read, never adjusted).

#include <filesystem>
#include <ostream>

#include "base/clock.h"
#include "base/errors.h"
#include "movements/sales_upload.h"
#include "service/foreground.h"
#include "service/sync_cycle.h"
#include "store/store_session.h"
#include "store/store_settings.h"

namespace zv {

namespace {

std::string Shown(const std::string& value) {
  return value.empty() ? "(empty)" : value;
}

std::string ShownDate(DateTime value) {
  return value.IsZero() ? "(none)" : value.ToText().substr(0, 19);
}

}  // namespace

int RunStatusReport(const std::string& exe_dir, const IClock& clock, std::ostream& out) {
  const std::string ini = exe_dir + "Dorvali.ini";
  std::error_code ec;
  const bool ini_found = std::filesystem::exists(ini, ec);
  out << "SrvZentrovia status\n"
      << "  installation            " << exe_dir << "\n"
      << "  ini file                " << ini
      << (ini_found ? "" : " (not found: the defaults apply)") << "\n";

  TStoreSession store;
  std::string error;
  const bool connected = store.Connect(exe_dir, &error);
  out << "  Servidor                " << store.StoreServer() << "\n"
      << "  Caminho                 " << store.StoreDatabasePath() << "\n";
  if (!connected) {
    out << "\nThe store database cannot be reached at " << store.StoreServer() << ":"
        << store.StoreDatabasePath() << " (port 3050, user SYSDBA): " << error << std::endl;
    return kExitStopped;
  }

  try {
    IntegrationSettings s;
    ReadSettingsRow(store.StoreQuery1(), s);
    const bool has_row = !store.StoreQuery1().IsEmpty();
    store.StoreQuery1().ClearSQL();

    out << "\nPlatform\n"
        << "  address (zentrovia_url1)     " << Shown(s.zentrovia_url1) << "\n"
        << "  user (zentrovia_usuario)     " << Shown(s.zentrovia_usuario) << "\n"
        << "  company (zentrovia_idempresa) " << Shown(s.zentrovia_idempresa) << "\n"
        << "  local (zentrovia_idlocal)    " << Shown(s.zentrovia_idlocal) << "\n"
        << "  interval (zentrovia_intervalo) " << s.zentrovia_intervalo << " s\n";
    if (!has_row) {
      out << "  no qualifying padrao row (codigo not null and cgc not empty): the service "
             "has no platform account\n";
    }

    const DateTime now = clock.Now();
    const DateTime limit = now.Date().AddMonths(-2);
    out << "\nCursors\n"
        << "  zentrovia_datainicio       " << ShownDate(s.zentrovia_datainicio)
        << "  first day whose sales are sent";
    if (s.zentrovia_datainicio < limit) {
      out << " (older than two months: the service moves it to " << ShownDate(limit)
          << " when it loads the settings)";
    }
    out << "\n"
        << "  zentrovia_ultvenda         " << s.zentrovia_ultvenda << "  last sale sent\n"
        << "  zentrovia_ultcancelamento  " << s.zentrovia_ultcancelamento
        << "  last cancellation sent\n"
        << "  zentrovia_ultcaixa         " << ShownDate(s.zentrovia_ultcaixa)
        << "  next day whose daily closing is due\n"
        << "  zentrovia_verificapromo    " << ShownDate(s.zentrovia_verificapromo)
        << "  last promotion import\n"
        << "  zentrovia_verificareenvio  " << ShownDate(s.zentrovia_verificareenvio)
        << "  last check for resend requests\n";

    IntegrationSettings counted = s;
    if (counted.zentrovia_datainicio < limit) counted.zentrovia_datainicio = limit;
    const int64_t pending = CountPendingSales(store.StoreQuery3(), counted);
    out << "\nPending\n"
        << "  sales above the sales cursor  " << pending << "\n"
        << "\nThe next cycle would run " << JobName(ChooseJob(s, now, now.Date())) << std::endl;
    return kExitOk;
  } catch (const Exception& e) {
    out << "\nThe store database answered with an error: " << e.kind() << " - " << e.what()
        << std::endl;
    return kExitStopped;
  }
}

}  // namespace zv
