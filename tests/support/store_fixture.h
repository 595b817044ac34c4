#pragma once
// StoreFixture: a fresh store database on the local Firebird server and a TSrvZentrovia
// that works on it, for any integration test that needs the store.
//
//   class MyTest : public zv::test::StoreFixture {};
//   TEST_F(MyTest, Something) {
//     CreateStore();                      // empty tables (or BuildSample(options))
//     Sql({test::SaleLine{.venda = 1}.Sql()});  // exact rows (support/store_rows.h); UTF-8
//                                               // text is stored as WIN1252
//     Connect();                          // IniConn through the real service object
//     ... Service().Store().StoreQuery1() ..., Service().Settings() ...
//     EXPECT_EQ(Value("select count(*) from vendas"), "1");
//     EXPECT_THAT(LogMessages(), Contains("..."));
//   }
//
// Each test gets its own directory under /var/lib/zentrovia-test/ (created by
// `scripts/firebird start`), used as the executable's directory: the service's log, the
// ini file and the default database DORVALI.FDB live there, so the Firebird server (user
// firebird) can create and open the database. The database is dropped and the directory
// removed at the end.
//
// When the server does not answer, SetUp skips the test with the reason; when the environment
// variable CI is set (scripts/test sets it) it fails the test instead, as a skip would pass
// unseen. A fixture that builds on this SetUp returns at once when StoreMissing().
//
// The clock is a ManualClock (set `clock` before Connect for date-dependent behaviour), the
// timer a ManualTimer and the HTTP transport the system one, never called by the store layer.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "os/system.h"
#include "sample-store/sample_store.h"
#include "service/srv_zentrovia.h"
#include "support/log_messages.h"

namespace zv::test {

class StoreFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!std::filesystem::is_directory(sample::DefaultDataDirectory())) {
      why = "Firebird test directory " + sample::DefaultDataDirectory() +
            " is missing: run scripts/firebird start";
    } else if (!sample::ServerReachable({}, &why)) {
      why = "Firebird server on localhost:3050 not reachable (" + why +
            "): run scripts/firebird start";
    } else {
      why.clear();
    }
    if (!why.empty()) {
      // On a developer's machine a missing server skips; in CI it fails the run, as a skip
      // there would count as a pass.
      if (std::getenv("CI")) FAIL() << why;
      GTEST_SKIP() << why;
    }
    std::random_device rd;
    dir_ = sample::DefaultDataDirectory() + "t-" + std::to_string(::getpid()) + "-" +
           std::to_string(rd() % 1000000) + "/";
    std::filesystem::create_directories(dir_);
    // The server writes the database here as user firebird; the setgid directory above
    // gives it the group, this gives the group write access.
    ::chmod(dir_.c_str(), 02775);
    if (struct group* g = ::getgrnam("firebird")) {
      if (::chown(dir_.c_str(), static_cast<uid_t>(-1), g->gr_gid) != 0) {
        // Left to the inherited group; the test fails later with the server's message.
      }
    }
    db_path = dir_ + "DORVALI.FDB";
    transport_ = MakeSystemHttpTransport();
  }

  void TearDown() override {
    service_.reset();
    if (!dir_.empty()) {
      try {
        sample::DropStore(db_path);
      } catch (...) {
      }
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }

  // Whether SetUp gave the test no store (skipped, or failed under CI): a fixture that builds on
  // StoreFixture::SetUp returns at once then.
  bool StoreMissing() const { return IsSkipped() || HasFatalFailure(); }

  // The directory of the "executable", with a trailing '/'.
  const std::string& dir() const { return dir_; }

  // An empty store: every table, the generator and the indexes; no rows.
  void CreateStore() { sample::CreateEmptyStore(db_path); }
  // A store with a generated history and settings row.
  sample::SampleSummary BuildSample(const sample::SampleOptions& o) {
    return sample::BuildSampleStore(db_path, o);
  }
  // Statements run on the test's database, each committed.
  void Sql(const std::vector<std::string>& statements) { sample::ExecuteSql(db_path, statements); }
  // First column of the first row as text ("" for NULL or no row).
  std::string Value(const std::string& sql) { return sample::QueryValue(db_path, sql); }

  void WriteIni(const std::string& server, const std::string& path) {
    std::ofstream(dir_ + "Dorvali.ini")
        << "[Dorvali]\r\nServidor=" << server << "\r\nCaminho=" << path << "\r\n";
  }

  ServiceEnvironment Environment() {
    ServiceEnvironment env;
    env.clock = &clock;
    env.timer = &timer;
    env.transport = transport_.get();
    env.exe_dir = dir_;
    env.exe_path = dir_ + "SrvZentrovia";
    env.skip_probe = true;
    env.drain_backlog = drain_backlog;
    return env;
  }

  TSrvZentrovia& Service() {
    if (!service_) service_ = std::make_unique<TSrvZentrovia>(Environment());
    return *service_;
  }

  // IniConn on the service (created on first use); the database at db_path unless an ini
  // file says otherwise.
  void Connect() { Service().IniConn(); }

  // The log's messages in order, UTF-8, without the time stamp.
  std::vector<std::string> LogMessages() const { return test::LogMessages(dir_ + "Zentrovia.log"); }

  ManualClock clock{DateTime::FromParts(2026, 12, 9, 14, 5, 7)};
  ManualTimer timer;
  // Whether the service's uploads drain a backlog (set before the first Service()); off, one
  // document per call, as the job tests expect.
  bool drain_backlog = false;
  std::string db_path;

 private:
  std::string dir_;
  std::unique_ptr<IHttpTransport> transport_;
  std::unique_ptr<TSrvZentrovia> service_;
};

}  // namespace zv::test
