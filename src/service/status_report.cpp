// -STATUS: where the service stands, read from the same places the service reads, without
// writing anything (the settings row is read, never adjusted).

#include <algorithm>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <utility>
#include <ostream>
#include <sstream>

#include "base/clock.h"
#include "base/errors.h"
#include "base/service_options.h"
#include "base/version.h"
#include "movements/cancellation_upload.h"
#include "movements/sales_upload.h"
#include "os/system.h"
#include "platform/json_writer.h"
#include "service/foreground.h"
#include "service/job_retry_status.h"
#include "service/status_log.h"
#include "service/sync_cycle.h"
#include "store/store_indexes.h"
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

std::string ShownDay(DateTime value) {
  return value.IsZero() ? "(none)" : value.ToText().substr(0, 10);
}

std::string Padded(std::string text, size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

// Column "n" of the first row of a statement, read as an integer.
int64_t Count(TStoreQuery& q, const std::string& sql,
              const std::function<void(TStoreQuery&)>& bind) {
  q.ClearSQL();
  q.AddSQL(sql);
  if (bind) bind(q);
  q.Prepare();
  q.Open();
  const int64_t n = q.Eof() ? 0 : q.FieldByName("n").AsInteger();
  q.ClearSQL();
  return n;
}

// A table the store may not have (an installation older than the promotions) counts as
// "(no table)" instead of failing the report.
std::string CountOf(TStoreQuery& q, const char* table, const std::string& where) {
  try {
    return std::to_string(
        Count(q, std::string("select count(*) as n from ") + table + " " + where, nullptr));
  } catch (const EDatabaseError&) {
    q.ClearSQL();
    return "(no table)";
  }
}

JsonValue IsoOrNull(DateTime value) {
  return value.IsZero() ? JsonValue::Null() : JsonValue::String(IsoLocal(value));
}

JsonValue Text(std::string text) {
  return JsonValue::String(std::move(text));
}

JsonValue Whole(int64_t n) {
  return JsonValue::Integer(n);
}

JsonValue Flag(bool b) {
  return JsonValue::Boolean(b);
}

// An object of these members, in this order.
JsonValue Members(std::initializer_list<std::pair<const char*, JsonValue>> members) {
  JsonValue o = JsonValue::Object();
  for (const auto& [name, value] : members) o.Add(name, value);
  return o;
}

DateTime ServerDate(TStoreQuery& q) {
  q.ClearSQL();
  q.AddSQL("select current_date as hoje from rdb$database");
  q.Open();
  const DateTime d = q.FieldByName("hoje").AsDateTime();
  q.ClearSQL();
  return d;
}

// The report; with `j`, every value also goes into that JSON object.
int StatusReport(const std::string& exe_dir, const IClock& clock, std::ostream& out,
                 JsonValue* j) {
  const std::string ini = exe_dir + "Dorvali.ini";
  std::error_code ec;
  const bool ini_found = std::filesystem::exists(ini, ec);
  if (j) {
    (*j)["version"] = Text(VersionText());
    (*j)["installation"] =
        Members({{"directory", Text(exe_dir)}, {"ini_file", Text(ini)}, {"ini_found", Flag(ini_found)}});
    for (const char* key : {"cursors", "pending", "next_job"}) (*j)[key] = JsonValue::Null();
  }
  out << "SrvZentrovia status\n"
      << "  version                 " << VersionText() << "\n"
      << "  installation            " << exe_dir << "\n"
      << "  ini file                " << ini
      << (ini_found ? "" : " (not found: the defaults apply)") << "\n";

  out << "  [" << ServiceOptionsSection() << "]\n";
  try {
    const ServiceOptions options = LoadServiceOptions(exe_dir);
    const auto& keys = ServiceOptionKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
      std::string name = keys[i].key;
      name.resize(std::max<size_t>(name.size() + 1, 22), ' ');
      out << "    " << name << options.*keys[i].field << " (" << options.sources[i]
          << "): " << keys[i].meaning << "\n";
      if (j) {
        (*j)["installation"]["options"][keys[i].key] =
            Members({{"value", Whole(options.*keys[i].field)}, {"source", Text(options.sources[i])}});
      }
    }
  } catch (const Exception& e) {
    out << "    " << e.what() << " (the service's connect step fails until it is mended)\n";
    if (j) (*j)["installation"]["options_error"] = Text(e.what());
  }

  TStoreSession store;
  std::string error;
  const bool connected = store.Connect(exe_dir, &error);
  out << "  Servidor                " << store.StoreServer() << "\n"
      << "  Caminho                 " << store.StoreDatabasePath() << "\n";
  if (j) {
    (*j)["installation"]["store"] = Members({{"server", Text(store.StoreServer())},
                                             {"path", Text(store.StoreDatabasePath())},
                                             {"connected", Flag(connected)}});
    if (!connected) (*j)["installation"]["store"]["error"] = Text(error);
  }
  if (!connected) {
    out << "\nThe store database cannot be reached at " << store.StoreServer() << ":"
        << store.StoreDatabasePath() << " (port 3050, user SYSDBA): " << error << std::endl;
    WriteLogSection(exe_dir, clock, -1, out, j);
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
    if (j) {
      // The password (zentrovia_senha) is left out, as in the text.
      (*j)["platform"] = Members({{"address", Text(s.zentrovia_url1)},
                                  {"user", Text(s.zentrovia_usuario)},
                                  {"company", Text(s.zentrovia_idempresa)},
                                  {"local", Text(s.zentrovia_idlocal)},
                                  {"interval_s", Whole(s.zentrovia_intervalo)},
                                  {"settings_row", Flag(has_row)}});
      (*j)["cursors"] =
          Members({{"zentrovia_datainicio", IsoOrNull(s.zentrovia_datainicio)},
                   {"zentrovia_ultvenda", Whole(s.zentrovia_ultvenda)},
                   {"zentrovia_ultcancelamento", Whole(s.zentrovia_ultcancelamento)},
                   {"zentrovia_ultcaixa", IsoOrNull(s.zentrovia_ultcaixa)},
                   {"zentrovia_verificapromo", IsoOrNull(s.zentrovia_verificapromo)},
                   {"zentrovia_verificareenvio", IsoOrNull(s.zentrovia_verificareenvio)}});
    }
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
    TStoreQuery& q = store.StoreQuery3();
    const int64_t pending = CountPendingSales(q, counted);
    const int64_t cancellations = CountPendingCancellations(q, counted);
    const DateTime server_date = ServerDate(q);
    // The daily closing never starts before the start date.
    const DateTime first_due = std::max(s.zentrovia_ultcaixa, counted.zentrovia_datainicio);
    const int64_t days_due = std::max<int64_t>(0, now.Date().Days() - first_due.Days());
    out << "\nPending\n"
        << "  sales above the sales cursor           " << pending << "\n"
        << "  cancellations above their cursor       " << cancellations << "\n"
        << "  days due for the daily closing         " << days_due;
    if (days_due > 0) out << " (from " << ShownDay(first_due) << ")";
    out << "\n"
        << "  store server's date                    " << ShownDay(server_date);
    if (server_date < now.Date()) out << " (behind this machine's " << ShownDay(now) << ")";
    out << "\n"
        << "  resend requests poll                   "
        << (now.Date() > s.zentrovia_verificareenvio ? "due" : "done today") << "\n"
        << "  promotion import                       "
        << (now.AddMinutes(-60) > s.zentrovia_verificapromo ? "due" : "done within the hour")
        << " (last " << ShownDate(s.zentrovia_verificapromo) << ")\n";
    if (j) {
      (*j)["pending"] = Members(
          {{"sales", Whole(pending)},
           {"cancellations", Whole(cancellations)},
           {"closing_days", Whole(days_due)},
           {"store_server_date", IsoOrNull(server_date)},
           {"resend_poll_due", Flag(now.Date() > s.zentrovia_verificareenvio)},
           {"promotion_import_due", Flag(now.AddMinutes(-60) > s.zentrovia_verificapromo)}});
    }

    out << "\nPromotions in the store\n";
    for (const char* table : {"ZENTROVA_PROMOCOES", "CESTASPROMOCIONAIS"}) {
      out << "  " << Padded(table, 30) << CountOf(q, table, "") << " rows, "
          << CountOf(q, table, "where REJEITADA is not null") << " marked rejected\n";
    }
    for (const char* table :
         {"ZENTROVA_PROMOCOES_PRODUTOS", "ZENTROVA_PROMOCOES_BIN", "ITENSCESTASPROMOCIONAIS"}) {
      out << "  " << Padded(table, 30) << CountOf(q, table, "") << " rows\n";
    }
    out << "  " << Padded("GEN_CESTASPROMOCIONAIS", 30)
        << Count(q, "select gen_id(GEN_CESTASPROMOCIONAIS, 0) as n from rdb$database", nullptr)
        << "\n";

    WriteIndexReport(q, out);

    const TJobRetryTimes retries = WriteJobRetryStatus(out, exe_dir + "Zentrovia.log", now);
    const char* next_job = JobName(ChooseJob(s, now, now.Date(), retries));
    if (j) (*j)["next_job"] = Text(next_job);
    WriteLogSection(exe_dir, clock, pending + cancellations, out, j);
    out << "\nThe next cycle would run " << next_job << std::endl;
    return kExitOk;
  } catch (const Exception& e) {
    out << "\nThe store database answered with an error: " << e.kind() << " - " << e.what()
        << std::endl;
    if (j) (*j)["store_error"] = Text(e.kind() + " - " + e.what());
    WriteLogSection(exe_dir, clock, -1, out, j);
    return kExitStopped;
  }
}

}  // namespace

int RunStatusReport(const std::string& exe_dir, const IClock& clock, std::ostream& out) {
  return StatusReport(exe_dir, clock, out, nullptr);
}

int RunStatusReportJson(const std::string& exe_dir, const IClock& clock, std::ostream& out) {
  JsonValue j = JsonValue::Object();
  std::ostringstream text;
  const int code = StatusReport(exe_dir, clock, text, &j);
  // Texts of the store or the log that are not UTF-8 are replaced, never a failed report.
  out << WriteJson(j, 2) << std::endl;
  return code;
}

}  // namespace zv
