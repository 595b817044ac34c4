#include "store/fb_client.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/errors.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace zv {

namespace {

using MasterEntry = Firebird::IMaster* (*)();

// The only place that differs between systems: open a shared library, find one symbol.
MasterEntry OpenClientLibrary(const std::string& file_name, std::string& error) {
#ifdef _WIN32
  HMODULE h = LoadLibraryA(file_name.c_str());
  if (!h) {
    error = "cannot load " + file_name + " (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  auto entry = reinterpret_cast<MasterEntry>(
      reinterpret_cast<void*>(GetProcAddress(h, "fb_get_master_interface")));
#else
  void* h = dlopen(file_name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* e = dlerror();
    error = e ? e : ("cannot load " + file_name);
    return nullptr;
  }
  auto entry = reinterpret_cast<MasterEntry>(dlsym(h, "fb_get_master_interface"));
#endif
  if (!entry) error = file_name + " has no fb_get_master_interface: not a Firebird 3 client";
  return entry;
}

}  // namespace

const char* FbDefaultClientLibraryName() {
#ifdef _WIN32
  return "fbclient.dll";
#else
  return "libfbclient.so.2";
#endif
}

FbClientLibrary& FbClientLibrary::Load(const std::string& file_name) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<FbClientLibrary>> loaded;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = loaded.find(file_name);
  if (it != loaded.end()) return *it->second;
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
