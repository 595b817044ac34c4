// -STATUS: where the service stands, read from the same places the service reads, without
// writing anything (the settings row is read, never adjusted).

#include <filesystem>
#include <ostream>

#include "os/system.h"
#include "platform/errors.h"
#include "service/foreground.h"
#include "service/srv_zentrovia.h"

namespace zv {

namespace {

std::string Shown(const std::string& value) {
  return value.empty() ? "(empty)" : value;
}

std::string ShownDate(DateTime value) {
  return value.IsZero() ? "(none)" : value.ToText().substr(0, 19);
}

}  // namespace

int RunStatusReport(TSrvZentrovia& m, std::ostream& out) {
  const std::string ini = m.env().exe_dir + "Dorvali.ini";
  std::error_code ec;
  const bool ini_found = std::filesystem::exists(ini, ec);
  out << "SrvZentrovia status\n"
      << "  installation            " << m.env().exe_dir << "\n"
      << "  ini file                " << ini
      << (ini_found ? "" : " (not found: the defaults apply)") << "\n";

  std::string error;
  const bool connected = m.ConnectStore(&error);
  out << "  Servidor                " << m.StoreServer << "\n"
      << "  Caminho                 " << m.StoreDatabasePath << "\n";
  if (!connected) {
    out << "\nThe store database cannot be reached at " << m.StoreServer << ":"
        << m.StoreDatabasePath << " (port 3050, user SYSDBA): " << error << std::endl;
    return 2;
  }

  try {
    m.StoreConnection->Open();
    IntegrationSettings& s = m.Settings;
    ReadSettingsRow(*m.StoreQuery1, s);
    const bool has_row = !m.StoreQuery1->IsEmpty();
    m.StoreQuery1->ClearSQL();

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

    const DateTime now = m.clock().Now();
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
    const int64_t pending = CountPendingSales(*m.StoreQuery3, counted);
    out << "\nPending\n"
        << "  sales above the sales cursor  " << pending << "\n"
        << "\nThe next cycle would run " << JobName(m.NextJob(now, now.Date())) << std::endl;
    return 0;
  } catch (const Exception& e) {
    out << "\nThe store database answered with an error: " << e.kind() << " - " << e.what()
        << std::endl;
    return 2;
  }
}

}  // namespace zv
