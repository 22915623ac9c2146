#include "setup/run_setup.h"

#include "base/diagnostics.h"
#include "base/names.h"
#include "db/data_sources.h"
#include "db/shared_routines.h"
#include "setup/backup.h"
#include "setup/command_line.h"
#include "setup/install_settings.h"
#include "setup/run_lock.h"
#include "setup/text.h"

namespace qv::setup {

namespace {

constexpr const char kConfirmationWord[] = "Initialize";

void ApplyDefaults(SetupOptions& o) {
  if (o.UserName.empty()) o.UserName = kDefaultUserName;
  if (o.DBPassword.empty()) o.DBPassword = kDefaultPassword;
  if (o.Language.empty()) o.Language = kDefaultLanguage;
  if (o.StationID.empty()) o.StationID = kDefaultStationId;
}

std::string DebugSummary(const SetupOptions& o) {
  return "UserName: " + o.UserName + "\r\n" + "DBPassword: " + o.DBPassword + "\r\n" +
         "Language: " + o.Language + "\r\n" + "StationID: " + o.StationID;
}

// One confirmed run: the options are final, the step message is shared by
// every step that writes one.
class Run {
 public:
  Run(const SetupEdges& edges, const SetupOptions& options) : edges_(edges), options_(options) {}

  void BackUp() {
    try {
      BackUpDatabases(edges_.registry, edges_.files, edges_.connector, edges_.clock);
    } catch (...) {
      // A backup that could not be made is skipped without a message.
    }
  }

  void InstallSettings() {
    bool ok = false;
    try {
      ok = UpdateInstallSettings(edges_.registry, edges_.connector, edges_.clock, options_,
                                 stepMessage_);
    } catch (...) {
      ok = false;
    }
    if (!ok && options_.DebugMode) {
      edges_.boxes.Show(stepMessage_);
      edges_.boxes.Show(BoolText(ok));
    }
  }

  void SampleData(const SampleDataStep& step) {
    bool empty = true;
    try {
      empty = db::TableIsEmpty(edges_.connector, options_.UserName, options_.DBPassword, step.table,
                               step.keyColumn);
    } catch (...) {
      // The module runs as if its table were empty and meets the same
      // trouble itself.
      empty = true;
    }
    if (!empty) return;
    const sample_data::ModuleEnv env{edges_.connector, edges_.clock,
                                     [this](const std::string& text) { edges_.boxes.Show(text); }};
    const sample_data::SampleArgs args{options_.Language, db::kMainDataSource, options_.UserName,
                                       options_.DBPassword, options_.StationID};
    bool ok = false;
    try {
      ok = step.insert(env, args);
    } catch (...) {
      ok = false;
    }
    if (options_.DebugMode) edges_.boxes.Show(step.boxText + std::string(BoolText(ok)));
  }

  void Migration(const MigrationStep& step) {
    bool ok = false;
    try {
      ok = step.run(edges_.connector, stepMessage_);
    } catch (...) {
      ok = false;
    }
    if (options_.DebugMode || !ok) edges_.boxes.Show(step.label + stepMessage_);
  }

 private:
  const SetupEdges& edges_;
  const SetupOptions& options_;
  std::string stepMessage_;  // replaced by the steps, never cleared
};

}  // namespace

void RunSetup(const std::string& commandLine, const SetupEdges& edges, const SetupSteps& steps) {
  const CommandLine parsed = ParseCommandLine(commandLine);
  if (parsed.showHelp) {
    ShowHelp(edges.boxes);
    return;
  }
  SetupOptions options = parsed.options;
  if (!EqualsNoCase(options.InitializeWord, kConfirmationWord)) {
    // An installer script cannot tell "did nothing" from success by the
    // boxes and the exit status alone.
    if (commandLine.find_first_not_of(" \t\r\n") != std::string::npos) {
      edges.connector.diagnostics().Say("nothing was done: a run is confirmed with /i " +
                                        std::string(kConfirmationWord));
    }
    return;
  }
  ApplyDefaults(options);

  // Held to the end of the run: a second run on this installation waits
  // here, before its backup, until this one is done; a run on another
  // machine that shares the databases waits for the second lock. Every run
  // takes them in this order.
  const std::unique_ptr<FileLock> turn = LockInstallation(edges.registry, edges.files);
  SharedTurn sharedTurn = LockSharedDatabase(edges.connector);
  // Runs that cannot take turns do nothing at all (said on standard error);
  // a lock lost to the server is taken again before the next step.
  if (sharedTurn.refused) return;
  Run run(edges, options);
  if (options.BackUpDatabases) run.BackUp();
  if (!sharedTurn.Keep()) return;
  run.InstallSettings();
  if (options.DebugMode) edges.boxes.Show(DebugSummary(options));
  if (options.WithSampleData) {
    for (const SampleDataStep& step : steps.sampleData) {
      if (!sharedTurn.Keep()) return;
      run.SampleData(step);
    }
  }
  for (const MigrationStep& step : steps.migration) {
    if (!sharedTurn.Keep()) return;
    run.Migration(step);
  }
  edges.connector.RunEnded();
}

}  // namespace qv::setup
