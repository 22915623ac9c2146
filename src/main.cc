// qvsetup: the post-installation setup of a Quorvia server. Everything it has
// to say goes to standard output as message boxes; its exit status is always
// 0, whatever happened.
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>

#include "base/diagnostics.h"
#include "db/database.h"
#include "setup/command_line.h"
#include "setup/file_ops.h"
#include "setup/message_boxes.h"
#include "setup/registry_file_store.h"
#include "setup/run_setup.h"
#include "setup/standard_steps.h"
#include "timezone/clock.h"

int main(int argc, char* argv[]) {
  // A reader that went away must not end the run half-way: the boxes are
  // only a report, the databases are the work.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    const std::string commandLine = qv::setup::JoinArguments(argc, argv);
    qv::setup::StreamMessageBoxes boxes(std::cout);
    const char* namedRegistry = std::getenv("QV_REGISTRY_FILE");
    const qv::Diagnostics& diagnostics = qv::StandardErrorDiagnostics();
    qv::setup::RegistryFileStore registry(qv::setup::RegistryFilePath(), diagnostics,
                                          namedRegistry != nullptr && *namedRegistry != '\0');
    const std::unique_ptr<qv::db::Connector> connector =
        qv::db::MakeDataSourceConnector(diagnostics);
    const qv::timezone::SystemClock clock;
    qv::setup::PosixFileOps files(diagnostics);
    const qv::setup::SetupEdges edges{boxes, registry, *connector, clock, files};
    qv::setup::RunSetup(commandLine, edges, qv::setup::StandardSteps());
  } catch (const std::exception& e) {
    std::cerr << "qvsetup: unexpected error: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "qvsetup: unexpected error\n";
  }
  return 0;
}
