// The firewall's authorized-applications keys in the registry.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "os/system.h"
#include "os/windows/firewall_windows.h"
#include "windows_test_support.h"

namespace {

using zvtest::EnsuredRegistryKey;
using zvtest::ReadRegistryString;
using zvtest::RegistryKeyExists;
using zvtest::Widen;

const std::wstring kListTail =
    L"\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\StandardProfile\\"
    L"AuthorizedApplications\\List";

TEST(FirewallAuthorization, WritesTheFirstKeyAndStopsAtTheMissingSecond) {
  // Wine's registry has CurrentControlSet but no ControlSet001, like a system whose other
  // control sets are gone.
  if (RegistryKeyExists(HKEY_LOCAL_MACHINE, L"SYSTEM\\ControlSet001")) {
    GTEST_SKIP() << "this system has SYSTEM\\ControlSet001";
  }
  const std::wstring first = L"SYSTEM\\CurrentControlSet" + kListTail;
  EnsuredRegistryKey key(HKEY_LOCAL_MACHINE, first);
  const std::string exe =
      "C:\\Program Files\\Farm\xC3\xA1"
      "cia\\SrvZentrovia.exe";

  // Twice: a restart writes the same value again.
  for (int start = 0; start < 2; ++start) {
    try {
      zv::DesbloqueiaAppFirewall(exe);
      ADD_FAILURE() << "no error at the missing second key";
    } catch (const zv::Exception& e) {
      EXPECT_NE(std::string(e.what()).find("ControlSet001"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, first, Widen(exe)), Widen(exe));
  }
  EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, L"SYSTEM\\ControlSet001"))
      << "a missing key must not be created";
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, first.c_str(), Widen(exe).c_str());
}

TEST(FirewallAuthorization, WritesEachKeyInOrderUntilTheFirstFailure) {
  const std::wstring root = L"Software\\ZentroviaFirewallTest";
  struct Case {
    std::vector<bool> exists;
    std::vector<bool> written;
    int failing;  // index of the key named in the error, -1 for none
  };
  const std::vector<Case> cases = {
      {{true, true, true}, {true, true, true}, -1},
      {{true, true, false}, {true, true, false}, 2},
      {{false, true, true}, {false, false, false}, 0},
      {{true, false, true}, {true, false, false}, 1},
  };
  const std::string exe = "D:\\Loja\\SrvZentrovia.exe";
  for (const Case& c : cases) {
    std::vector<std::string> keys;
    std::vector<std::unique_ptr<EnsuredRegistryKey>> made;
    for (size_t i = 0; i < c.exists.size(); ++i) {
      keys.push_back("Software\\ZentroviaFirewallTest\\Set" + std::to_string(i) + "\\List");
      if (c.exists[i])
        made.push_back(std::make_unique<EnsuredRegistryKey>(HKEY_CURRENT_USER, Widen(keys[i])));
    }
    std::string error;
    try {
      zv::AuthorizeApplicationInKeys(HKEY_CURRENT_USER, keys, exe);
    } catch (const zv::Exception& e) {
      error = e.what();
    }
    if (c.failing < 0) {
      EXPECT_EQ(error, "");
    } else {
      EXPECT_NE(error.find(keys[c.failing]), std::string::npos) << error;
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      auto value = ReadRegistryString(HKEY_CURRENT_USER, Widen(keys[i]), Widen(exe));
      EXPECT_EQ(value.has_value(), c.written[i])
          << "key " << i << " of case failing at " << c.failing;
      if (value) {
        EXPECT_EQ(*value, Widen(exe));
      }
      if (!c.exists[i]) {
        EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, Widen(keys[i])));
      }
    }
    made.clear();
    RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, root.c_str());
  }
}

}  // namespace
