// The ini file of the point-of-sale installation, read through the system's reader on
// Windows and through ours on Linux: the same table must hold on both.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "os/system.h"
#include "support/temp_dir.h"

namespace zv {
namespace {

TEST(IniFile, ReadsWhatAStoreFileHoldsAsWindowsDoes) {
  const std::string long_path = "C:\\" + std::string(240, 'p') + "\\Dados\\DORVALI.FDB";
  struct Case {
    const char* name;
    std::string content;
    std::string expected;  // "(default)" when the key is not found
  };
  const Case cases[] = {
      {"plain", "[Dorvali]\r\nServidor=loja\r\nCaminho=C:\\Dados\\DORVALI.FDB\r\n",
       "C:\\Dados\\DORVALI.FDB"},
      {"names in any case, blanks around", "[ dorvali ]\r\n  caminho  =  C:\\X.FDB  \r\n",
       "C:\\X.FDB"},
      {"quotes removed", "[Dorvali]\r\nCaminho=\"C:\\Meus Dados\\X.FDB\"\r\n",
       "C:\\Meus Dados\\X.FDB"},
      {"no inline comment", "[Dorvali]\r\nCaminho=C:\\a;b\\X.FDB ; old\r\n",
       "C:\\a;b\\X.FDB ; old"},
      {"full path length", "[Dorvali]\r\nCaminho=" + long_path + "\r\n", long_path},
      {"an indented line is its own", "[Dorvali]\r\nCaminho=C:\\X.FDB\r\n  Servidor=loja\r\n",
       "C:\\X.FDB"},
      {"comment line", "[Dorvali]\r\n;Caminho=C:\\OLD.FDB\r\nCaminho=C:\\NEW.FDB\r\n",
       "C:\\NEW.FDB"},
      {"first key wins", "[Dorvali]\r\nCaminho=C:\\A.FDB\r\nCaminho=C:\\B.FDB\r\n", "C:\\A.FDB"},
      {"other section", "[Outro]\r\nCaminho=C:\\A.FDB\r\n", "(default)"},
      {"no key", "[Dorvali]\r\nServidor=loja\r\n", "(default)"},
      {"code page text",
       "[Dorvali]\r\nCaminho=C:\\Farm\xE1"
       "cia\\X.FDB\r\n",
       "C:\\Farm\xC3\xA1"
       "cia\\X.FDB"},
  };
  test::TempDir dir;
  const std::string path = dir.dir() + "Dorvali.ini";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.content;
    EXPECT_EQ(ReadIniString(path, "Dorvali", "Caminho", "(default)"), c.expected);
  }
  EXPECT_EQ(ReadIniString(dir.dir() + "missing.ini", "Dorvali", "Caminho", "(default)"),
            "(default)");
}

}  // namespace
}  // namespace zv
