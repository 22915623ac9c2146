// Included by every header of the embedded engine: only the engine's own
// files (and its tests) may see them. Above db/, use db/database.h.
#pragma once

#ifndef QV_DB_SQLITE_ENGINE
#error "db/sqlite/ is private to the embedded engine: include db/database.h instead"
#endif
