#include "db/postgres/pg_operations.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "base/diagnostics.h"
#include "base/new_file.h"
#include "base/unique_fd.h"
#include "db/db_error.h"
#include "db/postgres/pg_advisory_lock.h"
#include "db/postgres/pg_error.h"

extern char** environ;

namespace qv::db::postgres {
namespace {

[[noreturn]] void FailDump(const std::string& why) {
  throw DbError(kErrUnspecified, why);
}

// This process's environment with the connection parameters of `address`
// in place of the inherited ones, each as the variable libpq reads for it
// (a parameter that has none is left out); a setting that the data source
// leaves out keeps the inherited value (libpq's default).
std::vector<std::string> DumpEnvironment(const ServerAddress& address) {
  std::vector<std::pair<std::string, std::string>> settings;
  std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption*)> known(PQconndefaults(),
                                                                       PQconninfoFree);
  for (const auto& [keyword, value] : ConnectParameters(address)) {
    for (const PQconninfoOption* o = known.get(); o != nullptr && o->keyword != nullptr; ++o) {
      if (o->envvar != nullptr && keyword == o->keyword) settings.emplace_back(o->envvar, value);
    }
  }
  std::vector<std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const auto& [name, value] : settings) replaced |= text.rfind(name + "=", 0) == 0;
    if (!replaced) env.push_back(text);
  }
  for (const auto& [name, value] : settings) env.push_back(name + "=" + value);
  return env;
}

// Runs pg_dump (found on PATH) with its output going to `out`. When it
// fails, raises the reason with what it wrote on standard error.
void RunPgDump(const ServerAddress& address, int lockWaitMs, int out) {
  std::vector<std::string> args = {"pg_dump", "--format=custom", "--no-password",
                                   "--lock-wait-timeout=" + std::to_string(lockWaitMs)};
  std::vector<std::string> env = DumpEnvironment(address);
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) FailDump(std::string("pipe: ") + std::strerror(errno));
  UniqueFd readEnd(pipeFds[0]), writeEnd(pipeFds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 2);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.Close();
  if (rc == ENOENT) FailDump("pg_dump is not on PATH (install postgresql-client)");
  if (rc != 0) FailDump(std::string("cannot start pg_dump: ") + std::strerror(rc));

  std::string messages;
  char buffer[4096];
  for (ssize_t n; (n = ::read(readEnd.get(), buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (messages.size() < 4096) messages.append(buffer, static_cast<size_t>(n));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  while (!messages.empty() && (messages.back() == '\n' || messages.back() == ' '))
    messages.pop_back();
  std::string how = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                      : "signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && messages.empty()) {
    FailDump("pg_dump could not be run (" + how + ")");
  }
  FailDump("pg_dump failed (" + how + ")" + (messages.empty() ? "" : ": " + messages));
}

}  // namespace

void DumpDatabase(const ServerAddress& address, int lockWaitMs, const std::string& path) {
  const std::string failed = WriteNewFile(path, [&](int out) {
    RunPgDump(address, lockWaitMs > 0 ? lockWaitMs : 1, out);
    return true;
  });
  if (!failed.empty()) FailDump(failed);
}

std::unique_ptr<RunLock> HoldRunLock(const ServerAddress& address,
                                     const std::vector<ServerAddress>& guarded, int busyTimeoutMs,
                                     const Diagnostics& diagnostics) {
  auto lock = std::make_unique<AdvisoryLock>(address, guarded, busyTimeoutMs, diagnostics);
  lock->KeepHeld();
  return lock;
}

}  // namespace qv::db::postgres
