// Included by every header of the server engine: only the engine's own
// files (and its tests) may see them. Above db/, use db/database.h.
#pragma once

#ifndef QV_DB_POSTGRES_ENGINE
#error "db/postgres/ is private to the server engine: include db/database.h instead"
#endif
