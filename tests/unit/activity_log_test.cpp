#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "service/activity_log.h"
#include "support/temp_dir.h"

namespace zv {
namespace {

using test::ReadFile;
using test::TempDir;

TEST(ActivityLog, LinesAreStampedAppendedAndWrittenInWindows1252) {
  TempDir dir;
  ManualClock clock(DateTime::FromParts(2027, 1, 1, 0, 0, 0));
  ActivityLog log(dir.dir() + "Zentrovia.log", clock, '/', ':');

  log.Write("Servi\xC3\xA7o criado");  // "Serviço criado"
  clock.Set(DateTime::FromParts(2026, 12, 9, 14, 5, 7, 999999));
  log.Write("");
  log.Write("a\r\nb");

  EXPECT_EQ(ReadFile(dir.path() / "Zentrovia.log"),
            "01/01/2027 00:00:00 - Servi\xE7o criado\r\n"
            "09/12/2026 14:05:07 - \r\n"
            "09/12/2026 14:05:07 - a\r\nb\r\n");
}

TEST(ActivityLog, AccentsBecomeSingleBytesAndMissingCharactersBecomeQuestionMarks) {
  TempDir dir;
  ManualClock clock(DateTime::FromParts(2026, 12, 9, 14, 5, 7));
  ActivityLog log(dir.dir() + "Zentrovia.log", clock, '-', '.');
  log.Write("conex\xC3\xA3o \xE2\x82\xAC \xE4\xB8\xAD");  // "conexão € 中"
  EXPECT_EQ(ReadFile(dir.path() / "Zentrovia.log"), "09-12-2026 14.05.07 - conex\xE3o \x80 ?\r\n");
}

TEST(ActivityLog, AFileThatCannotBeOpenedRaisesEInOutError) {
  TempDir dir;
  ManualClock clock;
  // A directory where the file should be, and a directory that does not exist: both fail
  // for every user, root included.
  std::filesystem::create_directory(dir.path() / "Zentrovia.log");
  for (const std::string& path :
       {dir.dir() + "Zentrovia.log", dir.dir() + "missing/Zentrovia.log"}) {
    ActivityLog log(path, clock, '/', ':');
    try {
      log.Write("x");
      ADD_FAILURE() << "no error for " << path;
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.kind(), "EInOutError");
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
}

TEST(ActivityLog, TwoThreadsWritingAtOnceLeaveWholeLines) {
  TempDir dir;
  ManualClock clock(DateTime::FromParts(2026, 12, 9, 14, 5, 7));
  ActivityLog log(dir.dir() + "Zentrovia.log", clock, '/', ':');
  constexpr int kLines = 10000;
  auto writer = [&](char tag) {
    for (int i = 0; i < kLines; ++i) log.Write(std::string(40, tag) + std::to_string(i));
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();

  std::string text = ReadFile(dir.path() / "Zentrovia.log");
  int count_a = 0, count_b = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    std::string line = text.substr(pos, end - pos);
    ASSERT_EQ(line.rfind("09/12/2026 14:05:07 - ", 0), 0u) << line;
    std::string msg = line.substr(22);
    char tag = msg[0];
    ASSERT_TRUE(tag == 'a' || tag == 'b') << line;
    ASSERT_EQ(msg.substr(0, 40), std::string(40, tag)) << line;
    (tag == 'a' ? count_a : count_b)++;
    pos = end + 2;
  }
  EXPECT_EQ(count_a, kLines);
  EXPECT_EQ(count_b, kLines);
}

}  // namespace
}  // namespace zv
