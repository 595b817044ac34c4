// The closing resend of one day against a real store database and the fake platform: which
// documents go out for a till, for every till, for a day without sales, and what a failure
// leaves in the log and tells the caller. No cursor moves.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "closings/closing_resend.h"
#include "closings_fixture.h"

namespace zv {
namespace {

using test::Closing;
using test::Partial;
using test::SqlDate;

class ClosingResendTest : public test::ClosingsFixture {
 protected:
  void SetUp() override {
    ClosingsFixture::SetUp();
    if (StoreMissing()) return;
    day = today.AddDays(-2);
    Settings(SqlDate(today), SqlDate(today.AddDays(-10)));
    DayOfThreeTills(day, 1);
    // The next day: one till, no partial cancellation.
    Rows({{20, 1, day.AddDays(1), "8", "8", "2"}, {21, 1, today, "3", "3", "1"}});
  }

  void Resend(DateTime d, const std::string& till) {
    ReenviaCaixaZentrovia(Service().Context(), d, till);
  }

  DateTime day;
};

TEST_F(ClosingResendTest, DocumentsPerRequest) {
  // A till's resend counts its rows as the daily closing does: the NULL-till rows are till
  // 1's, and the partly cancelled rows of its sales are added back, since "9999" takes them
  // off for every till.
  const Post till1{"1", Closing("1359.50", "0.00", 3, day, 0)};
  const Post till2{"2", Closing("49.50", "0.00", 2, day, 0)};
  const Post till3{"3", Closing("0.00", "15.00", 2, day, 1)};
  const Post partial{"9999", Partial("17.00", day, 2)};
  struct Case {
    const char* name;
    DateTime day;
    std::string till;
    std::vector<Post> posts;
  };
  const std::vector<Case> cases = {
      {"one till", day, "2", {till2, partial}},
      {"every till, then 9999 once", day, "", {till1, till2, till3, partial}},
      {"a till whose only sale was wholly cancelled", day, "4", {}},
      {"a till that did not exist", day, "7", {}},
      {"a day without partial cancellations",
       day.AddDays(1),
       "2",
       {{"2", Closing("8.00", "0.00", 1, day.AddDays(1), 0)}}},
      {"today is never closed", today, "1", {}},
      {"today, every till", today, "", {}},
  };
  ConnectOk();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.ClearRequests();
    Resend(c.day, c.till);
    EXPECT_EQ(ClosingPosts(), c.posts);
  }
  EXPECT_EQ(Cursor(), test::IsoDay(today));

  platform_.ClearRequests();
  Resend(day.AddSeconds(15 * 3600), "2");
  EXPECT_EQ(ClosingPosts(), (std::vector<Post>{till2, partial}));
  EXPECT_EQ(LogTail(2), (std::vector<std::string>{"[REENVIO-CAIXA:" + Dated(day) + "]Ok:#",
                                                  "[REENVIO-CAIXA-PARC.:" + Dated(day) + "]Ok:#"}));
}

// Each failure is logged and the other documents still go out; the caller learns of the
// first failure once the call has done what it could.
TEST_F(ClosingResendTest, FailuresAreLoggedThenRaised) {
  ConnectOk();
  const std::string partial = Partial("17.00", day, 2);
  const std::string dated = Dated(day);

  // A till's post fails: the others and "9999" still go out.
  platform_.AddFault({"/cajas/2/", 503, "busy", "text/plain", 0, 1});
  EXPECT_THROW(Resend(day, ""), ERESTException);
  EXPECT_EQ(ClosingPosts().size(), 4u);
  EXPECT_EQ(LogTail(6), (std::vector<std::string>{
                            "[REENVIO-CAIXA:" + dated + "]Ok:#",
                            Closing("49.50", "0.00", 2, day, 0),
                            "Erro Reenvio Caixa Total: ERESTException",
                            "Mensagem: HTTP/1.1 503 Service Unavailable",
                            "[REENVIO-CAIXA:" + dated + "]Ok:#",
                            "[REENVIO-CAIXA-PARC.:" + dated + "]Ok:#",
                        }));

  // The "9999" post fails: logged with its own line.
  platform_.AddFault({"/cajas/9999/", 503, "busy", "text/plain", 0, 1});
  EXPECT_THROW(Resend(day, "3"), ERESTException);
  EXPECT_EQ(LogTail(4), (std::vector<std::string>{"[REENVIO-CAIXA:" + dated + "]Ok:#", partial,
                                                  "Erro Reenvio Caixa Parcial: ERESTException",
                                                  "Mensagem: HTTP/1.1 503 Service Unavailable"}));

  // An answer that says nothing about the document is no verdict either.
  platform_.AddFault({"/cajas/3/", 200, "<html>login</html>", "text/html", 0, 1});
  EXPECT_THROW(Resend(day, "3"), ERESTException);
  EXPECT_EQ(LogTail(5),
            (std::vector<std::string>{
                "[REENVIO-CAIXA:" + dated + "]Erro: JSON inválido",
                Closing("0.00", "15.00", 2, day, 1), "Erro Reenvio Caixa Total: ERESTException",
                "Mensagem: Erro: JSON inválido", "[REENVIO-CAIXA-PARC.:" + dated + "]Ok:#"}));

  // A till that is no number: the server refuses the statement before any document is
  // built.
  platform_.ClearRequests();
  EXPECT_THROW(Resend(day, "abc"), EDatabaseError);
  EXPECT_TRUE(ClosingPosts().empty());
  const auto tail = LogTail(3);
  EXPECT_EQ(tail[0], "");
  EXPECT_EQ(tail[1], "Erro Reenvio Caixa: EDatabaseError");
  EXPECT_EQ(tail[2].rfind("Mensagem: ", 0), 0u) << tail[2];
}

// A day sent again adds up to the same day closed: the same documents, till by till.
TEST_F(ClosingResendTest, ADayResentMatchesTheDayClosed) {
  Sql({"update padrao set zentrovia_ultcaixa = " + SqlDate(day)});
  ConnectOk();
  Service().FechamentoCaixaZentrovia();
  const std::vector<Post> closed = ClosingPosts();
  ASSERT_GE(closed.size(), 4u);
  platform_.ClearRequests();
  Resend(day, "");
  EXPECT_EQ(ClosingPosts(), std::vector<Post>(closed.begin(), closed.begin() + 4));
  platform_.ClearRequests();
  Resend(day, "1");
  EXPECT_EQ(ClosingPosts(), (std::vector<Post>{closed[0], closed[3]}));
}

}  // namespace
}  // namespace zv
