// Creating and dropping databases on a PostgreSQL server, as
// db/create_databases.h describes; reached through the module's entry.
#pragma once

#include "db/postgres/engine_only.h"

#include <string>
#include <utility>
#include <vector>

#include "db/create_databases.h"

namespace qv::db::postgres {

ServerLogin CreateServerDatabases(
    const ServerLogin& server,
    const std::vector<std::pair<std::string, std::string>>& namesAndScripts);
void DropServerDatabases(const ServerLogin& server, const std::vector<std::string>& names);

}  // namespace qv::db::postgres
