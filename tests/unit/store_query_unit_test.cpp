// The query object's work that needs no server: :name rewriting, parameters, value
// conversions, the connection settings and a missing client library.

#include <gtest/gtest.h>

#include <ibase.h>

#include "base/errors.h"
#include "store/fb_attach.h"
#include "store/fb_conn.h"
#include "store/sql_params.h"
#include "store/store_query.h"

namespace zv {
namespace {

struct RewriteCase {
  const char* sql;
  const char* expected;
  std::vector<std::string> names;
};

TEST(StoreSqlParams, RewritesMarkersAndLeavesLiteralsAlone) {
  const RewriteCase cases[] = {
      {"update padrao set zentrovia_ultvenda = :venda where codigo is not null",
       "update padrao set zentrovia_ultvenda = ? where codigo is not null",
       {"venda"}},
      {"select * from vendas where venda = :v and data = :d",
       "select * from vendas where venda = ? and data = ?",
       {"v", "d"}},
      {"select ':x' , 'it''s :y', \":z\" from RDB$DATABASE where a = :a",
       "select ':x' , 'it''s :y', \":z\" from RDB$DATABASE where a = ?",
       {"a"}},
      {"select 1 from t where x = :p or y = :P",
       "select 1 from t where x = ? or y = ?",
       {"p", "P"}},
      {"select cast('10:30:00' as time) from t -- :c\nwhere b=:b /* :d */",
       "select cast('10:30:00' as time) from t -- :c\nwhere b=? /* :d */",
       {"b"}},
      {"select gen_id(GEN_CESTASPROMOCIONAIS, 1) from RDB$DATABASE",
       "select gen_id(GEN_CESTASPROMOCIONAIS, 1) from RDB$DATABASE",
       {}},
      {"insert into t values (:a_1,:b$2)", "insert into t values (?,?)", {"a_1", "b$2"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> names;
    EXPECT_EQ(RewriteNamedParams(c.sql, names), c.expected) << c.sql;
    EXPECT_EQ(names, c.names) << c.sql;
  }
}

// The jobs build the same texts for every record, so parses are kept; a thread that keeps
// building new texts passes the cache's bound and must still get each text's own parse.
TEST(StoreSqlParams, KeptParsesStayTheParseOfTheirOwnText) {
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 600; ++i) {
      const std::string n = std::to_string(i);
      const std::string sql = "select ':x" + n + "' from t where a" + n + " = :p" + n;
      const ParsedSql& p = ParseNamedParams(sql);
      ASSERT_EQ(p.rewritten, "select ':x" + n + "' from t where a" + n + " = ?") << sql;
      ASSERT_EQ(p.names, std::vector<std::string>{"p" + n}) << sql;
    }
  }
}

TEST(StoreQueryParams, ANameUsedTwiceIsOneParameterAndUnknownNamesFail) {
  TStoreQuery q;
  q.AddSQL("select * from vendas where venda = :venda or venda = :VENDA + 1");
  TStoreParam& a = q.ParamByName("venda");
  EXPECT_EQ(&a, &q.ParamByName("Venda"));
  EXPECT_THROW(q.ParamByName("data"), EDatabaseError);
  q.ClearSQL();
  EXPECT_EQ(q.SQLText(), "");
  EXPECT_THROW(q.ParamByName("venda"), EDatabaseError);
}

TEST(StoreQueryParams, LinesAddedBuildOneStatement) {
  TStoreQuery q;
  q.AddSQL("select 1 from padrao");
  q.AddSQL("where codigo = :codigo");
  EXPECT_EQ(q.SQLText(), "select 1 from padrao\nwhere codigo = :codigo");
  q.ParamByName("codigo").AsInteger(1);
  EXPECT_EQ(std::get<int64_t>(q.ParamByName("codigo").value()), 1);
}

TEST(StoreQueryParams, AsDateDropsTheTime) {
  TStoreParam p("d");
  p.AsDate(DateTime::FromParts(2026, 5, 31, 13, 45, 10));
  EXPECT_EQ(std::get<DateTime>(p.value()), DateTime::FromParts(2026, 5, 31));
}

TEST(StoreQuery, RunningWithoutConnectionIsADatabaseError) {
  TStoreQuery q;
  q.AddSQL("select 1 from RDB$DATABASE");
  EXPECT_THROW(q.Open(), EDatabaseError);
  EXPECT_FALSE(q.Active());
  EXPECT_TRUE(q.Eof());
}

TEST(StoreField, ConversionsAsADatabaseLayerMakesThem) {
  EXPECT_EQ(TStoreField("x", std::string(" 101 ")).AsInteger(), 101);
  EXPECT_THROW(TStoreField("x", std::string("")).AsInteger(), EConversionError);
  EXPECT_THROW(TStoreField("x", std::string("12a")).AsInteger(), EConversionError);
  EXPECT_EQ(TStoreField("x", {}).AsInteger(), 0);
  EXPECT_EQ(TStoreField("x", {}).AsString(), "");
  EXPECT_TRUE(TStoreField("x", {}).AsDateTime().IsZero());
  EXPECT_EQ(TStoreField("x", Money::Parse("12.50")).AsString(), "12.5");
  EXPECT_EQ(TStoreField("x", Money::Parse("-7.9")).AsInteger(), -7);
  EXPECT_EQ(TStoreField("x", int64_t{3}).AsMoney(), Money::FromInt(3));
  EXPECT_EQ(TStoreField("x", std::string("1.2345")).AsMoney(), Money::FromRaw(12345));
  EXPECT_EQ(TStoreField("x", int64_t{42}).AsString(), "42");
  EXPECT_EQ(TStoreField("x", DateTime::FromParts(2026, 3, 5), true).AsString(), "05/03/2026");
  EXPECT_EQ(TStoreField("x", DateTime::FromParts(2026, 3, 5, 7, 8, 9)).AsString(),
            "05/03/2026 07:08:09");
  EXPECT_EQ(TStoreField("x", std::string("2026-03-05 07:08:09.5")).AsDateTime(),
            DateTime::FromParts(2026, 3, 5, 7, 8, 9, 500000));
  EXPECT_THROW(TStoreField("x", std::string("soon")).AsDateTime(), EConversionError);
}

TEST(TFBConnSettings, ParameterListAndOptions) {
  TFBConn fb;
  TStoreConnection conn;
  conn.Params = {"Leftover=1"};
  conn.options.trim_strings = false;
  fb.CreateConn("srv", "C:\\DB\\DORVALI.FDB", "3050", "SYSDBA", "pelvoxard", conn);
  fb.ConfigureConnection(conn);
  const std::vector<std::string> expected = {"DriverID=FB",
                                             "Pooled=False",
                                             "Database=C:\\DB\\DORVALI.FDB",
                                             "User_Name=SYSDBA",
                                             "Password=pelvoxard",
                                             "Protocol=TCPIP",
                                             "Server=srv",
                                             "Port=3050",
                                             "SQLDialect=3",
                                             "CharacterSet=",
                                             "ExtendedMetaData=False",
                                             "OpenMode=Open",
                                             "POOLING=False"};
  EXPECT_EQ(conn.Params, expected);
  EXPECT_EQ(conn.ParamValue("pooled"), "False");
  EXPECT_TRUE(fb.FCharacterSet.empty());
  EXPECT_TRUE(conn.options.read_committed && conn.options.auto_commit &&
              conn.options.record_count_total && conn.options.auto_reconnect &&
              conn.options.empty_strings_to_null && conn.options.trim_strings &&
              conn.options.trim_to_length && !conn.options.login_prompt &&
              conn.options.silent_mode);
}

TEST(StoreAttachRequest, AUtf8PathIsFlaggedSoTheClientDoesNotConvertItAgain) {
  struct Case {
    const char* path;
    const char* server;
    const char* target;
    bool flagged;
  } cases[] = {
      {"C:\\Farm\xC3\xA1"
       "cia\\DORVALI.FDB",
       "srv",
       "srv/3050:C:\\Farm\xC3\xA1"
       "cia\\DORVALI.FDB",
       true},
      {"/srv/loja.fdb", "", "localhost/3050:/srv/loja.fdb", true},
      // Not UTF-8 (a Windows-1252 byte): handed over as it is, for the client to convert.
      {"C:\\Farm\xE1"
       "cia\\DORVALI.FDB",
       "srv",
       "srv/3050:C:\\Farm\xE1"
       "cia\\DORVALI.FDB",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TFBConn fb;
    TStoreConnection conn;
    fb.CreateConn(c.server, c.path, "3050", "SYSDBA", "pelvoxard", conn);
    fb.ConfigureConnection(conn);
    const FbAttachRequest r = BuildAttachRequest(conn);
    EXPECT_EQ(r.target, c.target);
    std::string expected = {isc_dpb_version1, isc_dpb_user_name, 6};
    expected += "SYSDBA";
    expected += {isc_dpb_password, 9};
    expected += "pelvoxard";
    expected += {isc_dpb_sql_dialect, 4, 3, 0, 0, 0, isc_dpb_connect_timeout, 4, 15, 0, 0, 0};
    if (c.flagged) expected += {isc_dpb_utf8_filename, 0};
    EXPECT_EQ(r.dpb, expected);
  }
  TStoreConnection no_path;
  EXPECT_THROW(BuildAttachRequest(no_path), EDatabaseError);
}

TEST(TFbDriverLinkLoad, MissingClientLibraryIsADatabaseError) {
  TFbDriverLink link;
  link.VendorLib = "libzv-no-such-fbclient.so.9";
  TStoreConnection conn;
  conn.DriverLink = &link;
  TFBConn fb;
  fb.CreateConn("localhost", "/nowhere.fdb", "3050", "SYSDBA", "x", conn);
  fb.ConfigureConnection(conn);
  try {
    fb.ConnectConn(conn);
    FAIL() << "connected without a client library";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("libzv-no-such-fbclient.so.9"), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(conn.Connected());
}

}  // namespace
}  // namespace zv
