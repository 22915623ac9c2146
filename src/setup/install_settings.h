// The install-settings step: this installation's registry settings, the
// run's language and the GMT offset written into both databases.
#pragma once

#include <string>

#include "db/database.h"
#include "setup/options.h"
#include "setup/registry_store.h"
#include "timezone/clock.h"

namespace qv::setup {

// `text` with every single quote doubled, to stand between single quotes in
// a statement.
std::string QuoteSQL(const std::string& text);

// Runs the four statements, each in its own transaction through ExecuteSQL
// with the run's credentials: the global preferences (qv_security), the mail
// servers (qv_main), the installation flag (qv_security), the name of
// company 1 (qv_main). The registry values and the offset are gathered
// first; one that cannot be obtained is written as empty text (the offset as
// 0). Stops at the first statement that fails and returns false, leaving the
// failure's text in `stepMessage` and the statements before it committed.
// The language and the offset go into the statement bare, as numbers: a
// language that is not a number makes the first statement fail.
bool UpdateInstallSettings(RegistryStore& registry, db::Connector& connector,
                           const timezone::Clock& clock, const SetupOptions& options,
                           std::string& stepMessage);

}  // namespace qv::setup
