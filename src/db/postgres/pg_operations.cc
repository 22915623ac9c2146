#include "db/postgres/pg_operations.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
#include "db/postgres/pg_result.h"

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

// A client program started with its standard streams on the descriptors
// given and what it says on standard error kept in a memory file.
struct Client {
  Client(const std::string& program, std::vector<std::string> args, std::vector<std::string> env,
         int in, int out)
      : name(program), errors(::memfd_create(program.c_str(), MFD_CLOEXEC)) {
    if (errors.get() < 0) FailDump(std::string("memfd_create: ") + std::strerror(errno));
    args.insert(args.begin(), program);
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, errors.get(), 2);
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc == ENOENT) FailDump(program + " is not on PATH (install postgresql-client)");
    if (rc != 0) FailDump("cannot start " + program + ": " + std::strerror(rc));
  }
  ~Client() {
    if (pid > 0) ::kill(pid, SIGKILL), Wait();
  }
  // Its exit status; raises its messages when it did not end with 0 and
  // `raise`.
  bool Wait(bool raise = false) {
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (!raise) return false;
    std::string messages(4096, '\0');
    const ssize_t n = ::pread(errors.get(), messages.data(), messages.size(), 0);
    messages.resize(n > 0 ? static_cast<size_t>(n) : 0);
    while (!messages.empty() && (messages.back() == '\n' || messages.back() == ' '))
      messages.pop_back();
    FailDump(name + " failed (" +
             (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                : "signal " + std::to_string(WTERMSIG(status))) +
             ")" + (messages.empty() ? "" : ": " + messages));
  }
  std::string name;
  UniqueFd errors;
  pid_t pid = -1;
};

UniqueFd OpenNull(int flags) {
  UniqueFd fd(::open("/dev/null", flags | O_CLOEXEC));
  if (fd.get() < 0) FailDump(std::string("/dev/null: ") + std::strerror(errno));
  return fd;
}

// Empties the database before the dump's contents run, in their
// transaction: every schema but public dropped with what it holds (the dump
// makes its own again, with their owners and privileges), and every object
// of public dropped, the schema itself kept as it is. What an extension owns
// is the extension's.
constexpr char kEmptyDatabase[] = R"sql(BEGIN;
SET client_min_messages = warning;
DO $qv$
DECLARE r record;
BEGIN
  FOR r IN SELECT format('DROP SCHEMA %I CASCADE', n.nspname) AS s FROM pg_namespace n
      WHERE n.nspname NOT IN ('public', 'information_schema') AND n.nspname NOT LIKE 'pg\_%'
        AND NOT EXISTS (SELECT 1 FROM pg_depend d WHERE d.classid = 'pg_namespace'::regclass
                          AND d.objid = n.oid AND d.deptype = 'e') LOOP
    EXECUTE r.s;
  END LOOP;
  FOR r IN SELECT format('DROP %s IF EXISTS public.%I CASCADE',
                         CASE c.relkind WHEN 'v' THEN 'VIEW' WHEN 'm' THEN 'MATERIALIZED VIEW'
                           WHEN 'S' THEN 'SEQUENCE' WHEN 'f' THEN 'FOREIGN TABLE' ELSE 'TABLE' END,
                         c.relname) AS s
      FROM pg_class c WHERE c.relnamespace = 'public'::regnamespace
        AND c.relkind IN ('r', 'p', 'v', 'm', 'S', 'f')
        AND NOT EXISTS (SELECT 1 FROM pg_depend d WHERE d.classid = 'pg_class'::regclass
                          AND d.objid = c.oid AND d.deptype = 'e')
      ORDER BY CASE WHEN c.relkind IN ('v', 'm') THEN 0 WHEN c.relkind = 'S' THEN 2 ELSE 1 END LOOP
    EXECUTE r.s;
  END LOOP;
  FOR r IN SELECT format('DROP ROUTINE IF EXISTS %s CASCADE', p.oid::regprocedure) AS s
      FROM pg_proc p WHERE p.pronamespace = 'public'::regnamespace
        AND NOT EXISTS (SELECT 1 FROM pg_depend d WHERE d.classid = 'pg_proc'::regclass
                          AND d.objid = p.oid AND d.deptype = 'e') LOOP
    EXECUTE r.s;
  END LOOP;
  FOR r IN SELECT format('DROP TYPE IF EXISTS public.%I CASCADE', t.typname) AS s
      FROM pg_type t WHERE t.typnamespace = 'public'::regnamespace AND t.typtype IN ('d', 'e', 'r')
        AND NOT EXISTS (SELECT 1 FROM pg_depend d WHERE d.classid = 'pg_type'::regclass
                          AND d.objid = t.oid AND d.deptype = 'e') LOOP
    EXECUTE r.s;
  END LOOP;
END
$qv$;
RESET client_min_messages;
)sql";

// Writes all of `text` to the socket `fd`; false when the reader is gone.
bool SendAll(int fd, const char* text, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, text, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text += n;
    size -= static_cast<size_t>(n);
  }
  return true;
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

void VerifyDump(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) FailDump(path + " is missing");
  std::vector<std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
    env.push_back(*entry);
  const UniqueFd in = OpenNull(O_RDONLY), out = OpenNull(O_WRONLY);
  try {
    Client check("pg_restore", {"--file=/dev/null", path}, env, in.get(), out.get());
    check.Wait(true);
  } catch (const DbError& e) {
    FailDump(path + " cannot be read whole: " + e.description());
  }
}

std::vector<std::string> SessionsUsing(const ServerAddress& address, int busyTimeoutMs) {
  std::string own = "{";
  for (int pid : IdleBackendPids()) own += (own.size() > 1 ? "," : "") + std::to_string(pid);
  own += "}";
  std::shared_ptr<Session> session = Session::Open(address, busyTimeoutMs);
  const Result found = session->Exec(
      "SELECT a.pid::text, coalesce(a.application_name, ''), coalesce(host(a.client_addr), ''),"
      " coalesce(a.usename::text, '') FROM pg_stat_activity a"
      " WHERE a.datname = current_database() AND a.pid <> pg_backend_pid()"
      " AND a.backend_type = 'client backend' AND a.pid <> ALL ($1::int[])"
      " AND NOT (a.wait_event_type IS NOT DISTINCT FROM 'Lock'"
      "          AND a.wait_event IS NOT DISTINCT FROM 'advisory')"
      " AND NOT EXISTS (SELECT 1 FROM pg_locks l WHERE l.pid = a.pid AND " +
          RunLockHeld() + ") ORDER BY a.pid",
      {Value(own)});
  session->Close();
  std::vector<std::string> users;
  for (int row = 0; row < found.rows(); ++row) {
    std::string line = "session " + found.Text(row, 0) + " of " + found.Text(row, 3) + " (" +
                       (found.Text(row, 1).empty() ? "no program name" : found.Text(row, 1));
    if (!found.Text(row, 2).empty()) line += ", from " + found.Text(row, 2);
    users.push_back(line + ") is connected to " + address.database);
  }
  return users;
}

void RestoreDump(const ServerAddress& address, const std::string& path) {
  std::vector<std::string> plain;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
    plain.push_back(*entry);
  int dump[2], feed[2];
  if (::pipe2(dump, O_CLOEXEC) != 0 ||
      ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, feed) != 0)
    FailDump(std::string("pipe: ") + std::strerror(errno));
  UniqueFd dumpRead(dump[0]), dumpWrite(dump[1]), feedOurs(feed[0]), feedTheirs(feed[1]);
  const UniqueFd in = OpenNull(O_RDONLY), out = OpenNull(O_WRONLY);
  // The transaction is psql's one: it begins with the drops and commits only
  // when this process writes COMMIT, after pg_restore wrote all of the dump.
  // psql, this process or the server ending before leaves it uncommitted.
  Client reader("pg_restore", {"--file=-", path}, plain, in.get(), dumpWrite.get());
  dumpWrite.Close();
  Client writer("psql", {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-f", "-"}, DumpEnvironment(address),
                feedTheirs.get(), out.get());
  feedTheirs.Close();
  bool sent = SendAll(feedOurs.get(), kEmptyDatabase, sizeof kEmptyDatabase - 1);
  char buffer[65536];
  for (ssize_t n; sent && (n = ::read(dumpRead.get(), buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    sent = SendAll(feedOurs.get(), buffer, static_cast<size_t>(n));
  }
  dumpRead.Close();
  if (!reader.Wait(sent)) {
    // psql stopped first: its reason is the one to tell.
    feedOurs.Close();
    writer.Wait(true);
    FailDump("psql stopped before the end of " + path);
  }
  if (!SendAll(feedOurs.get(), "COMMIT;\n", 8)) sent = false;
  feedOurs.Close();
  writer.Wait(true);
  if (!sent) FailDump("psql stopped before the end of " + path);
}

}  // namespace qv::db::postgres
