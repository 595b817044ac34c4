// sales_upload_bench: how fast the service sends sales, and what it costs, as the store grows.
//
// For each store size it builds a sample store of about that many `vendas` rows, starts the
// fake platform in this process, and runs the real service binary as a child process:
// `SrvZentrovia -SYNC -NOPROBE -MAXCYCLES N+1` (the first cycle connects), which sends N
// sales. It prints the child's wall time per sale, sales per second, CPU milliseconds per
// sale (user + system, from wait4) and peak resident memory (ru_maxrss).
//
//   sales_upload_bench [--sales N] [--rows R[,R...]] [--days D] [--keep]
//
// Defaults: 1000 sales, stores of 10000 and 1000000 rows over 7 days. With a longer
// history (--days 730) the service keeps its start date within two months, so only the
// recent part of the table is in reach, as in a store that has run for years. The store databases
// are rebuilt on every run and dropped at the end unless --keep. Needs the Firebird server of
// scripts/firebird.

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/clock.h"
#include "fake-platform/fake_platform.h"
#include "os/system.h"
#include "sample-store/sample_store.h"
#include "store/fb_conn.h"
#include "store/store_query.h"

namespace fs = std::filesystem;

namespace {

struct Options {
  int64_t sales = 1000;
  std::vector<int64_t> rows = {10000, 1000000};
  int days = 7;
  bool keep = false;
};

struct RunResult {
  int64_t vendas_rows = 0;
  int64_t sales_in_store = 0;
  int64_t posted = 0;
  double build_seconds = 0;
  double wall_seconds = 0;
  double cpu_ms = 0;
  long max_rss_kb = 0;
  int exit_code = -1;
};

Options ParseArgs(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << a << " needs a value\n";
        std::exit(64);
      }
      return argv[++i];
    };
    if (a == "--sales") {
      o.sales = std::stoll(next());
    } else if (a == "--rows") {
      o.rows.clear();
      std::stringstream ss(next());
      for (std::string item; std::getline(ss, item, ',');) o.rows.push_back(std::stoll(item));
    } else if (a == "--days") {
      o.days = std::stoi(next());
    } else if (a == "--keep") {
      o.keep = true;
    } else {
      std::cerr << "usage: sales_upload_bench [--sales N] [--rows R[,R...]] [--days D] [--keep]\n";
      std::exit(64);
    }
  }
  return o;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The sample store's options for `days` of sales on three tills, with its cursors set so
// that only the sales upload is due.
zv::sample::SampleOptions StoreOptions(int64_t sales_per_day, const std::string& url,
                                       int days = 7) {
  const zv::DateTime now = zv::SystemClock().Now();
  zv::sample::SampleOptions so;
  so.days = days;
  so.tills = 3;
  so.sales_per_day = static_cast<int>(sales_per_day);
  so.start = now.Date().AddDays(-days);
  so.url = url;
  so.user = "zentrovia";
  so.password = "zentrovia";
  so.datainicio = so.start;
  so.ultvenda = 0;
  so.ultcaixa = now.Date();
  so.verificapromo = now;
  so.verificareenvio = now;
  return so;
}

RunResult RunOne(const Options& opt, int64_t target_rows, double rows_per_sale,
                 const fs::path& work) {
  RunResult r;
  fake::Options fo;
  fake::FakePlatform platform(fo);
  platform.Start(0);

  const std::string db =
      zv::sample::DefaultDataDirectory() + "bench_sales_" + std::to_string(target_rows) + ".fdb";
  const int64_t sales_per_day =
      std::max<int64_t>(1, static_cast<int64_t>(target_rows / rows_per_sale / opt.days + 0.5));
  auto t0 = std::chrono::steady_clock::now();
  // The Firebird server is shared with the test suites, some of which restart it: a build
  // cut short that way is started again.
  zv::sample::SampleSummary summary;
  for (int attempt = 1;; ++attempt) {
    try {
      summary = zv::sample::BuildSampleStore(
          db, StoreOptions(sales_per_day, platform.BaseUrl(), opt.days));
      break;
    } catch (const std::exception& e) {
      if (attempt == 3) throw;
      std::fprintf(stderr, "building the %lld-row store failed (%s); again\n",
                   static_cast<long long>(target_rows), e.what());
      sleep(2);
    }
  }
  r.build_seconds = Seconds(std::chrono::steady_clock::now() - t0);
  r.vendas_rows = summary.vendas_rows;
  r.sales_in_store = summary.sales;

  // The service reads Dorvali.ini and writes Zentrovia.log beside its own binary.
  const fs::path run = work / ("run_" + std::to_string(target_rows));
  fs::remove_all(run);
  fs::create_directories(run);
  const fs::path exe = run / "SrvZentrovia";
  fs::copy_file(ZV_SERVICE_BINARY, exe, fs::copy_options::overwrite_existing);
  std::ofstream(run / "Dorvali.ini")
      << "[Dorvali]\r\nServidor=localhost\r\nCaminho=" << db << "\r\n";

  const std::string cycles = std::to_string(opt.sales + 1);
  t0 = std::chrono::steady_clock::now();
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string out = (run / "sync.out").string();
    if (!std::freopen(out.c_str(), "w", stdout)) _exit(126);
    execl(exe.c_str(), exe.c_str(), "-SYNC", "-NOPROBE", "-MAXCYCLES", cycles.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage ru {};
  wait4(pid, &status, 0, &ru);
  r.wall_seconds = Seconds(std::chrono::steady_clock::now() - t0);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.cpu_ms = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 +
             (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
  r.max_rss_kb = ru.ru_maxrss;
  for (const auto& [till, n] : platform.MovementsPerTill()) r.posted += n;
  platform.Stop();
  if (!opt.keep) {
    zv::sample::DropStore(db);
    fs::remove_all(run);
  }
  return r;
}

// CPU milliseconds of this process so far.
double ProcessCpuMs() {
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 +
         (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
}

// The job closes and reopens the store connection for every sale; what one reopen costs the
// client, measured here in this process with the service's own connection object.
double ReconnectCpuMs(const std::string& db) {
  zv::TFbDriverLink link;
  zv::TStoreConnection conn;
  conn.DriverLink = &link;
  zv::TFBConn fb;
  fb.CreateConn("localhost", db, "3050", "SYSDBA", "pelvoxard", conn);
  fb.ConfigureConnection(conn);
  conn.Open();
  constexpr int kRounds = 100;
  const double t0 = ProcessCpuMs();
  for (int i = 0; i < kRounds; ++i) {
    conn.Close();
    conn.Open();
  }
  const double ms = (ProcessCpuMs() - t0) / kRounds;
  conn.Close();
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  const Options opt = ParseArgs(argc, argv);
  std::string why;
  if (!zv::sample::ServerReachable({}, &why)) {
    std::cerr << "Firebird server not reachable (" << why << "); run scripts/firebird start\n";
    return 2;
  }
  const fs::path work = fs::temp_directory_path() / ("zv-bench-" + std::to_string(getpid()));
  fs::create_directories(work);

  // Lines per sale of the generator, to size the stores by rows.
  double rows_per_sale = 3;
  double reconnect_ms = 0;
  try {
    const std::string db = zv::sample::DefaultDataDirectory() + "bench_sales_probe.fdb";
    auto so = StoreOptions(200, "http://127.0.0.1:1");
    so.days = 1;
    const auto s = zv::sample::BuildSampleStore(db, so);
    if (s.sales > 0) rows_per_sale = static_cast<double>(s.vendas_rows) / s.sales;
    reconnect_ms = ReconnectCpuMs(db);
    zv::sample::DropStore(db);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sample store: %s\n", e.what());
    return 2;
  }

  std::printf("Sales upload: SrvZentrovia -SYNC -NOPROBE, %lld sales per run\n",
              static_cast<long long>(opt.sales));
  std::printf("%12s %8s %8s %9s %11s %11s %11s %10s %9s\n", "vendas rows", "sales", "sent",
              "build s", "wall ms/sale", "sales/s", "CPU ms/sale", "peak MB", "exit");
  std::vector<RunResult> results;
  for (int64_t rows : opt.rows) {
    RunResult r;
    try {
      r = RunOne(opt, rows, rows_per_sale, work);
    } catch (const std::exception& e) {
      std::printf("%12lld  failed: %s\n", static_cast<long long>(rows), e.what());
      continue;
    }
    results.push_back(r);
    const double sent = r.posted > 0 ? static_cast<double>(r.posted) : 1.0;
    std::printf("%12lld %8lld %8lld %9.1f %11.3f %11.1f %11.3f %10.1f %9d\n",
                static_cast<long long>(r.vendas_rows), static_cast<long long>(r.sales_in_store),
                static_cast<long long>(r.posted), r.build_seconds, r.wall_seconds * 1000 / sent,
                r.posted / r.wall_seconds, r.cpu_ms / sent, r.max_rss_kb / 1024.0, r.exit_code);
    std::fflush(stdout);
  }
  if (results.size() >= 2 && results.front().posted > 0 && results.back().posted > 0) {
    const double first = results.front().wall_seconds / results.front().posted;
    const double last = results.back().wall_seconds / results.back().posted;
    std::printf("time per sale, largest store / smallest store: %.2f\n", last / first);
  }
  std::printf(
      "of the CPU per sale, closing and reopening the store connection (once per sale): "
      "%.3f ms\n",
      reconnect_ms);
  std::printf("targets: CPU <= 2 ms per sale, peak <= 20 MB, time ratio <= 1.2\n");
  if (!opt.keep) fs::remove_all(work);
  return 0;
}
