// sample-store: creates a store database with a deterministic sales history.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sample_store.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: sample-store --database PATH [options]\n"
               "  --database PATH        database file as the server sees it\n"
               "                         (e.g. /var/lib/zentrovia-test/store.fdb)\n"
               "  --server HOST          Firebird server (localhost)\n"
               "  --sysdba-password PW   SYSDBA password (pelvoxard)\n"
               "  --days N               days of history (7)\n"
               "  --tills N              tills (3)\n"
               "  --sales-per-day N      sales per day for the whole store (40)\n"
               "  --start YYYY-MM-DD     first day (2026-12-01)\n"
               "  --seed N               random seed (20261201)\n"
               "  --url URL --user U --password P --idempresa ID --idlocal ID\n"
               "                         platform account in the settings row\n"
               "  --datainicio YYYY-MM-DD --ultvenda N --ultcancelamento N\n"
               "  --ultcaixa YYYY-MM-DD  cursors in the settings row\n"
               "  --no-settings          leave padrao empty\n"
               "  --no-indexes           leave out the indexes the service relies on\n");
}

zv::DateTime ParseDate(const char* text) {
  int y = 0, m = 0, d = 0;
  if (std::sscanf(text, "%d-%d-%d", &y, &m, &d) != 3) {
    std::fprintf(stderr, "sample-store: bad date %s (want YYYY-MM-DD)\n", text);
    std::exit(2);
  }
  return zv::DateTime::FromParts(y, m, d);
}

}  // namespace

int main(int argc, char** argv) {
  zv::sample::SampleOptions o;
  zv::sample::ServerLogin login;
  std::string database;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "sample-store: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--database")
      database = value();
    else if (a == "--server")
      login.server = value();
    else if (a == "--sysdba-password")
      login.password = value();
    else if (a == "--days")
      o.days = std::atoi(value());
    else if (a == "--tills")
      o.tills = std::atoi(value());
    else if (a == "--sales-per-day")
      o.sales_per_day = std::atoi(value());
    else if (a == "--start")
      o.start = ParseDate(value());
    else if (a == "--seed")
      o.seed = static_cast<uint32_t>(std::strtoul(value(), nullptr, 10));
    else if (a == "--url")
      o.url = value();
    else if (a == "--user")
      o.user = value();
    else if (a == "--password")
      o.password = value();
    else if (a == "--idempresa")
      o.idempresa = value();
    else if (a == "--idlocal")
      o.idlocal = value();
    else if (a == "--datainicio")
      o.datainicio = ParseDate(value());
    else if (a == "--ultvenda")
      o.ultvenda = std::atoll(value());
    else if (a == "--ultcancelamento")
      o.ultcancelamento = std::atoll(value());
    else if (a == "--ultcaixa")
      o.ultcaixa = ParseDate(value());
    else if (a == "--no-settings")
      o.settings_row = false;
    else if (a == "--no-indexes")
      o.indexes = false;
    else if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else {
      std::fprintf(stderr, "sample-store: unknown argument %s\n", a.c_str());
      Usage();
      return 2;
    }
  }
  if (database.empty() || o.days < 0 || o.tills < 1 || o.sales_per_day < 0) {
    Usage();
    return 2;
  }
  try {
    auto t0 = std::chrono::steady_clock::now();
    zv::sample::SampleSummary s = zv::sample::BuildSampleStore(database, o, login);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%s: %s\n", database.c_str(), s.Describe().c_str());
    std::printf("built in %.1f s\n", secs);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sample-store: %s\n", e.what());
    return 1;
  }
  return 0;
}
