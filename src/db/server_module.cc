#include "db/server_module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "db/db_error.h"
#include "db/odbc_ini.h"

#ifndef QV_VERSION
#error "QV_VERSION: the project version, which the module must match"
#endif

namespace qv::db {
namespace {

[[noreturn]] void Missing(const std::string& why) {
  throw DbError(kErrUnspecified, "the PostgreSQL server engine " + why + ": install the package " +
                                     kServerModulePackage);
}

// The folders the dynamic linker searches for the program's own libraries
// (LD_LIBRARY_PATH, the program's run path with $ORIGIN expanded, the
// system's folders), as it lists them. Asked of the program rather than
// left to dlopen's own search, which follows the run path of whatever
// object calls it: a sanitizer's library that wraps dlopen has none.
std::vector<std::string> ProgramSearchPath() {
  void* program = ::dlopen(nullptr, RTLD_NOW);
  Dl_serinfo size{};
  if (program == nullptr || ::dlinfo(program, RTLD_DI_SERINFOSIZE, &size) != 0) return {};
  std::vector<Dl_serinfo> buffer(size.dls_size / sizeof(Dl_serinfo) + 1);
  Dl_serinfo* info = buffer.data();
  *info = size;
  if (::dlinfo(program, RTLD_DI_SERINFO, info) != 0) return {};
  std::vector<std::string> folders;
  for (unsigned i = 0; i < info->dls_cnt; ++i) folders.emplace_back(info->dls_serpath[i].dls_name);
  return folders;
}

const ServerEngineModule& Load() {
  // Never closed: connections, sessions kept for reuse and the run lock
  // live in it until the process ends.
  void* handle = nullptr;
  std::string error = std::string(kServerModuleFile) + ": not found";
  for (const std::string& folder : ProgramSearchPath()) {
    const std::string path = folder + "/" + kServerModuleFile;
    if (::access(path.c_str(), F_OK) != 0) continue;
    handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) break;
    const char* why = ::dlerror();
    error = why != nullptr ? why : path;
  }
  if (handle == nullptr) Missing("cannot be loaded (" + error + ")");
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
    const ServerLogin& server,
    const std::vector<std::pair<std::string, std::string>>& namesAndScripts) {
  return ServerModule().createDatabases(server, namesAndScripts);
}

void DropServerDatabases(const ServerLogin& server, const std::vector<std::string>& names) {
  ServerModule().dropDatabases(server, names);
}

}  // namespace qv::db
