// The explanations -STATUS gives for the log's lines: in step with the README's table, and
// the digest of a log tail (distinct problems, newest first, counted).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "base/text.h"
#include "service/log_explanations.h"
#include "service/log_tail.h"

namespace zv {
namespace {

namespace fs = std::filesystem;
const fs::path kReadme = fs::path(__FILE__).parent_path().parent_path().parent_path() / "README.md";

// The first cell of every row of the README's "Reading the log" table.
std::set<std::string> ReadmeLogRows() {
  std::ifstream in(kReadme);
  std::set<std::string> rows;
  std::string line;
  bool in_section = false;
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0) in_section = line == "## Reading the log";
    if (!in_section || line.rfind("| ", 0) != 0 || line.rfind("| line |", 0) == 0) continue;
    // A cell ends at " | " (a "|" inside backticks never has blanks on both sides).
    const size_t end = line.find(" | ", 2);
    if (end != std::string::npos) rows.insert(line.substr(2, end - 2));
  }
  return rows;
}

TEST(LogExplanations, TheTableAndTheReadmeDescribeTheSameLines) {
  const std::set<std::string> readme = ReadmeLogRows();
  ASSERT_GT(readme.size(), 10u) << "no table read from " << kReadme;
  std::set<std::string> code;
  for (const LogExplanation& e : LogExplanations()) code.insert(e.readme);
  for (const std::string& row : readme)
    EXPECT_EQ(code.count(row), 1u) << "README row without an explanation: " << row;
  for (const std::string& row : code)
    EXPECT_EQ(readme.count(row), 1u) << "explanation without a README row: " << row;
}

TEST(LogExplanations, EachExampleIsExplainedByItsOwnEntryInOneSentence) {
  const std::string none;
  for (const LogExplanation& e : LogExplanations()) {
    const std::string message = e.example, next = e.example_next;
    const LogExplanation* found = ExplainLogLine({none, message, next});
    ASSERT_NE(found, nullptr) << e.id;
    EXPECT_STREQ(found->id, e.id) << message;
    const std::string meaning = e.meaning;
    EXPECT_EQ(meaning.back(), '.') << e.id;
    EXPECT_EQ(meaning.find(". "), std::string::npos) << e.id << ": one sentence";
  }
}

// A log as the service writes it: Windows-1252, "\r\n", messages over several lines.
std::string Log(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& l : lines) text += Utf8ToWindows1252(l) + "\r\n";
  return text;
}

TEST(LogDigest, DistinctProblemsNewestFirstWithTheirCountsAndLastLine) {
  const std::string text = Log({
      "Mensagem: the end of a message cut by the start of the tail",
      "09/12/2026 08:00:00 - [Venda= 5000]Ok:120",
      "09/12/2026 09:00:00 - [Venda= 5001]Usuário e/ou senha inválidos",
      "09/12/2026 09:00:00 - ERRO no Timer: ERESTException - Usuário e/ou senha inválidos",
      "09/12/2026 09:01:00 - [Venda= 5001]Usuário e/ou senha inválidos",
      "09/12/2026 09:01:00 - ERRO no Timer: ERESTException - Usuário e/ou senha inválidos",
      "09/12/2026 09:02:00 - {\"numero\":\"5001\"}",
      "09/12/2026 09:02:00 - [Venda= 5001]Artigo não encontrado",
      "09/12/2026 09:03:00 - ",
      "09/12/2026 09:03:00 - Erro: EConversionError",
      "Mensagem: 1E30 is not a valid amount",
      "09/12/2026 09:03:00 - [Venda= 5002]Ok:121",
      "09/12/2026 09:04:00 - [Venda= 5003]Usuário e/ou senha inválidos",
      "09/12/2026 09:04:00 - ERRO no Timer: ERESTException - Usuário e/ou senha inválidos",
  });
  const LogDigest d = DigestLog(ParseLogText(text));
  EXPECT_EQ(d.messages, 12u);
  EXPECT_EQ(d.first_at, DateTime::FromParts(2026, 12, 9, 8, 0, 0));
  // The empty document posted for the sale that cannot be built is accepted, but is not
  // taken for a refused document either.
  EXPECT_EQ(d.last_accepted, DateTime::FromParts(2026, 12, 9, 9, 3, 0));
  ASSERT_EQ(d.problems.size(), 3u);
  EXPECT_STREQ(d.problems[0].explanation->id, "password-refused");
  EXPECT_EQ(d.problems[0].count, 3);
  EXPECT_EQ(d.problems[0].last_at, DateTime::FromParts(2026, 12, 9, 9, 4, 0));
  EXPECT_STREQ(d.problems[1].explanation->id, "document-cannot-be-built");
  EXPECT_EQ(d.problems[1].line, "Erro: EConversionError / Mensagem: 1E30 is not a valid amount");
  EXPECT_STREQ(d.problems[2].explanation->id, "document-refused");
  EXPECT_EQ(d.problems[2].line, "[Venda= 5001]Artigo não encontrado");
  EXPECT_EQ(d.problems[2].count, 1);
}

TEST(LogTail, OnlyTheLastBytesAreReadFromAWholeLine) {
  const fs::path dir =
      fs::temp_directory_path() / ("zv_log_tail_" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  const std::string path = (dir / "Zentrovia.log").string();
  {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 1000; ++i)
      out << Log({"09/12/2026 10:00:00 - [Venda= " + std::to_string(i) + "]Ok:1"});
    out << Log({"09/12/2026 11:00:00 - Falha na conexão de internet."});
  }
  std::string error;
  const std::vector<LogEntry> tail = ReadLogTail(path, 200, &error);
  EXPECT_EQ(error, "");
  ASSERT_FALSE(tail.empty());
  EXPECT_LT(tail.size(), 10u);
  EXPECT_EQ(tail.front().message.rfind("[Venda= ", 0), 0u) << "starts on a whole line";
  EXPECT_EQ(tail.back().message, "Falha na conexão de internet.");

  EXPECT_TRUE(ReadLogTail((dir / "missing.log").string(), 200, &error).empty());
  EXPECT_EQ(error, "") << "a log not written yet is no error";
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zv
