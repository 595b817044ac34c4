#pragma once
// The store database as the jobs see it: one connection and query objects that run SQL with
// :name parameters. Text is UTF-8 here and Windows-1252 in the database.
//
// Connection rules: TCP/IP to the server, dialect 3, no connection character set, read
// committed, every statement committed on its own (unless an explicit transaction is open),
// an empty text written as NULL, trailing blanks trimmed on read, an over-long text cut to
// its column on write, and a connection found lost re-attached on the next use.
//
// The contract:
// - Threads: a connection and the queries on it are used by one thread at a time (the jobs
//   run one after another); nothing here locks. Different connections are independent.
// - Lifetimes: the driver link must outlive every connection that uses it. Destroying a
//   connection detaches it and leaves its queries without a connection: they keep their
//   SQL text and parameters, and running one raises EDatabaseError until SetConnection. A
//   query may be destroyed at any time; it closes its cursor first.
// - Reading: FieldByName returns a reference into the query's current row. Read the value
//   at once (AsString ...): the reference is good only until the next call that moves or
//   ends the row (Next, RecordCount, Open, ExecSQL, Close, Prepare, ClearSQL, AddSQL,
//   SetConnection) or that closes the connection.
// - Lost connections: only a statement that cannot yet have reached the server is run again
//   on a new attachment. A result whose rows were not all read when its cursor was lost (the
//   connection dropped, was re-attached on behalf of another query, or its transaction
//   ended) is broken: Eof stays false, and Next, FieldByName and RecordCount raise
//   EDatabaseError until the query is closed or run again, so a cut result is never taken
//   for a short one. A result read whole before the loss (every row fetched, or read ahead
//   by RecordCount) stays readable.
// - Prepared statements: the connection keeps them, by SQL text, for as long as its server
//   session lasts (Close keeps the session), so a job that runs the same text every cycle
//   has it prepared once; a lost or changed session drops them, and so does a change of the
//   store's tables seen when the session is taken back.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/datetime.h"
#include "base/money.h"
#include "store/store_field.h"

namespace zv {

class FbClientLibrary;  // the loaded Firebird client library (store/fb_client.h)

// StoreDriverLink: loads the Firebird client library under its standard name
// (libfbclient.so.2, fbclient.dll). A missing library raises EDatabaseError on Load.
class TFbDriverLink {
 public:
  TFbDriverLink();
  ~TFbDriverLink();
  // Loads the library on first use; throws EDatabaseError when it cannot.
  FbClientLibrary& Library();
  // The file name tried when loading (tests may point it elsewhere).
  std::string VendorLib;

 private:
  std::unique_ptr<FbClientLibrary> lib_;
};

// StoreConnection. Params holds the "key=value" entries that TFBConn::ConfigureConnection
// writes; Open reads Server, Port, Database, User_Name, Password and SQLDialect from them.
class TStoreConnection {
 public:
  TStoreConnection();
  ~TStoreConnection();
  TStoreConnection(const TStoreConnection&) = delete;
  TStoreConnection& operator=(const TStoreConnection&) = delete;

  std::vector<std::string> Params;
  // Value of the first "key=value" entry with this key (case-insensitive); "" when absent.
  std::string ParamValue(std::string_view key) const;
  void SetParamValue(std::string_view key, std::string_view value);

  struct Options {
    // Kept only because the service's connection settings list them: this layer always
    // reads committed data and commits each statement on its own (outside an explicit
    // transaction), and never prompts or shows anything.
    bool read_committed = true;
    bool auto_commit = true;
    bool login_prompt = false;
    bool silent_mode = true;

    // RecordCount gives the whole result's size (else the rows read so far).
    bool record_count_total = true;
    // A connection found lost is attached again on next use.
    bool auto_reconnect = true;
    // The text rules, applied when binding and when reading.
    bool empty_strings_to_null = true;
    bool trim_strings = true;
    bool trim_to_length = true;
  } options;

  // The driver link that loads the client library; set by IniConn.
  TFbDriverLink* DriverLink = nullptr;

  // Longest a call to the server (attach, prepare, execute, fetch, commit, rollback ...) may
  // wait for its answer. Past it the connection is cut from this side and the call raises
  // EDatabaseError saying what did not answer and for how long; the next use attaches anew.
  // Zero: no deadline. Taken at each Open.
  std::chrono::milliseconds CallDeadline{std::chrono::seconds(120)};

  // An explicit transaction. Until Commit or Rollback every statement of every query on this
  // connection runs in it, plain reads and generator steps included, so that a row written
  // in it is found by the next statement; a statement the server refuses is undone alone
  // and the transaction goes on. A connection lost inside it is not re-attached (that would
  // run the rest of the work without its beginning): the statement raises EDatabaseError,
  // as does every later one and Commit, until Rollback. A result still being read when the
  // transaction ends raises on its next read. StartTransaction throws EDatabaseError when
  // one is already open; Commit throws when none is open or the commit fails, and then the
  // work is undone and the transaction over; Rollback never throws and does nothing when
  // none is open. Close rolls back an open transaction.
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const;

  // Attaches; throws EDatabaseError with the server's message when it cannot.
  void Open();
  // Closes every query on it (rolling back an open transaction) and ends the connection.
  // Never throws. The server session is kept for the next Open with the same login, as a
  // fresh attachment costs an authentication handshake; Open first checks that it still
  // answers and whether the tables changed, unless it answered a few milliseconds before.
  // The destructor detaches it.
  void Close();
  bool Connected() const;

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// A transaction for one scope: started by the constructor, rolled back by the destructor
// unless Commit was called (so an error that leaves the scope undoes the work).
class TStoreTransaction {
 public:
  explicit TStoreTransaction(TStoreConnection& connection);
  ~TStoreTransaction();
  TStoreTransaction(const TStoreTransaction&) = delete;
  TStoreTransaction& operator=(const TStoreTransaction&) = delete;
  void Commit();

 private:
  TStoreConnection& connection_;
  bool done_ = false;
};

// One named parameter. Assigning a value records it; the query converts it to the type the
// server describes for the marker when it runs.
class TStoreParam {
 public:
  explicit TStoreParam(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  void AsInteger(int64_t v) { value_ = v; }
  void AsString(std::string v) { value_ = std::move(v); }
  void AsMoney(Money v) { value_ = v; }
  void AsFloat(double v) { value_ = v; }
  void AsDateTime(DateTime v) { value_ = v; }
  // A date: the time part is dropped.
  void AsDate(DateTime v) { value_ = v.Date(); }
  void Clear() { value_ = std::monostate{}; }
  const TStoreField::Value& value() const { return value_; }

 private:
  std::string name_;
  TStoreField::Value value_;
};

// StoreQuery1/2/3. Use: ClearSQL, AddSQL, ParamByName(...).AsX(...), Prepare, Open or
// ExecSQL; then FieldByName on the current row, Next until Eof; Close.
class TStoreQuery {
 public:
  explicit TStoreQuery(TStoreConnection* connection = nullptr);
  ~TStoreQuery();
  TStoreQuery(const TStoreQuery&) = delete;
  TStoreQuery& operator=(const TStoreQuery&) = delete;

  void SetConnection(TStoreConnection* connection);
  TStoreConnection* Connection() const;

  // SQL.Clear: closes the query, forgets the statement and its parameters.
  void ClearSQL();
  // SQL.Add: appends a line to the statement text; parameters are found from :name markers.
  void AddSQL(std::string_view text);
  const std::string& SQLText() const { return sql_; }

  // Throws EDatabaseError when the statement has no such parameter.
  TStoreParam& ParamByName(std::string_view name);

  // Has the statement prepared (taken from the connection's prepared statements when the
  // same text ran before); Open and ExecSQL do it too when needed.
  void Prepare();
  // Runs a statement that returns rows and moves to the first row.
  void Open();
  // Runs a statement for its effect (committed at once outside an explicit transaction);
  // nothing stays open.
  void ExecSQL();
  // Ends the result; the statement stays prepared.
  void Close();

  bool Active() const;
  bool Eof() const;
  bool IsEmpty() const;
  void Next();
  // Number of rows of the whole result of the open query.
  int64_t RecordCount();
  // Column of the current row by name, letter case ignored; throws EDatabaseError when
  // there is no such column. At Eof every column reads as NULL.
  const TStoreField& FieldByName(std::string_view name) const;

  struct Impl;

 private:
  std::string sql_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zv
