#pragma once
// The indexes the service's statements rely on. Without them a statement still gives the right
// rows, but reads the whole table to find them: the next-cancellation statement, for one, then
// scans every row of `vendas` in every idle cycle. The store is the point-of-sale system's, so
// the service never creates them; -STATUS names the ones missing.

#include <ostream>
#include <span>
#include <vector>

#include "store/store_query.h"

namespace zv {

struct NeededIndex {
  const char* table;  // as Firebird keeps an unquoted name: upper case
  const char* column;
  const char* used_by;
};

std::span<const NeededIndex> NeededIndexes();

// The needed indexes the store lacks: no active index of the table whose first column is the
// column (an index over more columns that begins with it serves as well).
std::vector<NeededIndex> MissingIndexes(TStoreQuery& q);

// The "Indexes" section of -STATUS: one warning line for each missing index, or one line
// saying they are all there.
void WriteIndexReport(TStoreQuery& q, std::ostream& out);

}  // namespace zv
