#include "base/service_options.h"

#include <gtest/gtest.h>

#include <map>

#include "base/errors.h"

namespace zv {
namespace {

ServiceOptions Parse(const std::map<std::string, std::string>& ini) {
  return ParseServiceOptions([&](const std::string& key) -> std::optional<std::string> {
    auto it = ini.find(key);
    if (it == ini.end()) return std::nullopt;
    return it->second;
  });
}

TEST(ServiceOptions, MissingKeysGiveTheDefaults) {
  const ServiceOptions o = Parse({});
  EXPECT_EQ(o.store_call_deadline_s, 120);
  EXPECT_EQ(o.cycle_ceiling_s, 600);
  EXPECT_EQ(o.drain_s, 5);
  EXPECT_EQ(o.sources, (std::vector<std::string>{"default", "default", "default"}));
}

TEST(ServiceOptions, ValuesFromTheFileAreTakenAndMarked) {
  const ServiceOptions o = Parse({{"StoreCallDeadline", " 30 "}, {"DrainSeconds", "0"}});
  EXPECT_EQ(o.store_call_deadline_s, 30);
  EXPECT_EQ(o.drain_s, 0);
  EXPECT_EQ(o.cycle_ceiling_s, 600);
  EXPECT_EQ(o.sources, (std::vector<std::string>{"Dorvali.ini", "default", "Dorvali.ini"}));
}

TEST(ServiceOptions, AValueThatCannotBeReadIsAnErrorNamingTheKey) {
  for (const auto& [key, value] :
       std::vector<std::pair<std::string, std::string>>{{"StoreCallDeadline", ""},
                                                        {"StoreCallDeadline", "2m"},
                                                        {"StoreCallDeadline", "0"},
                                                        {"CycleCeiling", "-5"},
                                                        {"DrainSeconds", "1.5"},
                                                        {"DrainSeconds", "99999999999"}}) {
    try {
      Parse({{key, value}});
      ADD_FAILURE() << key << "=" << value << " was accepted";
    } catch (const EConversionError& e) {
      EXPECT_NE(std::string(e.what()).find("[SrvZentrovia] " + key + "="), std::string::npos)
          << e.what();
    }
  }
}

}  // namespace
}  // namespace zv
