#include "jobs/job_rules.h"

#include "store/store_query.h"

namespace zv {

namespace {

void RunUpdate(TStoreQuery& q) {
  q.Prepare();
  q.ExecSQL();
}

}  // namespace

std::string ErrorLines(const std::string& prefix, const std::string& kind,
                       const std::string& message) {
  return prefix + kind + "\r\n" + "Mensagem: " + message;
}

void KeepDataError(std::exception_ptr& slot, const std::function<void()>& read) {
  try {
    read();
  } catch (const std::exception& e) {
    if (!IsDataError(e)) throw;
    if (!slot) slot = std::current_exception();
  }
}

bool BuildOrPassOver(JobContext& ctx, std::string& body, const std::string& error_prefix,
                     const std::function<void()>& build) {
  try {
    build();
    return false;
  } catch (const std::exception& e) {
    if (!IsDataError(e)) throw;
    body.clear();
    ctx.DoSaveLog(body);
    // Both kinds of data error are ours, so they carry a kind name.
    LogError(ctx, error_prefix, static_cast<const Exception&>(e));
    return true;
  }
}

void MoveCursor(JobContext& ctx, TStoreQuery& q, const char* update, const char* param,
                const char* name, int64_t value, int64_t& in_memory) {
  q.ClearSQL();
  q.AddSQL(update);
  q.ParamByName(param).AsInteger(value);
  RunUpdate(q);
  in_memory = value;
  ctx.report.NoteCursorMoved(name);
}

void MoveCursor(JobContext& ctx, TStoreQuery& q, const char* update, const char* param,
                const char* name, DateTime value, CursorBinding binding, DateTime& in_memory) {
  q.ClearSQL();
  q.AddSQL(update);
  if (binding == CursorBinding::Date) {
    q.ParamByName(param).AsDate(value);
  } else {
    q.ParamByName(param).AsDateTime(value);
  }
  RunUpdate(q);
  in_memory = value;
  ctx.report.NoteCursorMoved(name);
}

}  // namespace zv
