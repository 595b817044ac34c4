#include "sample_store.h"

#include <cstring>
#include <deque>
#include <memory>
#include <sstream>

#include "base/errors.h"
#include "base/text.h"
#include "os/system.h"
#include "store/fb_client.h"
#include "store/store_indexes.h"

namespace zv::sample {

namespace {

constexpr int64_t kFbDateOffset = 15018;  // days from 17 Nov 1858 to 30 Dec 1899

// ---- Schema ----

// idx_vendas_codigocancelamento and so on, cut to Firebird's 31 characters.
std::string IndexName(const NeededIndex& n) {
  std::string name = "idx_" + AsciiLower(n.table) + "_" + AsciiLower(n.column);
  if (name.size() > 31) name.resize(31);
  return name;
}

enum class Kind { Int, Date, Time, Timestamp, Text, Money2, Qty3, Cost4, Money4 };

struct Col {
  const char* name;
  Kind kind;
  int length = 0;  // text columns
};

struct Table {
  const char* name;
  std::vector<Col> cols;
  const char* primary_key = nullptr;
};

std::string SqlType(const Col& c) {
  switch (c.kind) {
    case Kind::Int:
      return "INTEGER";
    case Kind::Date:
      return "DATE";
    case Kind::Time:
      return "TIME";
    case Kind::Timestamp:
      return "TIMESTAMP";
    case Kind::Text:
      return "VARCHAR(" + std::to_string(c.length) + ")";
    case Kind::Money2:
      return "NUMERIC(15,2)";
    case Kind::Qty3:
      return "NUMERIC(15,3)";
    case Kind::Cost4:
      return "NUMERIC(15,4)";
    case Kind::Money4:
      return "NUMERIC(15,4)";
  }
  return "";
}

const Table kPadrao{"padrao",
                    {{"codigo", Kind::Int},
                     {"cgc", Kind::Text, 20},
                     {"razaosocial", Kind::Text, 100},
                     {"zentrovia_usuario", Kind::Text, 100},
                     {"zentrovia_senha", Kind::Text, 100},
                     {"zentrovia_url1", Kind::Text, 200},
                     {"zentrovia_url2", Kind::Text, 200},
                     {"zentrovia_url3", Kind::Text, 200},
                     {"zentrovia_idempresa", Kind::Text, 20},
                     {"zentrovia_idlocal", Kind::Text, 20},
                     {"zentrovia_intervalo", Kind::Int},
                     {"zentrovia_datainicio", Kind::Date},
                     {"zentrovia_ultvenda", Kind::Int},
                     {"zentrovia_ultcancelamento", Kind::Int},
                     {"zentrovia_ultcaixa", Kind::Date},
                     {"zentrovia_verificapromo", Kind::Timestamp},
                     {"zentrovia_verificareenvio", Kind::Timestamp}}};

const Table kVendas{"vendas",
                    {{"venda", Kind::Int},
                     {"sequencial", Kind::Int},
                     {"data", Kind::Date},
                     {"hora", Kind::Time},
                     {"codigocliente", Kind::Int},
                     {"cancelamento", Kind::Date},
                     {"codigocancelamento", Kind::Int},
                     {"unidade", Kind::Text, 6},
                     {"codigoproduto", Kind::Text, 20},
                     {"produto", Kind::Text, 100},
                     {"precounitario", Kind::Money2},
                     {"quantidade", Kind::Qty3},
                     {"subtotal", Kind::Money2},
                     {"desconto", Kind::Money2},
                     {"precototal", Kind::Money2},
                     {"precoautomatico", Kind::Money2},
                     {"precocusto", Kind::Cost4},
                     {"farmaciapopular", Kind::Text, 1},
                     {"numeroserie", Kind::Text, 30},
                     {"numerocoo", Kind::Int},
                     {"terminal", Kind::Int}}};

const Table kProdutos{
    "produtos", {{"codigo", Kind::Text, 20}, {"produto", Kind::Text, 100}}, "codigo"};
const Table kClientes{"clientes",
                      {{"codigo", Kind::Int}, {"nome", Kind::Text, 100}, {"cic", Kind::Text, 20}},
                      "codigo"};

std::vector<Col> CaixaCols() {
  return {{"codigovenda", Kind::Int},  {"naturezadaoperacao", Kind::Text, 50},
          {"dinheiro", Kind::Money2},  {"cheque", Kind::Money2},
          {"cartao", Kind::Money2},    {"carteiradigital", Kind::Money2},
          {"valetroca", Kind::Money2}, {"ecommerce", Kind::Money2},
          {"troco", Kind::Money2},     {"total", Kind::Money2},
          {"numerocoo", Kind::Int}};
}
std::vector<Col> CartaoCols() {
  return {{"codigovenda", Kind::Int},   {"autorizacao", Kind::Text, 20},
          {"bin", Kind::Text, 10},      {"ultimosquatrodigitos", Kind::Text, 4},
          {"operacao", Kind::Text, 20}, {"movimento", Kind::Int},
          {"valortotal", Kind::Money2}};
}
const Table kCaixa{"caixa", CaixaCols()};
const Table kCaixaCancelado{"caixacancelado", CaixaCols()};
const Table kVendaCartao{"vendacartao", CartaoCols()};
const Table kVendaCartaoCancelada{"vendacartaocancelada", CartaoCols()};

const Table kPromocoes{"ZENTROVA_PROMOCOES",
                       {{"CODIGOPROMOCAO", Kind::Int},
                        {"DATAINICIAL", Kind::Date},
                        {"DATAFINAL", Kind::Date},
                        {"LIMITE", Kind::Int},
                        {"TIPOPROMOCAO", Kind::Text, 1},
                        {"QUANTIDADEMINIMA", Kind::Int},
                        {"DESCONTOPORCENTAGEM", Kind::Money4},
                        {"DESCONTOFIXO", Kind::Money2},
                        {"PRECOFIXO", Kind::Money2},
                        {"LEVE", Kind::Int},
                        {"PAGUE", Kind::Int},
                        {"DESCRICAO", Kind::Text, 200},
                        {"REJEITADA", Kind::Timestamp}},
                       "CODIGOPROMOCAO"};
const Table kPromocoesProdutos{"ZENTROVA_PROMOCOES_PRODUTOS",
                               {{"CODIGOPROMOCAO", Kind::Int}, {"CODIGOPRODUTO", Kind::Text, 20}},
                               "CODIGOPROMOCAO, CODIGOPRODUTO"};
const Table kPromocoesBin{
    "ZENTROVA_PROMOCOES_BIN",
    {{"CODIGOPROMOCAO", Kind::Int}, {"BIN", Kind::Text, 10}, {"CREDITODEBITO", Kind::Text, 1}},
    "CODIGOPROMOCAO, BIN"};
const Table kCestas{"CESTASPROMOCIONAIS",
                    {{"CODIGO", Kind::Text, 20},
                     {"DESCRICAO", Kind::Text, 100},
                     {"DATAINICIOPROMOCAO", Kind::Date},
                     {"DATAFINALPROMOCAO", Kind::Date},
                     {"CODIGOZENTROVA", Kind::Int},
                     {"REJEITADA", Kind::Timestamp}},
                    "CODIGO"};
const Table kItensCestas{"ITENSCESTASPROMOCIONAIS",
                         {{"CODIGOCESTA", Kind::Text, 20},
                          {"CODIGOPRODUTO", Kind::Text, 20},
                          {"QUANTIDADE", Kind::Int},
                          {"TIPODESCONTO", Kind::Text, 1},
                          {"DESCONTOVISTA", Kind::Money2},
                          {"DESCONTOPRAZO", Kind::Money2},
                          {"DESCRICAO", Kind::Text, 100}},
                         "CODIGOCESTA, CODIGOPRODUTO"};

const Table* const kTables[] = {&kPadrao,       &kVendas,
                                &kProdutos,     &kClientes,
                                &kCaixa,        &kCaixaCancelado,
                                &kVendaCartao,  &kVendaCartaoCancelada,
                                &kPromocoes,    &kPromocoesProdutos,
                                &kPromocoesBin, &kCestas,
                                &kItensCestas};

// Exactly the indexes the service's statements rely on, the ones -STATUS looks for: a sample
// store with an index more could hide one the service lacks in a real store.
std::vector<std::string> IndexStatements() {
  std::vector<std::string> out;
  for (const NeededIndex& n : NeededIndexes()) {
    out.push_back(std::string("create index ") + IndexName(n) + " on " + n.table + " (" + n.column +
                  ")");
  }
  return out;
}

std::string CreateTableSql(const Table& t) {
  std::string sql = std::string("create table ") + t.name + " (";
  for (size_t i = 0; i < t.cols.size(); ++i) {
    if (i) sql += ", ";
    sql += std::string(t.cols[i].name) + " " + SqlType(t.cols[i]);
    if (t.primary_key && std::string(t.primary_key) == t.cols[i].name) sql += " not null";
  }
  if (t.primary_key) {
    std::string pk = t.primary_key;
    if (pk.find(',') != std::string::npos) {
      // Composite keys: every part must be NOT NULL; declare them again via a constraint.
      sql.clear();
      sql = std::string("create table ") + t.name + " (";
      for (size_t i = 0; i < t.cols.size(); ++i) {
        if (i) sql += ", ";
        sql += std::string(t.cols[i].name) + " " + SqlType(t.cols[i]);
        if (pk.find(t.cols[i].name) != std::string::npos) sql += " not null";
      }
    }
    sql += ", primary key (" + pk + ")";
  }
  return sql + ")";
}

// ---- A raw attachment ----

std::string Target(const ServerLogin& login, const std::string& path) {
  return login.server + "/" + login.port + ":" + path;
}

class Db {
 public:
  Db(const std::string& path, const ServerLogin& login, bool create)
      : lib_(FbClientLibrary::Load(FbDefaultClientLibraryName())) {
    FbStatus st(lib_);
    try {
      Firebird::IXpbBuilder* dpb =
          lib_.util->getXpbBuilder(&st, Firebird::IXpbBuilder::DPB, nullptr, 0);
      dpb->insertString(&st, isc_dpb_user_name, login.user.c_str());
      dpb->insertString(&st, isc_dpb_password, login.password.c_str());
      dpb->insertInt(&st, isc_dpb_sql_dialect, 3);
      dpb->insertInt(&st, isc_dpb_connect_timeout, 15);
      if (create) {
        dpb->insertString(&st, isc_dpb_set_db_charset, "WIN1252");
        dpb->insertInt(&st, isc_dpb_page_size, 8192);
        // Bulk loading: no waiting for every page write.
        dpb->insertInt(&st, isc_dpb_force_write, 0);
        att_ = lib_.provider->createDatabase(&st, Target(login, path).c_str(),
                                             dpb->getBufferLength(&st), dpb->getBuffer(&st));
      } else {
        att_ = lib_.provider->attachDatabase(&st, Target(login, path).c_str(),
                                             dpb->getBufferLength(&st), dpb->getBuffer(&st));
      }
      dpb->dispose();
    } catch (const Firebird::FbException& e) {
      throw EDatabaseError(FbStatusText(lib_, e.getStatus()));
    }
  }
  ~Db() {
    if (tra_) Rollback();
    if (att_) {
      FbStatus st(lib_);
      try {
        att_->detach(&st);
      } catch (const Firebird::FbException&) {
        att_->release();
      }
    }
  }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  FbClientLibrary& lib() { return lib_; }
  Firebird::IAttachment* att() { return att_; }

  Firebird::ITransaction* Tra() {
    if (!tra_) {
      FbStatus st(lib_);
      Guard([&] { tra_ = att_->startTransaction(&st, 0, nullptr); });
    }
    return tra_;
  }
  void Commit() {
    if (!tra_) return;
    FbStatus st(lib_);
    Guard([&] { tra_->commit(&st); });
    tra_ = nullptr;
  }
  void Rollback() {
    FbStatus st(lib_);
    try {
      tra_->rollback(&st);
    } catch (const Firebird::FbException&) {
      tra_->release();
    }
    tra_ = nullptr;
  }
  void Exec(const std::string& utf8_sql) {
    std::string sql = Utf8ToAnsi(utf8_sql);
    FbStatus st(lib_);
    Firebird::ITransaction* tra = Tra();
    Guard([&] { att_->execute(&st, tra, 0, sql.c_str(), 3, nullptr, nullptr, nullptr, nullptr); });
    Commit();
  }
  void Drop() {
    FbStatus st(lib_);
    Guard([&] { att_->dropDatabase(&st); });
    att_ = nullptr;
  }

  template <class F>
  void Guard(F f) {
    try {
      f();
    } catch (const Firebird::FbException& e) {
      throw EDatabaseError(FbStatusText(lib_, e.getStatus()));
    }
  }

 private:
  FbClientLibrary& lib_;
  Firebird::IAttachment* att_ = nullptr;
  Firebird::ITransaction* tra_ = nullptr;
};

// ---- Batched inserts ----

struct Val {
  bool null = true;
  int64_t i = 0;  // integer, scaled decimal, day number (date) or microseconds
  std::string s;  // Windows-1252 text
};
Val I(int64_t v) {
  return Val{false, v, {}};
}
Val S(const std::string& utf8) {
  if (utf8.empty()) return Val{};
  return Val{false, 0, Utf8ToAnsi(utf8)};
}
Val DateV(DateTime d) {
  return Val{false, d.Days(), {}};
}
Val TimeV(int64_t micros) {
  return Val{false, micros, {}};
}
Val TsV(DateTime d) {
  return Val{false, d.micros(), {}};
}
const Val kNull{};

// Many rows per round trip: one prepared EXECUTE BLOCK that inserts `batch` rows from its
// parameters.
class Inserter {
 public:
  Inserter(Db& db, const Table& t, int batch) : db_(db), t_(t), batch_(batch) {}
  ~Inserter() {
    FbStatus st(db_.lib());
    for (auto& p : stmts_) {
      if (p.second.meta) p.second.meta->release();
      if (p.second.stmt) {
        try {
          p.second.stmt->free(&st);
        } catch (const Firebird::FbException&) {
          p.second.stmt->release();
        }
      }
    }
  }

  void Add(std::vector<Val> row) {
    pending_.push_back(std::move(row));
    ++count_;
    if (static_cast<int>(pending_.size()) == batch_) Flush();
  }
  void Flush() {
    while (!pending_.empty()) {
      int n = static_cast<int>(pending_.size()) >= batch_ ? batch_ : 1;
      Run(n);
    }
  }
  int64_t count() const { return count_; }

 private:
  struct Prepared {
    Firebird::IStatement* stmt = nullptr;
    Firebird::IMessageMetadata* meta = nullptr;
    std::vector<unsigned char> buf;
  };

  Prepared& Statement(int n) {
    for (auto& p : stmts_)
      if (p.first == n) return p.second;
    std::string cols;
    for (size_t c = 0; c < t_.cols.size(); ++c)
      cols += (c ? ", " : "") + std::string(t_.cols[c].name);
    std::string sql;
    if (n == 1) {
      std::string marks;
      for (size_t c = 0; c < t_.cols.size(); ++c) marks += c ? ", ?" : "?";
      sql = std::string("insert into ") + t_.name + " (" + cols + ") values (" + marks + ")";
    } else {
      std::string decl, body;
      for (int r = 0; r < n; ++r) {
        std::string vals;
        for (size_t c = 0; c < t_.cols.size(); ++c) {
          std::string p = "p" + std::to_string(r) + "_" + std::to_string(c);
          decl += (decl.empty() ? "" : ", ") + p + " " + SqlType(t_.cols[c]) + " = ?";
          vals += (c ? ", :" : ":") + p;
        }
        body += std::string("insert into ") + t_.name + " (" + cols + ") values (" + vals + ");\n";
      }
      sql = "execute block (" + decl + ") as begin\n" + body + "end";
    }
    Prepared p;
    FbStatus st(db_.lib());
    db_.Guard([&] {
      p.stmt = db_.att()->prepare(&st, db_.Tra(), 0, sql.c_str(), 3, 0);
      p.meta = p.stmt->getInputMetadata(&st);
      p.buf.assign(p.meta->getMessageLength(&st), 0);
    });
    stmts_.emplace_back(n, std::move(p));
    return stmts_.back().second;
  }

  void Run(int n) {
    Prepared& p = Statement(n);
    FbStatus st(db_.lib());
    db_.Guard([&] {
      unsigned idx = 0;
      for (int r = 0; r < n; ++r) {
        const std::vector<Val>& row = pending_.front();
        for (size_t c = 0; c < t_.cols.size(); ++c, ++idx) Write(&st, p, idx, row[c]);
        pending_.pop_front();
      }
      p.stmt->execute(&st, db_.Tra(), p.meta, p.buf.data(), nullptr, nullptr);
    });
  }

  void Write(Firebird::ThrowStatusWrapper* st, Prepared& p, unsigned idx, const Val& v) {
    unsigned char* data = p.buf.data() + p.meta->getOffset(st, idx);
    int16_t null_flag = v.null ? -1 : 0;
    std::memcpy(p.buf.data() + p.meta->getNullOffset(st, idx), &null_flag, 2);
    if (v.null) return;
    switch (p.meta->getType(st, idx)) {
      case SQL_LONG: {
        int32_t x = static_cast<int32_t>(v.i);
        std::memcpy(data, &x, 4);
        break;
      }
      case SQL_INT64:
        std::memcpy(data, &v.i, 8);
        break;
      case SQL_TYPE_DATE: {
        ISC_DATE d = static_cast<ISC_DATE>(v.i + kFbDateOffset);
        std::memcpy(data, &d, 4);
        break;
      }
      case SQL_TYPE_TIME: {
        ISC_TIME t = static_cast<ISC_TIME>(v.i / 100);
        std::memcpy(data, &t, 4);
        break;
      }
      case SQL_TIMESTAMP: {
        DateTime dt = DateTime::FromMicros(v.i);
        ISC_TIMESTAMP ts{static_cast<ISC_DATE>(dt.Days() + kFbDateOffset),
                         static_cast<ISC_TIME>(dt.TimeOfDay() / 100)};
        std::memcpy(data, &ts, sizeof ts);
        break;
      }
      case SQL_VARYING: {
        unsigned max = p.meta->getLength(st, idx);
        uint16_t len = static_cast<uint16_t>(v.s.size() > max ? max : v.s.size());
        std::memcpy(data, &len, 2);
        std::memcpy(data + 2, v.s.data(), len);
        break;
      }
      default:
        throw EDatabaseError("sample store: unexpected parameter type");
    }
  }

  Db& db_;
  const Table& t_;
  int batch_;
  std::deque<std::vector<Val>> pending_;
  std::vector<std::pair<int, Prepared>> stmts_;
  int64_t count_ = 0;
};

// ---- Deterministic history ----

class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed * 2654435761u + 0x9E3779B97F4A7C15ull) {}
  uint64_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return s_;
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  bool Chance(int percent) { return Below(100) < percent; }

 private:
  uint64_t s_;
};

struct Product {
  std::string code;
  std::string name;
  int64_t price_cents;
};

std::vector<Product> MakeProducts() {
  static const char* const kNames[] = {"DIPIRONA SÓDICA 500MG 10 COMPRIMIDOS",
                                       "PARACETAMOL 750MG 20 COMPRIMIDOS",
                                       "IBUPROFENO 400MG 10 CÁPSULAS",
                                       "AMOXICILINA 500MG 21 CÁPSULAS",
                                       "LOSARTANA POTÁSSICA 50MG 30 COMP",
                                       "OMEPRAZOL 20MG 28 CÁPSULAS",
                                       "PROTETOR SOLAR FPS 50 120ML",
                                       "ÁLCOOL EM GEL 70% 500ML",
                                       "SABONETE LÍQUIDO GLICERINADO 250ML",
                                       "ESCOVA DENTAL MACIA",
                                       "CREME DENTAL MENTA 90G",
                                       "FRALDA INFANTIL G 30 UNIDADES",
                                       "VITAMINA C 1G EFERVESCENTE",
                                       "SORO FISIOLÓGICO 0,9% 500ML",
                                       "ATADURA DE CREPOM 10CM",
                                       "ESPARADRAPO IMPERMEÁVEL",
                                       "XAROPE EXPECTORANTE 120ML",
                                       "COLÍRIO LUBRIFICANTE 10ML",
                                       "TERMÔMETRO DIGITAL",
                                       "AÇÚCAR MASCAVO ORGÂNICO 500G"};
  std::vector<Product> out;
  int n = static_cast<int>(sizeof kNames / sizeof kNames[0]);
  for (int i = 0; i < 200; ++i) {
    Product p;
    p.code = std::to_string(7891000000000LL + i * 37);
    p.name = kNames[i % n];
    if (i >= n) p.name += " LOTE " + std::to_string(i / n);
    p.price_cents = 199 + (i * 7919) % 15000;
    out.push_back(p);
  }
  return out;
}

struct Customer {
  int64_t code;
  std::string name;
  std::string cic;
};

std::vector<Customer> MakeCustomers() {
  static const char* const kNames[] = {
      "JOÃO DA SILVA",       "MARIA JOSÉ DE SOUZA", "ANTÔNIO CARLOS",  "CONCEIÇÃO APARECIDA",
      "JOSÉ ROBERTO MÜLLER", "ANA LÚCIA FERNANDES", "FÁBIO GONÇALVES", "LETÍCIA ARAÚJO"};
  std::vector<Customer> out;
  for (int i = 0; i < 50; ++i) {
    Customer c;
    c.code = i + 1;
    c.name = kNames[i % 8];
    if (i >= 8) c.name += " " + std::to_string(i);
    // Some customers have no tax id at all, some have it written with punctuation.
    if (i % 3 == 0)
      c.cic = "";
    else if (i % 3 == 1)
      c.cic = std::to_string(10000000000LL + i * 97);
    else
      c.cic = "123.456.789-" + std::to_string(10 + i % 90);
    out.push_back(c);
  }
  return out;
}

struct Line {
  std::string code;
  std::string produto;
  int64_t price = 0;     // cents
  int64_t qty = 1000;    // thousandths
  int64_t subtotal = 0;  // cents
  int64_t discount = 0;
  int64_t total = 0;
  int64_t automatic = 0;
  int64_t cost = 0;  // ten-thousandths
  std::string unidade;
  std::string fp;
};

struct Sale {
  int64_t venda;
  DateTime day;
  int64_t time_us;
  std::optional<int64_t> terminal;
  std::optional<int64_t> customer;
  std::string serie;
  int64_t coo;
  std::vector<Line> lines;
  std::vector<Val> caixa;                 // one till record
  std::vector<std::vector<Val>> cartoes;  // card payments
};

struct Cancellation {
  Sale sale;
  std::vector<size_t> lines;  // which lines; all = total cancellation
  bool total;
};

}  // namespace

std::string DefaultDataDirectory() {
  return "/var/lib/zentrovia-test/";
}

bool ServerReachable(const ServerLogin& login, std::string* why) {
  try {
    FbClientLibrary& lib = FbClientLibrary::Load(FbDefaultClientLibraryName());
    FbStatus st(lib);
    Firebird::IXpbBuilder* spb =
        lib.util->getXpbBuilder(&st, Firebird::IXpbBuilder::SPB_ATTACH, nullptr, 0);
    spb->insertString(&st, isc_spb_user_name, login.user.c_str());
    spb->insertString(&st, isc_spb_password, login.password.c_str());
    std::string target = login.server + "/" + login.port + ":service_mgr";
    Firebird::IService* svc = nullptr;
    try {
      svc = lib.provider->attachServiceManager(&st, target.c_str(), spb->getBufferLength(&st),
                                               spb->getBuffer(&st));
    } catch (const Firebird::FbException& e) {
      spb->dispose();
      if (why) *why = FbStatusText(lib, e.getStatus());
      return false;
    }
    spb->dispose();
    svc->detach(&st);
    return true;
  } catch (const std::exception& e) {
    if (why) *why = e.what();
    return false;
  }
}

void DropStore(const std::string& path, const ServerLogin& login) {
  std::unique_ptr<Db> db;
  try {
    db = std::make_unique<Db>(path, login, false);
  } catch (const EDatabaseError&) {
    return;  // nothing there (or nothing we could open)
  }
  db->Drop();
}

void CreateEmptyStore(const std::string& path, bool with_indexes, const ServerLogin& login) {
  DropStore(path, login);
  Db db(path, login, true);
  for (const Table* t : kTables) db.Exec(CreateTableSql(*t));
  // As in a real store: a promotion names only products the store knows.
  db.Exec(
      "alter table ZENTROVA_PROMOCOES_PRODUTOS add constraint FK_PROMOCOES_PRODUTOS foreign key "
      "(CODIGOPRODUTO) references produtos (codigo)");
  db.Exec("create generator GEN_CESTASPROMOCIONAIS");
  if (with_indexes)
    for (const std::string& ix : IndexStatements()) db.Exec(ix);
}

void ExecuteSql(const std::string& path, const std::vector<std::string>& statements,
                const ServerLogin& login) {
  Db db(path, login, false);
  for (const std::string& s : statements) db.Exec(s);
}

std::string QueryValue(const std::string& path, const std::string& sql, const ServerLogin& login) {
  Db db(path, login, false);
  FbStatus st(db.lib());
  std::string out;
  std::string text = Utf8ToAnsi(sql);
  db.Guard([&] {
    Firebird::ITransaction* tra = db.Tra();
    Firebird::IStatement* stmt = db.att()->prepare(&st, tra, 0, text.c_str(), 3,
                                                   Firebird::IStatement::PREPARE_PREFETCH_METADATA);
    Firebird::IMessageMetadata* meta = stmt->getOutputMetadata(&st);
    // Ask for every column as text; the server converts.
    Firebird::IMetadataBuilder* b = meta->getBuilder(&st);
    b->setType(&st, 0, SQL_VARYING);
    b->setLength(&st, 0, 4000);
    b->setCharSet(&st, 0, 0);
    Firebird::IMessageMetadata* m2 = b->getMetadata(&st);
    b->release();
    std::vector<unsigned char> buf(m2->getMessageLength(&st));
    Firebird::IResultSet* rs = stmt->openCursor(&st, tra, nullptr, nullptr, m2, 0);
    if (rs->fetchNext(&st, buf.data()) == Firebird::IStatus::RESULT_OK) {
      int16_t null_flag;
      std::memcpy(&null_flag, buf.data() + m2->getNullOffset(&st, 0), 2);
      if (!null_flag) {
        uint16_t len;
        std::memcpy(&len, buf.data() + m2->getOffset(&st, 0), 2);
        out = AnsiToUtf8(std::string(
            reinterpret_cast<const char*>(buf.data() + m2->getOffset(&st, 0) + 2), len));
      }
    }
    rs->close(&st);
    m2->release();
    meta->release();
    stmt->free(&st);
  });
  db.Commit();
  return out;
}

std::string SampleSummary::Describe() const {
  std::ostringstream o;
  o << sales << " sales (last venda " << last_venda << "), " << vendas_rows << " vendas rows, "
    << caixa_rows << " caixa, " << caixacancelado_rows << " caixacancelado, " << vendacartao_rows
    << " vendacartao, " << vendacartaocancelada_rows << " vendacartaocancelada; "
    << total_cancellations << " total and " << partial_cancellations << " partial cancellations ("
    << later_day_cancellations << " on a later day), last codigocancelamento "
    << last_codigocancelamento << "; "
    << (indexes ? "indexes: the " + std::to_string(NeededIndexes().size()) +
                      " the service's statements rely on"
                : std::string("no indexes (-STATUS warns)"));
  return o.str();
}

SampleSummary FillSampleStore(const std::string& path, const SampleOptions& o,
                              const ServerLogin& login) {
  Db db(path, login, false);
  SampleSummary sum;
  const int kBatch = 16;
  Rng rng(o.seed);
  auto products = MakeProducts();
  auto customers = MakeCustomers();
  {
    Inserter ip(db, kProdutos, kBatch);
    for (const auto& p : products) ip.Add({S(p.code), S(p.name)});
    // The special codes have product rows too, as the point-of-sale system keeps them.
    ip.Add({S("XXDESCONTOXX"), S("DESCONTO")});
    ip.Add({S("XXACRESCIMOXX"), S("ACRÉSCIMO")});
    ip.Add({S("XXENTREGAXX"), S("TAXA DE ENTREGA")});
    ip.Add({S("RECARGACELULAR"), S("RECARGA DE CELULAR")});
    ip.Flush();
    Inserter ic(db, kClientes, kBatch);
    for (const auto& c : customers) ic.Add({I(c.code), S(c.name), S(c.cic)});
    ic.Flush();
  }
  if (o.settings_row) {
    Inserter pd(db, kPadrao, 1);
    auto opt_i = [](const std::optional<int64_t>& v) { return v ? I(*v) : kNull; };
    auto opt_d = [](const std::optional<DateTime>& v) { return v ? DateV(*v) : kNull; };
    auto opt_ts = [](const std::optional<DateTime>& v) { return v ? TsV(*v) : kNull; };
    pd.Add({I(1), S(o.cgc), S("FARMÁCIA SÃO JOSÉ LTDA"), S(o.user), S(o.password), S(o.url), kNull,
            kNull, S(o.idempresa), o.idlocal ? S(*o.idlocal) : kNull, opt_i(o.intervalo),
            DateV(o.datainicio.value_or(o.start)), opt_i(o.ultvenda), opt_i(o.ultcancelamento),
            opt_d(o.ultcaixa), opt_ts(o.verificapromo), opt_ts(o.verificareenvio)});
    pd.Flush();
  }
  db.Commit();

  Inserter iv(db, kVendas, kBatch);
  Inserter icx(db, kCaixa, kBatch);
  Inserter icc(db, kCaixaCancelado, kBatch);
  Inserter ivc(db, kVendaCartao, kBatch);
  Inserter ivcc(db, kVendaCartaoCancelada, kBatch);

  int64_t venda = 0;
  int64_t codcanc = 0;
  std::vector<int64_t> coo(static_cast<size_t>(std::max(1, o.tills)) + 1, 1000);
  std::vector<Cancellation> next_day;
  int64_t rows_since_commit = 0;

  // A line's cancellation date and number, decided when its sale is written.
  struct LineCancel {
    bool cancelled = false;
    DateTime when;
    int64_t number = 0;
  };

  auto write_sale = [&](const Sale& s, const std::vector<LineCancel>& lc, bool moved) {
    for (size_t k = 0; k < s.lines.size(); ++k) {
      const Line& l = s.lines[k];
      iv.Add({I(s.venda),
              I(static_cast<int64_t>(k) + 1),
              DateV(s.day),
              TimeV(s.time_us),
              s.customer ? I(*s.customer) : kNull,
              lc[k].cancelled ? DateV(lc[k].when) : kNull,
              lc[k].cancelled ? I(lc[k].number) : kNull,
              S(l.unidade),
              S(l.code),
              S(l.produto),
              I(l.price),
              I(l.qty),
              I(l.subtotal),
              I(l.discount),
              I(l.total),
              I(l.automatic),
              I(l.cost),
              S(l.fp),
              S(s.serie),
              I(s.coo),
              s.terminal ? I(*s.terminal) : kNull});
    }
    sum.vendas_rows += static_cast<int64_t>(s.lines.size());
    rows_since_commit += static_cast<int64_t>(s.lines.size());
    if (moved) {
      icc.Add(s.caixa);
      ++sum.caixacancelado_rows;
      for (const auto& c : s.cartoes) ivcc.Add(c);
      sum.vendacartaocancelada_rows += static_cast<int64_t>(s.cartoes.size());
    } else {
      icx.Add(s.caixa);
      ++sum.caixa_rows;
      for (const auto& c : s.cartoes) ivc.Add(c);
      sum.vendacartao_rows += static_cast<int64_t>(s.cartoes.size());
    }
  };

  // Later-day cancellations are written with their sale, but numbered when they happen
  // (the first thing of the next day), so codigocancelamento grows with time.
  std::vector<std::pair<Sale, bool>> held;  // sale, total

  for (int d = 0; d < o.days; ++d) {
    DateTime day = o.start.AddDays(d);
    for (auto& [s, total] : held) {
      std::vector<LineCancel> lc(s.lines.size());
      if (total) {
        for (auto& c : lc) c = {true, day, ++codcanc};
      } else {
        lc[0] = {true, day, ++codcanc};
      }
      write_sale(s, lc, total);
      ++sum.later_day_cancellations;
      if (total)
        ++sum.total_cancellations;
      else
        ++sum.partial_cancellations;
    }
    held.clear();

    for (int k = 0; k < o.sales_per_day; ++k) {
      Sale s;
      s.venda = ++venda;
      s.day = day;
      // Open from 08:00 to 20:00; the sales of a day in order of time.
      s.time_us = (8LL * 3600 + (12LL * 3600 * k) / std::max(1, o.sales_per_day)) * 1000000LL +
                  rng.Below(1000) * 100;
      int till = 1 + k % std::max(1, o.tills);
      if (rng.Chance(3))
        s.terminal.reset();  // old rows without till: till 1
      else
        s.terminal = till;
      int coo_till = s.terminal ? static_cast<int>(*s.terminal) : 1;
      s.coo = ++coo[static_cast<size_t>(coo_till)];
      s.serie = rng.Chance(20) ? "NAO FISCAL" : "BE0912SC56000000" + std::to_string(coo_till);
      int cust = rng.Below(10);
      if (cust < 3) s.customer = customers[static_cast<size_t>(rng.Below(50))].code;

      int64_t goods = 0;
      bool topup_only = rng.Chance(2);
      if (topup_only) {
        Line l;
        l.code = "RECARGACELULAR";
        l.produto = "RECARGA CELULAR OPERADORA";
        l.price = 2000 + 1000 * rng.Below(4);
        l.subtotal = l.total = l.automatic = l.price;
        l.cost = l.price * 100;
        l.unidade = "UN";
        goods = l.total;
        s.lines.push_back(l);
      } else {
        int n = 1 + rng.Below(5);
        for (int j = 0; j < n; ++j) {
          const Product& p = products[static_cast<size_t>(rng.Below(200))];
          Line l;
          l.code = p.code;
          l.produto = p.name;
          l.price = p.price_cents;
          l.qty = rng.Chance(5) ? 500 : 1000LL * (1 + rng.Below(3));
          l.subtotal = (l.price * l.qty + 500) / 1000;
          l.discount = rng.Chance(25) ? l.subtotal * (5 + rng.Below(15)) / 100 : 0;
          l.total = l.subtotal - l.discount;
          l.automatic = l.total;
          // Some lines carry their amount only in the automatic price.
          if (rng.Chance(3)) l.total = 0;
          l.cost = l.price * 60 + rng.Below(100);  // ten-thousandths
          l.unidade = rng.Chance(10) ? "" : (rng.Chance(10) ? "CX" : "UN");
          l.fp = rng.Chance(5) ? "S" : (rng.Chance(50) ? "" : "N");
          goods += l.total ? l.total : l.automatic;
          s.lines.push_back(l);
        }
        if (rng.Chance(2)) {
          Line l;
          l.code = "RECARGACELULAR";
          l.produto = "RECARGA CELULAR OPERADORA";
          l.price = l.subtotal = l.total = l.automatic = 1500;
          l.cost = 150000;
          l.unidade = "UN";
          goods += l.total;
          s.lines.push_back(l);
        }
        if (rng.Chance(10)) {
          Line l;
          l.code = "XXDESCONTOXX";
          l.produto = "Desconto Adicional";
          l.price = l.subtotal = l.total = l.automatic = -(goods * (2 + rng.Below(8)) / 100);
          l.unidade = "UN";
          goods += l.total;
          s.lines.push_back(l);
        }
        if (rng.Chance(3)) {
          Line l;
          l.code = "XXACRESCIMOXX";
          l.produto = "ACRÉSCIMO";
          l.price = l.subtotal = l.total = l.automatic = 150 + rng.Below(300);
          l.unidade = "UN";
          goods += l.total;
          s.lines.push_back(l);
        }
        if (rng.Chance(4)) {
          Line l;
          l.code = "XXENTREGAXX";
          l.produto = "TAXA DE ENTREGA";
          l.price = l.subtotal = l.total = l.automatic = 500 + 100 * rng.Below(10);
          l.unidade = "UN";
          goods += l.total;
          s.lines.push_back(l);
        }
      }

      // Payment shape.
      int64_t din = 0, che = 0, car = 0, cdig = 0, vtr = 0, eco = 0, troco = 0;
      std::string natureza = "Venda a Vista";
      int shape = rng.Below(100);
      auto card = [&](int64_t amount) {
        bool debit = rng.Chance(50);
        std::vector<Val> c{I(s.venda),
                           S(std::to_string(1 + rng.Below(999999))),
                           rng.Chance(5) ? kNull : S(std::to_string(400000 + rng.Below(99999))),
                           rng.Chance(5) ? kNull : S(std::to_string(1000 + rng.Below(9000))),
                           rng.Chance(3) ? kNull : S(debit ? "DÉBITO" : "CRÉDITO"),
                           rng.Chance(5) ? kNull : I(1 + rng.Below(5000)),
                           I(amount)};
        s.cartoes.push_back(std::move(c));
      };
      if (shape < 35) {
        din = goods;
        if (rng.Chance(40)) {
          int64_t paid = (goods / 1000 + 1) * 1000;
          troco = paid - goods;
          din = paid;
        }
      } else if (shape < 60) {
        car = goods;
        card(goods);
      } else if (shape < 70) {
        // Two cards, or cash and card.
        int64_t part = goods / 2;
        car = goods - part;
        card(goods - part);
        if (rng.Chance(50)) {
          car = goods;
          card(part);
        } else {
          din = part;
        }
      } else if (shape < 78) {
        cdig = goods;
      } else if (shape < 82) {
        vtr = goods / 3;
        din = goods - vtr;
      } else if (shape < 86) {
        eco = goods;
      } else if (shape < 89) {
        che = goods;
      } else if (shape < 95) {
        natureza = "Venda a Prazo";
      } else if (shape < 97) {
        natureza = "";  // nature left empty by old versions
        din = goods;
      } else {
        natureza = "Convênio";
      }
      s.caixa = {I(s.venda),
                 S(natureza),
                 din || shape < 35 ? I(din) : (rng.Chance(50) ? kNull : I(0)),
                 I(che),
                 I(car),
                 I(cdig),
                 I(vtr),
                 rng.Chance(20) ? kNull : I(eco),
                 troco ? I(troco) : (rng.Chance(30) ? kNull : I(0)),
                 I(goods),
                 rng.Chance(3) ? kNull : I(s.coo)};

      ++sum.sales;
      sum.last_venda = s.venda;
      std::vector<LineCancel> lc(s.lines.size());
      int cancel = rng.Below(100);
      if (cancel < 3) {
        // Total cancellation; one in three the next day.
        if (rng.Chance(33) && d + 1 < o.days) {
          held.emplace_back(std::move(s), true);
          continue;
        }
        for (auto& c : lc) c = {true, day, ++codcanc};
        ++sum.total_cancellations;
        write_sale(s, lc, true);
      } else if (cancel < 5 && s.lines.size() > 1) {
        if (rng.Chance(33) && d + 1 < o.days) {
          held.emplace_back(std::move(s), false);
          continue;
        }
        lc[0] = {true, day, ++codcanc};
        ++sum.partial_cancellations;
        write_sale(s, lc, false);
      } else {
        write_sale(s, lc, false);
      }
      if (rows_since_commit > 200000) {
        iv.Flush();
        icx.Flush();
        icc.Flush();
        ivc.Flush();
        ivcc.Flush();
        db.Commit();
        rows_since_commit = 0;
      }
    }
  }
  // Cancellations held for a day that is not part of the history: cancelled on the last day.
  for (auto& [s, total] : held) {
    std::vector<LineCancel> lc(s.lines.size());
    DateTime day = s.day;
    if (total) {
      for (auto& c : lc) c = {true, day, ++codcanc};
      ++sum.total_cancellations;
    } else {
      lc[0] = {true, day, ++codcanc};
      ++sum.partial_cancellations;
    }
    write_sale(s, lc, total);
  }
  iv.Flush();
  icx.Flush();
  icc.Flush();
  ivc.Flush();
  ivcc.Flush();
  db.Commit();
  sum.last_codigocancelamento = codcanc;

  // Indexes after the load: much faster than maintaining them row by row.
  sum.indexes = o.indexes;
  if (o.indexes) {
    for (const NeededIndex& n : NeededIndexes()) {
      const std::string exists =
          std::string("select count(*) from rdb$indices where rdb$index_name = upper('") +
          IndexName(n) + "')";
      FbStatus st(db.lib());
      bool present = false;
      db.Guard([&] {
        Firebird::IStatement* stmt = db.att()->prepare(
            &st, db.Tra(), 0, exists.c_str(), 3, Firebird::IStatement::PREPARE_PREFETCH_METADATA);
        Firebird::IMessageMetadata* m = stmt->getOutputMetadata(&st);
        std::vector<unsigned char> buf(m->getMessageLength(&st));
        stmt->execute(&st, db.Tra(), nullptr, nullptr, m, buf.data());
        int64_t count;
        std::memcpy(&count, buf.data() + m->getOffset(&st, 0), 8);
        present = count > 0;
        m->release();
        stmt->free(&st);
      });
      db.Commit();
      if (!present) {
        db.Exec(std::string("create index ") + IndexName(n) + " on " + n.table + " (" + n.column +
                ")");
      }
    }
  }
  return sum;
}

SampleSummary BuildSampleStore(const std::string& path, const SampleOptions& options,
                               const ServerLogin& login) {
  CreateEmptyStore(path, /*with_indexes=*/false, login);
  return FillSampleStore(path, options, login);
}

}  // namespace zv::sample
