// The index check of -STATUS against real stores: an index counts when it is active and begins
// with the column; a missing, inactive or misplaced one is named.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "store/store_indexes.h"
#include "support/store_fixture.h"

namespace zv {
namespace {

class StoreIndexesTest : public test::StoreFixture {
 protected:
  std::vector<std::string> Missing() {
    std::vector<std::string> out;
    for (const NeededIndex& n : MissingIndexes(Service().Context().store.StoreQuery1())) {
      out.push_back(std::string(n.table) + "." + n.column);
    }
    return out;
  }
};

TEST_F(StoreIndexesTest, TheSampleStoreHasEveryIndexAndAChangedOneIsNamed) {
  CreateStore();
  Connect();
  ASSERT_TRUE(Service().DbConnected());
  EXPECT_EQ(Missing(), std::vector<std::string>{});
  std::ostringstream all;
  WriteIndexReport(Service().Context().store.StoreQuery1(), all);
  EXPECT_EQ(all.str(), "\nIndexes the statements rely on\n  all 7 present\n");

  Sql({"drop index idx_vendas_codigocancelamento", "alter index idx_caixa_codigovenda inactive",
       // Two columns beginning with the one needed: serves.
       "drop index idx_vendas_data",
       "create index ix_vendas_data_terminal on vendas (data, terminal)",
       // The column needed second: does not.
       "drop index idx_vendacartao_codigovenda",
       "create index ix_vendacartao_bin on vendacartao (bin, codigovenda)"});
  EXPECT_EQ(Missing(), (std::vector<std::string>{"VENDAS.CODIGOCANCELAMENTO", "CAIXA.CODIGOVENDA",
                                                 "VENDACARTAO.CODIGOVENDA"}));
  std::ostringstream warned;
  WriteIndexReport(Service().Context().store.StoreQuery1(), warned);
  EXPECT_NE(warned.str().find("  WARNING: no index on VENDAS (CODIGOCANCELAMENTO): the next "
                              "cancellation read the whole table\n"),
            std::string::npos)
      << warned.str();
}

TEST_F(StoreIndexesTest, AStoreBuiltWithoutIndexesLacksAllOfThem) {
  sample::CreateEmptyStore(db_path, /*with_indexes=*/false);
  Connect();
  ASSERT_TRUE(Service().DbConnected());
  EXPECT_EQ(Missing().size(), NeededIndexes().size());
}

}  // namespace
}  // namespace zv
