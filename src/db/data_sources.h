// The names under which the setup opens its two databases.
#pragma once

namespace qv::db {

// Data-source names, opened with the run's user name and password.
inline constexpr const char kMainDataSource[] = "qv_main";
inline constexpr const char kSecurityDataSource[] = "qv_security";

// Full connection strings with fixed credentials: the migration steps do not
// depend on the /n and /p switches. Opened with empty user and password.
inline constexpr const char kMainConnectionString[] =
    "Provider=MSDASQL;Data Source=qv_main;User ID=admin;Password=quillmark;";
inline constexpr const char kSecurityConnectionString[] =
    "Provider=MSDASQL;Data Source=qv_security;User ID=admin;Password=quillmark;";

}  // namespace qv::db
