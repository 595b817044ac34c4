#pragma once
// The Firebird client library, loaded at run time, and the few helpers every store object
// needs to talk to it. In the service only the store layer includes this header; the sample
// store tool and the benchmarks, which make and read stores directly, use it too.

#include <firebird/Interface.h>

#include <string>

namespace zv {

class FbClientLibrary {
 public:
  // Loads the library (once per file name for the whole process: the client keeps threads
  // of its own, so it is never unloaded) and fetches its master interface; before the first
  // load it gives the process a UTF-8 character locale, with which the client converts an
  // accented database path. Throws EDatabaseError when the file, its entry point or its master
  // interface is missing.
  static FbClientLibrary& Load(const std::string& file_name);

  Firebird::IMaster* master = nullptr;
  Firebird::IProvider* provider = nullptr;
  Firebird::IUtil* util = nullptr;
};

// The server's message for a failed call, as the client formats it (lines joined by "\n",
// trailing line ends cut); "unknown Firebird error" when the status holds none.
std::string FbStatusText(FbClientLibrary& lib, const Firebird::IStatus* status);
// Whether a failed call means the attachment is gone (network error, connection lost,
// database or server shut down, attachment handle no longer valid).
bool FbConnectionLost(const Firebird::IStatus* status);
// Whether a status vector carries this error code anywhere.
bool FbHasError(const Firebird::IStatus* status, intptr_t code);
// Raises the error of a failed statement: EMissingReference (store/store_errors.h) for a key
// its target table does not hold, EDatabaseError otherwise.
[[noreturn]] void ThrowStatementError(const Firebird::IStatus* status, const std::string& text);

// A status object for one series of calls; throws Firebird::FbException on error.
class FbStatus {
 public:
  explicit FbStatus(FbClientLibrary& lib) : raw_(lib.master->getStatus()), wrapper_(raw_) {}
  ~FbStatus() { raw_->dispose(); }
  FbStatus(const FbStatus&) = delete;
  FbStatus& operator=(const FbStatus&) = delete;
  Firebird::ThrowStatusWrapper* operator&() { return &wrapper_; }
  Firebird::ThrowStatusWrapper* get() { return &wrapper_; }

 private:
  Firebird::IStatus* raw_;
  Firebird::ThrowStatusWrapper wrapper_;
};

// The library's default file name on this system.
const char* FbDefaultClientLibraryName();

// Releases a Firebird handle whose proper close (detach, commit, free) failed or is not
// wanted, without letting a second error escape.
template <class T>
void ReleaseQuietly(T*& handle) {
  if (handle) {
    handle->release();
    handle = nullptr;
  }
}

}  // namespace zv
