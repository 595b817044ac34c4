// The query object against the real server: the text rules, Windows-1252, exact decimals,
// dates and times, parameters converted to the described types, and reading rows.

#include <gtest/gtest.h>

#include "base/errors.h"
#include "support/store_fixture.h"
#include "support/store_rows.h"

namespace zv {
namespace {

class StoreQueryTest : public test::StoreFixture {
 protected:
  void SetUp() override {
    test::StoreFixture::SetUp();
    if (StoreMissing()) return;
    CreateStore();
    Sql(
        {"create table t (id integer, txt varchar(6), ch char(5), n2 numeric(15,2), "
         "n3 numeric(15,3), n4 numeric(15,4), d date, tm time, ts timestamp, "
         "dbl double precision, big bigint, sm smallint)",
         test::SettingsRow{.cgc = "'1'", .datainicio = "'2026-12-01'"}.Sql()});
    fb.CreateConn("localhost", db_path, "3050", "SYSDBA", "pelvoxard", conn);
    fb.ConfigureConnection(conn);
    fb.ConnectConn(conn);
  }

  // Inserts one row of t with a value bound to one column.
  void InsertOne(int id, const char* column, const std::function<void(TStoreParam&)>& bind) {
    q.ClearSQL();
    q.AddSQL(std::string("insert into t (id, ") + column + ") values (:id, :v)");
    q.ParamByName("id").AsInteger(id);
    bind(q.ParamByName("v"));
    q.Prepare();
    q.ExecSQL();
  }

  const TStoreField& ReadOne(int id, const char* column) {
    q.ClearSQL();
    q.AddSQL(std::string("select ") + column + " from t where id = :id");
    q.ParamByName("id").AsInteger(id);
    q.Open();
    EXPECT_FALSE(q.Eof());
    return q.FieldByName(column);
  }

  TFBConn fb;
  TStoreConnection conn;
  TStoreQuery q{&conn};
};

TEST_F(StoreQueryTest, TextRulesBlanksEmptyAndOverLong) {
  Sql({"insert into t (id, txt, ch) values (1, '   ', 'ab')"});
  EXPECT_EQ(ReadOne(1, "txt").AsString(), "");
  EXPECT_EQ(ReadOne(1, "ch").AsString(), "ab");  // CHAR padding trimmed

  InsertOne(2, "txt", [](TStoreParam& p) { p.AsString(""); });
  EXPECT_EQ(Value("select count(*) from t where id = 2 and txt is null"), "1");

  // Cut to the column's six characters, counted in the database's code page.
  InsertOne(3, "txt", [](TStoreParam& p) {
    p.AsString(
        "\xC3\x81"
        "BCDEFGHIJ");
  });
  EXPECT_EQ(Value("select txt from t where id = 3"),
            "\xC3\x81"
            "BCDEF");
  EXPECT_EQ(ReadOne(3, "txt").AsString(),
            "\xC3\x81"
            "BCDEF");
}

TEST_F(StoreQueryTest, Windows1252InTheDatabaseUtf8InTheProgram) {
  Sql({"insert into vendacartao (codigovenda, operacao) values (7, 'DÉBITO')"});
  EXPECT_EQ(Value("select octet_length(operacao) from vendacartao"), "6");
  q.AddSQL("select * from vendacartao where operacao = :op");
  q.ParamByName("op").AsString("DÉBITO");
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldByName("OPERACAO").AsString(), "DÉBITO");
  EXPECT_EQ(q.FieldByName("operacao").AsString(), std::string("D\xC3\x89"
                                                              "BITO"));

  InsertOne(1, "txt", [](TStoreParam& p) { p.AsString("AÇÃO"); });
  EXPECT_EQ(Value("select octet_length(txt) from t where id = 1"), "4");
  EXPECT_EQ(ReadOne(1, "txt").AsString(), "AÇÃO");
}

TEST_F(StoreQueryTest, DecimalsOfEveryScaleAreExact) {
  Sql(
      {"insert into t (id, n2, n3, n4, big, sm, dbl) values (1, 1234567890123.45, "
       "-0.125, 9.9999, 9000000000, -3, 0.5)",
       "insert into t (id, n2) values (2, 0.05)"});
  q.AddSQL("select n2, n3, n4, big, sm, dbl from t where id = 1");
  q.Open();
  EXPECT_EQ(q.FieldByName("n2").AsMoney(), Money::Parse("1234567890123.45"));
  EXPECT_EQ(q.FieldByName("n3").AsMoney(), Money::Parse("-0.125"));
  EXPECT_EQ(q.FieldByName("n4").AsMoney(), Money::Parse("9.9999"));
  EXPECT_EQ(q.FieldByName("big").AsInteger(), 9000000000LL);
  EXPECT_EQ(q.FieldByName("sm").AsInteger(), -3);
  EXPECT_EQ(q.FieldByName("dbl").AsFloat(), 0.5);

  q.ClearSQL();
  q.AddSQL("select sum(n2) as total, count(*) as n from t");
  q.Open();
  EXPECT_EQ(q.FieldByName("total").AsMoney(), Money::Parse("1234567890123.50"));
  EXPECT_EQ(std::get<int64_t>(q.FieldByName("N").value()), 2);

  // Binding: more decimals than the column are rounded half away from zero.
  struct Bind {
    int id;
    Money value;
    const char* stored;
  } binds[] = {{10, Money::Parse("1.235"), "1.24"},
               {11, Money::Parse("-1.235"), "-1.24"},
               {12, Money::Parse("2.2349"), "2.23"}};
  for (const auto& b : binds) {
    InsertOne(b.id, "n2", [&](TStoreParam& p) { p.AsMoney(b.value); });
    EXPECT_EQ(Value("select n2 from t where id = " + std::to_string(b.id)), b.stored);
  }
  InsertOne(13, "n4", [](TStoreParam& p) { p.AsInteger(3); });
  InsertOne(14, "n3", [](TStoreParam& p) { p.AsFloat(2.5); });
  InsertOne(15, "n2", [](TStoreParam& p) { p.AsString("7.5"); });
  EXPECT_EQ(Value("select n4 from t where id = 13"), "3.0000");
  EXPECT_EQ(Value("select n3 from t where id = 14"), "2.500");
  EXPECT_EQ(Value("select n2 from t where id = 15"), "7.50");
}

TEST_F(StoreQueryTest, ADecimalBeyondTheMoneyRangeFailsWhereItIsReadAsMoney) {
  q.AddSQL(
      "select cast(9999999999999999.99 as numeric(18,2)) as big, cast(-922337203685477.58 as "
      "numeric(18,2)) as low, 1 as other from RDB$DATABASE");
  q.Open();
  EXPECT_EQ(q.FieldByName("other").AsInteger(), 1);
  EXPECT_EQ(q.FieldByName("low").AsMoney(), Money::Parse("-922337203685477.58"));
  EXPECT_EQ(q.FieldByName("big").AsString(), "9999999999999999.99");
  try {
    ADD_FAILURE() << "read as " << q.FieldByName("big").AsMoney().ToJson();
  } catch (const EConversionError& e) {
    EXPECT_STREQ(e.what(), "'9999999999999999.99' is out of the Money range");
  }
}

TEST_F(StoreQueryTest, DatesTimesAndTimestampsKeepTheirResolution) {
  const DateTime ts = DateTime::FromParts(2026, 2, 28, 23, 59, 59, 999600);
  InsertOne(1, "ts", [&](TStoreParam& p) { p.AsDateTime(ts); });
  InsertOne(2, "d", [&](TStoreParam& p) { p.AsDate(ts); });
  InsertOne(3, "tm", [&](TStoreParam& p) { p.AsDateTime(ts); });
  InsertOne(4, "d", [](TStoreParam& p) { p.AsString("2026-05-31"); });
  EXPECT_EQ(ReadOne(1, "ts").AsDateTime(), ts);
  EXPECT_EQ(ReadOne(2, "d").AsDateTime(), DateTime::FromParts(2026, 2, 28));
  EXPECT_EQ(ReadOne(2, "d").AsString(), "28/02/2026");
  EXPECT_EQ(ReadOne(3, "tm").AsDateTime().TimeOfDay(), ts.TimeOfDay());
  EXPECT_EQ(ReadOne(4, "d").AsDateTime(), DateTime::FromParts(2026, 5, 31));
  q.ClearSQL();
  q.AddSQL("select d from t where id = 5");
  q.Open();
  EXPECT_TRUE(q.Eof());
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_TRUE(q.FieldByName("d").IsNull());  // at Eof every column reads as NULL
}

TEST_F(StoreQueryTest, TextForAnIntegerMarkerIsConvertedByTheServer) {
  Sql({"insert into t (id) values (101)"});
  q.AddSQL("select id from t where id = :id");
  q.ParamByName("id").AsString("101");
  q.Open();
  EXPECT_EQ(q.FieldByName("id").AsInteger(), 101);
  for (const char* bad : {"", "abc"}) {
    q.ParamByName("id").AsString(bad);
    EXPECT_THROW(q.Open(), EDatabaseError) << "'" << bad << "'";
    EXPECT_FALSE(q.Active());
  }
}

TEST_F(StoreQueryTest, ANameUsedTwiceBindsBothAndLiteralsStayText) {
  Sql({"insert into t (id, txt) values (1, ':id')", "insert into t (id, txt) values (2, 'x')"});
  q.AddSQL("select count(*) as n from t where (id = :id or id = :id + 1) and txt <> ':id'");
  q.ParamByName("id").AsInteger(1);
  q.Open();
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 1);
}

TEST_F(StoreQueryTest, RowsByNameRecordCountAndEof) {
  for (int i = 1; i <= 5; ++i)
    Sql({"insert into t (id, txt) values (" + std::to_string(i) + ", 'r" + std::to_string(i) +
         "')"});
  q.AddSQL("select id as Numero, txt, coalesce(n2, 0) from t where id >= :from order by id");
  q.ParamByName("from").AsInteger(2);
  q.Open();
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(q.RecordCount(), 4);
  std::vector<int64_t> seen;
  while (!q.Eof()) {
    seen.push_back(q.FieldByName("NUMERO").AsInteger());
    EXPECT_EQ(q.FieldByName("numero").AsString(), q.FieldByName("NuMeRo").AsString());
    EXPECT_EQ(q.FieldByName("COALESCE").AsMoney(), Money());
    q.Next();
  }
  EXPECT_EQ(seen, (std::vector<int64_t>{2, 3, 4, 5}));
  EXPECT_TRUE(q.FieldByName("txt").IsNull());
  EXPECT_THROW(q.FieldByName("nada"), EDatabaseError);
  EXPECT_EQ(q.RecordCount(), 4);

  // Larger results: counted by the server, or, where it cannot count them (FOR UPDATE),
  // read ahead; either way every row still comes, in order.
  Sql(
      {"execute block as declare i int = 6; begin while (i <= 400) do begin insert into t "
       "(id) values (:i); i = i + 1; end end"});
  for (const char* sql :
       {"select id from t order by id", "select id from t order by id for update"}) {
    SCOPED_TRACE(sql);
    q.ClearSQL();
    q.AddSQL(sql);
    q.Open();
    q.Next();
    EXPECT_EQ(q.RecordCount(), 400);
    int64_t expected = 2;
    for (; !q.Eof(); q.Next()) ASSERT_EQ(q.FieldByName("id").AsInteger(), expected++);
    EXPECT_EQ(expected, 401);
    EXPECT_EQ(q.RecordCount(), 400);
  }

  q.Close();
  EXPECT_FALSE(q.Active());
  EXPECT_TRUE(q.IsEmpty());
}

TEST_F(StoreQueryTest, EveryStatementIsCommittedOnItsOwn) {
  TStoreQuery reader(&conn);
  reader.AddSQL("select id from t order by id");
  Sql({"insert into t (id) values (1)", "insert into t (id) values (2)"});
  reader.Open();  // a cursor left open does not hold back other statements
  InsertOne(3, "txt", [](TStoreParam& p) { p.AsString("x"); });
  EXPECT_EQ(Value("select count(*) from t"), "3");  // seen from another attachment
  q.ClearSQL();
  q.AddSQL("select gen_id(GEN_CESTASPROMOCIONAIS, 1) as n from RDB$DATABASE");
  q.Open();
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 1);
  q.Open();
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 2);
  q.ExecSQL();  // a query run for its effect
  EXPECT_FALSE(q.Active());
  q.Open();
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 4);
  EXPECT_EQ(reader.FieldByName("id").AsInteger(), 1);
  reader.Next();
  EXPECT_EQ(reader.FieldByName("id").AsInteger(), 2);
}

// The jobs clear, fill, prepare and run their statements every cycle, closing and opening the
// connection in between: the server prepares each text once, until the tables change.
TEST_F(StoreQueryTest, AStatementRunEveryCycleIsPreparedOnceUntilTheTablesChange) {
  Sql({"insert into t (id) values (1)"});
  q.AddSQL("select current_connection as id from RDB$DATABASE");
  q.Open();
  const std::string attachment = q.FieldByName("id").AsString();
  // The server's ids of the statements of that text, seen from another attachment.
  auto prepared = [&] {
    return Value(
        "select list(mon$statement_id, ',') from (select mon$statement_id from mon$statements "
        "where mon$attachment_id = " +
        attachment +
        " and cast(mon$sql_text as varchar(100)) = 'select id from t where id >= ?' order by 1)");
  };
  auto cycle = [&](TStoreQuery& query) {
    query.ClearSQL();
    query.AddSQL("select id from t where id >= :id");
    query.ParamByName("id").AsInteger(1);
    query.Prepare();
    query.Open();
    EXPECT_EQ(query.FieldByName("id").AsInteger(), 1);
  };
  cycle(q);
  const std::string first = prepared();
  ASSERT_NE(first, "");
  for (int i = 0; i < 3; ++i) {
    conn.Close();
    conn.Open();
    cycle(q);
  }
  EXPECT_EQ(prepared(), first);

  // Another query running the same text meanwhile gets a statement of its own.
  TStoreQuery other(&conn);
  cycle(other);
  EXPECT_EQ(q.FieldByName("id").AsInteger(), 1);
  const std::string both = prepared();
  EXPECT_NE(both.find(first), std::string::npos) << both;
  EXPECT_NE(both.find(','), std::string::npos) << both;

  // A table altered meanwhile: the text is prepared again for its new layout.
  other.ClearSQL();
  q.ClearSQL();
  Sql({"alter table t add extra integer"});
  conn.Close();
  conn.Open();
  cycle(q);
  EXPECT_EQ(prepared().find(first), std::string::npos);
}

}  // namespace
}  // namespace zv
