#include "store/store_indexes.h"

#include <array>
#include <set>
#include <string>
#include <utility>

namespace zv {

namespace {

constexpr std::array<NeededIndex, 7> kNeeded{{
    {"VENDAS", "VENDA", "the next sale, a sale's lines"},
    {"VENDAS", "CODIGOCANCELAMENTO", "the next cancellation"},
    {"VENDAS", "DATA", "the daily closing, the resends of a day"},
    {"CAIXA", "CODIGOVENDA", "a sale's payments"},
    {"CAIXACANCELADO", "CODIGOVENDA", "a cancelled sale's payments"},
    {"VENDACARTAO", "CODIGOVENDA", "a sale's card payments"},
    {"VENDACARTAOCANCELADA", "CODIGOVENDA", "a cancelled sale's card payments"},
}};

// The first column of every active index on the tables above.
constexpr const char* kIndexedColumns =
    "select distinct trim(i.rdb$relation_name) as tabela, trim(s.rdb$field_name) as coluna "
    "from rdb$indices i join rdb$index_segments s on s.rdb$index_name = i.rdb$index_name "
    "where s.rdb$field_position = 0 and coalesce(i.rdb$index_inactive, 0) = 0 and "
    "i.rdb$relation_name in ('VENDAS', 'CAIXA', 'CAIXACANCELADO', 'VENDACARTAO', "
    "'VENDACARTAOCANCELADA')";

}  // namespace

std::span<const NeededIndex> NeededIndexes() {
  return kNeeded;
}

std::vector<NeededIndex> MissingIndexes(TStoreQuery& q) {
  std::set<std::pair<std::string, std::string>> indexed;
  q.ClearSQL();
  q.AddSQL(kIndexedColumns);
  q.Prepare();
  q.Open();
  for (; !q.Eof(); q.Next()) {
    indexed.emplace(q.FieldByName("tabela").AsString(), q.FieldByName("coluna").AsString());
  }
  q.ClearSQL();
  std::vector<NeededIndex> missing;
  for (const NeededIndex& n : kNeeded) {
    if (!indexed.count({n.table, n.column})) missing.push_back(n);
  }
  return missing;
}

void WriteIndexReport(TStoreQuery& q, std::ostream& out) {
  const std::vector<NeededIndex> missing = MissingIndexes(q);
  out << "\nIndexes the statements rely on\n";
  if (missing.empty()) {
    out << "  all " << kNeeded.size() << " present\n";
    return;
  }
  for (const NeededIndex& n : missing) {
    out << "  WARNING: no index on " << n.table << " (" << n.column << "): " << n.used_by
        << " read the whole table\n";
  }
}

}  // namespace zv
