// A store database in a folder with an accented name, as a Brazilian installation has it
// ("C:\Farmácia\..." on Windows, /srv/farmácia/... on Linux): the service connects to it and
// reads its settings.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/text.h"
#include "support/store_fixture.h"
#include "support/store_rows.h"

namespace zv {
namespace {

class StoreAccentedPathTest : public test::StoreFixture {};

TEST_F(StoreAccentedPathTest, TheServiceConnectsToAStoreInAnAccentedFolder) {
  const std::string folder = dir() +
                             "Farm\xC3\xA1"
                             "cia S\xC3\xA3o Jo\xC3\xA3o/";
  std::filesystem::create_directories(folder);
  ::chmod(folder.c_str(), 02775);
  if (struct group* g = ::getgrnam("firebird")) {
    if (::chown(folder.c_str(), static_cast<uid_t>(-1), g->gr_gid) != 0) {
      // Left to the inherited group.
    }
  }
  db_path = folder + "DORVALI.FDB";
  CreateStore();
  Sql({test::SettingsRow{.usuario = "'conta'"}.Sql()});
  ASSERT_TRUE(std::filesystem::exists(db_path)) << "the server wrote the file elsewhere";
  // The point-of-sale system writes its ini file in the system's code page.
  std::ofstream(dir() + "Dorvali.ini")
      << "[Dorvali]\r\nServidor=localhost\r\nCaminho=" << Utf8ToWindows1252(db_path) << "\r\n";

  Connect();
  ASSERT_TRUE(Service().DbConnected());
  EXPECT_EQ(Service().Settings().zentrovia_usuario, "conta");
}

}  // namespace
}  // namespace zv
