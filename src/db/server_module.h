// The server engine's module (engine.h), loaded once per process by the
// dynamic linker's own search: the programs' run path names the folder the
// package installs it in, or the build folder.
#pragma once

#include "db/engine.h"

namespace qv::db {

// The file name of the module and the package that installs it.
inline constexpr char kServerModuleFile[] = "qv-postgresql-engine.so";
inline constexpr char kServerModulePackage[] = "quorvia-setup-postgresql";

// The module's entry, loaded at the first call and kept for the process.
// Raises DbError saying why, and naming the package to install, when the
// module is not installed, cannot be loaded or is of another version.
const ServerEngineModule& ServerModule();

}  // namespace qv::db
