#include "db/server_module.h"

#include <dlfcn.h>

#include <cstring>
#include <string>

#include "db/db_error.h"
#include "db/odbc_ini.h"

#ifndef QV_VERSION
#error "QV_VERSION: the project version, which the module must match"
#endif

namespace qv::db {
namespace {

[[noreturn]] void Missing(const std::string& why) {
  throw DbError(kErrUnspecified, "the PostgreSQL server engine " + why +
                                    ": install the package " + kServerModulePackage);
}

const ServerEngineModule& Load() {
  // Never closed: connections, sessions kept for reuse and the run lock
  // live in it until the process ends.
  void* handle = ::dlopen(kServerModuleFile, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = ::dlerror();
    Missing(std::string("cannot be loaded (") + (error ? error : kServerModuleFile) + ")");
  }
  auto entry = reinterpret_cast<ServerModuleEntry>(::dlsym(handle, kServerModuleEntry));
  const ServerEngineModule* module = entry != nullptr ? entry() : nullptr;
  if (module == nullptr) Missing(std::string("in ") + kServerModuleFile + " has no entry");
  if (std::strcmp(module->version, QV_VERSION) != 0) {
    Missing(std::string("is version ") + module->version + ", not " + QV_VERSION);
  }
  return *module;
}

}  // namespace

const ServerEngineModule& ServerModule() {
  // A failed load is tried again at the next use, and says why again.
  static const ServerEngineModule* loaded = nullptr;
  if (loaded == nullptr) loaded = &Load();
  return *loaded;
}

ServerLogin CreateServerDatabases(
    const ServerLogin& server, const std::vector<std::pair<std::string, std::string>>& namesAndScripts) {
  return ServerModule().createDatabases(server, namesAndScripts);
}

void DropServerDatabases(const ServerLogin& server, const std::vector<std::string>& names) {
  ServerModule().dropDatabases(server, names);
}

}  // namespace qv::db
