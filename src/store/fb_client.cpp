#include "store/fb_client.h"

#include <map>
#include <memory>
#include <mutex>

#include "base/errors.h"
#include "os/system.h"

namespace zv {

namespace {

using MasterEntry = Firebird::IMaster* (*)();

MasterEntry OpenClientLibrary(const std::string& file_name, std::string& error) {
  void* h = LoadSharedLibrary(file_name, &error);
  if (!h) return nullptr;
  auto entry = reinterpret_cast<MasterEntry>(SharedLibrarySymbol(h, "fb_get_master_interface"));
  if (!entry) error = file_name + " has no fb_get_master_interface: not a Firebird 3 client";
  return entry;
}

}  // namespace

const char* FbDefaultClientLibraryName() {
  return FirebirdClientLibraryName();
}

FbClientLibrary& FbClientLibrary::Load(const std::string& file_name) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<FbClientLibrary>> loaded;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = loaded.find(file_name);
  if (it != loaded.end()) return *it->second;
  // Before the client reads the process's locale: an accented store path needs UTF-8.
  UseUtf8CharacterLocale();
  std::string error;
  MasterEntry entry = OpenClientLibrary(file_name, error);
  if (!entry) throw EDatabaseError(error);
  auto lib = std::make_unique<FbClientLibrary>();
  lib->master = entry();
  if (!lib->master) throw EDatabaseError(file_name + " returned no master interface");
  lib->provider = lib->master->getDispatcher();
  lib->util = lib->master->getUtilInterface();
  return *loaded.emplace(file_name, std::move(lib)).first->second;
}

std::string FbStatusText(FbClientLibrary& lib, const Firebird::IStatus* status) {
  char buf[2048];
  // formatStatus takes a non-const status; it does not change it.
  unsigned n = lib.util->formatStatus(buf, sizeof(buf) - 1, const_cast<Firebird::IStatus*>(status));
  std::string text(buf, n < sizeof(buf) ? n : sizeof(buf) - 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text.empty() ? "unknown Firebird error" : text;
}

bool FbHasError(const Firebird::IStatus* status, intptr_t code) {
  const intptr_t* v = const_cast<Firebird::IStatus*>(status)->getErrors();
  while (v && *v != isc_arg_end) {
    intptr_t kind = v[0];
    if (kind == isc_arg_gds && v[1] == code) return true;
    v += (kind == isc_arg_cstring) ? 3 : 2;
  }
  return false;
}

bool FbConnectionLost(const Firebird::IStatus* status) {
  static const intptr_t kLost[] = {isc_network_error,      isc_net_read_err, isc_net_write_err,
                                   isc_lost_db_connection, isc_conn_lost,    isc_att_shutdown,
                                   isc_shutdown,           isc_bad_db_handle};
  for (intptr_t code : kLost)
    if (FbHasError(status, code)) return true;
  return false;
}

}  // namespace zv
