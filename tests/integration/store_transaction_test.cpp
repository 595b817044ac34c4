// Explicit transactions on the store connection: what runs in them, what a refused
// statement and a lost connection do to them.

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/errors.h"
#include "support/store_fixture.h"

namespace zv {
namespace {

class StoreTransactionTest : public test::StoreFixture {
 protected:
  void SetUp() override {
    test::StoreFixture::SetUp();
    if (StoreMissing()) return;
    CreateStore();
    Sql({"create table u (id integer not null primary key)"});
    fb.CreateConn("localhost", db_path, "3050", "SYSDBA", "pelvoxard", conn);
    fb.ConfigureConnection(conn);
    fb.ConnectConn(conn);
  }

  void Insert(int id) {
    w.ClearSQL();
    w.AddSQL("insert into u (id) values (:id)");
    w.ParamByName("id").AsInteger(id);
    w.Prepare();
    w.ExecSQL();
  }
  // Seen through the connection under test (in its transaction, if one is open).
  std::string IdsInside() {
    r.ClearSQL();
    r.AddSQL("select list(id, ',') as ids from (select id from u order by id)");
    r.Open();
    return r.FieldByName("ids").AsString();
  }
  // Seen from another attachment: committed rows only.
  std::string IdsOutside() {
    return Value("select list(id, ',') from (select id from u order by id)");
  }

  TFBConn fb;
  TStoreConnection conn;
  TStoreQuery w{&conn};
  TStoreQuery r{&conn};
};

TEST_F(StoreTransactionTest, ItsRowsAreReadInsideBeforeTheCommitAndOutsideOnlyAfter) {
  {
    TStoreTransaction tr(conn);
    EXPECT_TRUE(conn.InTransaction());
    Insert(1);
    Insert(2);
    EXPECT_EQ(IdsInside(), "1,2");
    EXPECT_EQ(IdsOutside(), "");
    // A result half read when the transaction ends is not taken for a whole one.
    r.ClearSQL();
    r.AddSQL("select id from u order by id");
    r.Open();
    tr.Commit();
    EXPECT_FALSE(r.Eof());
    EXPECT_THROW(r.Next(), EDatabaseError);
  }
  EXPECT_FALSE(conn.InTransaction());
  EXPECT_EQ(IdsOutside(), "1,2");
  EXPECT_THROW(conn.Commit(), EDatabaseError);
  conn.StartTransaction();
  EXPECT_THROW(conn.StartTransaction(), EDatabaseError);
  conn.Rollback();
  EXPECT_FALSE(conn.InTransaction());
}

TEST_F(StoreTransactionTest, RollbackAndAGuardLeftByAnErrorUndoTheWork) {
  conn.StartTransaction();
  Insert(1);
  conn.Rollback();
  EXPECT_EQ(IdsInside(), "");
  try {
    TStoreTransaction tr(conn);
    Insert(2);
    throw std::runtime_error("the job failed half way");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(conn.InTransaction());
  EXPECT_EQ(IdsOutside(), "");
  // Outside a transaction every statement is committed on its own again.
  Insert(3);
  EXPECT_EQ(IdsOutside(), "3");
}

TEST_F(StoreTransactionTest, ARefusedStatementIsUndoneAloneAndTheRestCommits) {
  TStoreTransaction tr(conn);
  Insert(1);
  EXPECT_THROW(Insert(1), EDatabaseError);  // the primary key refuses it
  EXPECT_TRUE(conn.InTransaction());
  Insert(2);
  EXPECT_EQ(IdsInside(), "1,2");
  tr.Commit();
  EXPECT_EQ(IdsOutside(), "1,2");
}

TEST_F(StoreTransactionTest, ACutAttachmentRaisesInsteadOfReattachingAndNothingCommits) {
  {
    TStoreTransaction tr(conn);
    Insert(1);
    Sql(
        {"delete from mon$attachments where mon$attachment_id <> current_connection and "
         "mon$system_flag = 0"});
    EXPECT_THROW(Insert(2), EDatabaseError);
    EXPECT_THROW(IdsInside(), EDatabaseError);  // a read does not re-attach either
    EXPECT_TRUE(conn.InTransaction());
    EXPECT_THROW(tr.Commit(), EDatabaseError);
    EXPECT_FALSE(conn.InTransaction());
  }
  EXPECT_EQ(IdsOutside(), "");
  // Once the transaction is over, the connection comes back on the next use.
  Insert(3);
  EXPECT_EQ(IdsOutside(), "3");
}

}  // namespace
}  // namespace zv
