#pragma once
// The rules every job follows where it logs an error, passes a record over and moves a
// cursor, in one copy each.

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "base/datetime.h"
#include "base/errors.h"
#include "jobs/data_error.h"
#include "jobs/job_context.h"

namespace zv {

class TStoreQuery;

// The two lines a job writes for an error, as one log entry: `prefix` + kind, CR LF,
// "Mensagem: " + message.
std::string ErrorLines(const std::string& prefix, const std::string& kind,
                       const std::string& message);
inline std::string ErrorLines(const std::string& prefix, const Exception& e) {
  return ErrorLines(prefix, e.kind(), e.what());
}
inline void LogError(JobContext& ctx, const std::string& prefix, const Exception& e) {
  ctx.DoSaveLog(ErrorLines(prefix, e));
}

// Runs `read`; a data error (IsDataError) is kept in `slot` (the first one only) instead of leaving the job,
// so that the build that follows raises it under its guard. Any other error goes to the
// caller.
void KeepDataError(std::exception_ptr& slot, const std::function<void()>& read);

// The guard around a document build. Runs `build`; on a data error the record cannot be
// expressed as a document: `body` is emptied (an empty body is posted and the record passed
// over, so one broken record never holds back the ones after it), the empty body and the
// error's two lines (`error_prefix`) are logged, and the call answers true. Any other error
// goes to the caller; false when the build succeeded.
bool BuildOrPassOver(JobContext& ctx, std::string& body, const std::string& error_prefix,
                     const std::function<void()>& build);

// Moves a cursor of the settings row: `update` runs on q with the new value bound to `param`,
// then the value in memory follows. In that order, a failed update leaves the value in memory
// where the store has it, so the record goes out again and is never passed over. The move is
// noted in ctx.report under `name` (the column's name).
void MoveCursor(JobContext& ctx, TStoreQuery& q, const char* update, const char* param,
                const char* name, int64_t value, int64_t& in_memory);
// The same for a day (bound as a date) or a moment (bound as a timestamp).
enum class CursorBinding { Date, Timestamp };
void MoveCursor(JobContext& ctx, TStoreQuery& q, const char* update, const char* param,
                const char* name, DateTime value, CursorBinding binding, DateTime& in_memory);

}  // namespace zv
