// The Windows side of the operating-system layer: paths, the ini file, the instance lock and
// the ANSI code page.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/text.h"
#include "os/system.h"
#include "windows_test_support.h"

namespace {

class ScratchDirectory : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = zvtest::MakeScratchDirectory(L"zv-sistema-\u00e7-"); }
  void TearDown() override { zvtest::RemoveScratchDirectory(dir_); }

  void WriteFile(const std::wstring& name, const std::string& bytes) {
    HANDLE h = CreateFileW((dir_ + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
  }
  std::string Dir() const { return zvtest::Narrow(dir_); }

  std::wstring dir_;
};

TEST(SystemWindows, ExecutablePathAndDirectoryAreThoseOfTheRunningProgram) {
  const std::string path = zv::ExecutablePath();
  EXPECT_EQ(zvtest::Widen(path), zvtest::TestProgramDirectory() + L"windows_tests.exe");
  EXPECT_EQ(zvtest::Widen(zv::ExecutableDirectory()), zvtest::TestProgramDirectory());
}

using IniFile = ScratchDirectory;

TEST_F(IniFile, ValuesAndDefaults) {
  // The point-of-sale system writes its ini file in the ANSI code page.
  WriteFile(L"Dorvali.ini",
            zv::Utf8ToAnsi("[Dorvali]\r\nServidor=loja-01\r\nCaminho=C:\\Farm\xC3\xA1"
                           "cia\\Dados.fdb\r\nVazio=\r\n"));
  const std::string ini = Dir() + "Dorvali.ini";
  EXPECT_EQ(zv::ReadIniString(ini, "Dorvali", "Servidor", "x"), "loja-01");
  EXPECT_EQ(zv::ReadIniString(ini, "Dorvali", "Caminho", "x"),
            "C:\\Farm\xC3\xA1"
            "cia\\Dados.fdb");
  EXPECT_EQ(zv::ReadIniString(ini, "Dorvali", "Vazio", "x"), "");
  EXPECT_EQ(zv::ReadIniString(ini, "Dorvali", "Falta", "padr\xC3\xA3o"), "padr\xC3\xA3o");
  EXPECT_EQ(zv::ReadIniString(ini, "Outra", "Servidor", "d"), "d");
  EXPECT_EQ(zv::ReadIniString(Dir() + "NaoExiste.ini", "Dorvali", "Servidor", "d"), "d");
}

TEST_F(IniFile, LongValuesAreReadWhole) {
  const std::string long_value(3000, 'x');
  WriteFile(L"Longo.ini", "[S]\r\nK=" + long_value + "\r\n");
  EXPECT_EQ(zv::ReadIniString(Dir() + "Longo.ini", "S", "K", ""), long_value);
}

using InstanceLockTest = ScratchDirectory;

TEST_F(InstanceLockTest, OneHolderPerDirectoryUntilItEnds) {
  using Result = zv::InstanceLock::Result;
  auto first = std::make_unique<zv::InstanceLock>(Dir());
  ASSERT_EQ(first->Acquire(), Result::Acquired);
  zv::InstanceLock second(Dir());
  EXPECT_EQ(second.Acquire(), Result::HeldByAnother);
  first.reset();
  EXPECT_EQ(second.Acquire(), Result::Acquired);
}

TEST(SystemWindows, LogSeparatorsComeFromTheRegionalSettings) {
  wchar_t date[8] = {}, time[8] = {};
  GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDATE, date, 8);
  GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STIME, time, 8);
  EXPECT_EQ(static_cast<wchar_t>(zv::SystemDateSeparator()), date[0]);
  EXPECT_EQ(static_cast<wchar_t>(zv::SystemTimeSeparator()), time[0]);
}

TEST(AnsiCodePage, TheSystemsCodePageWithoutBestFit) {
  ASSERT_EQ(GetACP(), 1252u) << "these cases are written for Windows-1252";
  struct Case {
    std::string utf8;
    std::string ansi;
  };
  for (const Case& c : {Case{"D\xC3\x89"
                             "BITO",
                             "D\xC9"
                             "BITO"},
                        Case{"\xE2\x82\xAC", "\x80"},
                        // a-macron has a look-alike in the code page; it must not be used
                        Case{"\xC4\x81", "?"}, Case{"\xE6\x97\xA5", "?"}}) {
    EXPECT_EQ(zv::Utf8ToAnsi(c.utf8), c.ansi) << c.utf8;
  }
  EXPECT_EQ(zv::AnsiToUtf8("D\xC9"
                           "BITO \x80"),
            "D\xC3\x89"
            "BITO \xE2\x82\xAC");
}

}  // namespace
