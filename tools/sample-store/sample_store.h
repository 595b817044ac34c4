#pragma once
// Sample store databases: the point-of-sale tables the service reads and writes, filled with
// a deterministic sales history. Used by the sample-store program, the tests, the demo and
// the benchmarks.
//
// Databases are created through a Firebird server, so a path is a path on that server's
// machine. The tests and the demo keep theirs in DefaultDataDirectory()
// (/var/lib/zentrovia-test/), a directory that scripts/firebird creates owned by the server's
// user and writable by its group; /tmp would do too, but systemd-managed servers often see
// a private /tmp of their own.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/datetime.h"

namespace zv::sample {

struct ServerLogin {
  std::string server = "localhost";
  std::string port = "3050";
  std::string user = "SYSDBA";
  std::string password = "pelvoxard";
};

std::string DefaultDataDirectory();

// Whether the server answers and accepts the login; why tells what went wrong.
bool ServerReachable(const ServerLogin& login = {}, std::string* why = nullptr);

// Creates an empty store database (WIN1252, dialect 3) with every table, the generator and,
// when with_indexes, the indexes the service's statements rely on (store/store_indexes.h). A
// database already at the path is dropped first.
void CreateEmptyStore(const std::string& path, bool with_indexes = true,
                      const ServerLogin& login = {});
// Drops the database; a missing one is no error.
void DropStore(const std::string& path, const ServerLogin& login = {});
// Runs each statement (UTF-8 text; sent as Windows-1252, as the point-of-sale system writes)
// and commits after each. Throws EDatabaseError with the server's message.
void ExecuteSql(const std::string& path, const std::vector<std::string>& statements,
                const ServerLogin& login = {});
// The single value of the first row of a query (as text, "" for NULL); for test checks.
std::string QueryValue(const std::string& path, const std::string& sql,
                       const ServerLogin& login = {});

struct SampleOptions {
  int days = 7;
  int tills = 3;
  int sales_per_day = 40;  // for the whole store, spread over the tills
  DateTime start = DateTime::FromParts(2026, 12, 1);
  uint32_t seed = 20261201;

  // The settings row.
  bool settings_row = true;
  std::string cgc = "12.345.678/0001-90";
  std::string url = "http://127.0.0.1:8089";
  std::string user = "demo";
  std::string password = "demo";
  std::string idempresa = "1";
  std::optional<std::string> idlocal = "1";
  std::optional<int64_t> intervalo = 10;
  std::optional<DateTime> datainicio;  // none: the first sale day
  std::optional<int64_t> ultvenda = 0;
  std::optional<int64_t> ultcancelamento = 0;
  std::optional<DateTime> ultcaixa;  // none: NULL (the start date applies)
  std::optional<DateTime> verificapromo;
  std::optional<DateTime> verificareenvio;

  // The indexes the service's statements rely on (store/store_indexes.h), and no others.
  bool indexes = true;
};

struct SampleSummary {
  int64_t sales = 0;
  int64_t vendas_rows = 0;
  int64_t caixa_rows = 0;
  int64_t caixacancelado_rows = 0;
  int64_t vendacartao_rows = 0;
  int64_t vendacartaocancelada_rows = 0;
  int64_t total_cancellations = 0;
  int64_t partial_cancellations = 0;
  int64_t later_day_cancellations = 0;
  int64_t last_venda = 0;
  int64_t last_codigocancelamento = 0;
  bool indexes = false;
  std::string Describe() const;
};

// Fills an empty store (created without indexes is fastest; with options.indexes they are
// added at the end when missing) with the products, customers, sales history and the
// settings row.
SampleSummary FillSampleStore(const std::string& path, const SampleOptions& options,
                              const ServerLogin& login = {});
// CreateEmptyStore without indexes, FillSampleStore, then the indexes.
SampleSummary BuildSampleStore(const std::string& path, const SampleOptions& options,
                               const ServerLogin& login = {});

}  // namespace zv::sample
