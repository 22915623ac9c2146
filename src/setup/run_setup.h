// The run sequence of the setup: switches, confirmation, defaults, backup,
// install settings, debug summary, sample data, schema migration, in this
// order, reporting through message boxes only.
#pragma once

#include <string>
#include <vector>

#include "db/database.h"
#include "sample_data/frame.h"
#include "setup/file_ops.h"
#include "setup/message_boxes.h"
#include "setup/options.h"
#include "setup/registry_store.h"
#include "timezone/clock.h"

namespace qv::setup {

// Everything a run touches outside its own memory. All are borrowed and must
// outlive the run.
struct SetupEdges {
  MessageBoxes& boxes;
  RegistryStore& registry;
  db::Connector& connector;
  const timezone::Clock& clock;
  FileOps& files;
};

// One sample-data module with the table whose emptiness lets it run.
struct SampleDataStep {
  const char* table;
  const char* keyColumn;
  const char* boxText;  // shown in debug mode, followed by True or False
  bool (*insert)(const sample_data::ModuleEnv& env, const sample_data::SampleArgs& args);
};

// One schema-migration step.
struct MigrationStep {
  const char* label;  // shown followed by the step message
  bool (*run)(db::Connector& connector, std::string& stepMessage);
};

// The steps a run calls, in their order. A real run takes StandardSteps()
// (standard_steps.h).
struct SetupSteps {
  std::vector<SampleDataStep> sampleData;
  std::vector<MigrationStep> migration;
};

// The defaults of the text options, applied once the run is confirmed.
inline constexpr const char kDefaultUserName[] = "admin";
inline constexpr const char kDefaultPassword[] = "quillmark";
inline constexpr const char kDefaultLanguage[] = "1";
inline constexpr const char kDefaultStationId[] = "1";

// Runs the setup for `commandLine` (the arguments after the program's name).
// Without "/i Initialize" (any case) nothing at all happens; "/?" or "-?"
// only shows the help screen. A confirmed run first waits for the
// installation's run locks (run_lock.h) and holds them to its end. No step
// stops the run and nothing is raised: an error inside a step ends that step
// (a step that raised counts as failed; a table test that raised lets its
// module run, which then meets the same trouble itself).
void RunSetup(const std::string& commandLine, const SetupEdges& edges, const SetupSteps& steps);

}  // namespace qv::setup
