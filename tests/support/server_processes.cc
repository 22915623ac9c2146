#include "support/server_processes.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/installation.h"

namespace qv::testing {
namespace {

std::string Env(const char* name, const char* otherwise = "") {
  const char* value = std::getenv(name);
  return value != nullptr ? value : otherwise;
}

// Runs `command` as the owner of the server's processes: the user
// "postgres" when the tests run as root (servers refuse to run as root).
void RunAsServerOwner(const std::filesystem::path& dir, const std::string& command) {
  std::string as;
  if (::geteuid() == 0) {
    const passwd* owner = ::getpwnam("postgres");
    if (owner == nullptr || ::chown(dir.c_str(), owner->pw_uid, owner->pw_gid) != 0) {
      throw std::runtime_error("cannot hand " + dir.string() + " to the user postgres");
    }
    as = "runuser -u postgres -- ";
  }
  const std::string line = as + "sh -c '" + command + "' >" + dir.string() + "/log 2>&1";
  if (std::system(line.c_str()) != 0) {
    throw std::runtime_error(command + " failed: " + ReadBytes(dir / "log"));
  }
}

std::string ServerBin(const std::string& program) {
  const std::string major = QueryValue(DatabaseRef::OnServer({}, "postgres"),
                                       "SELECT current_setting('server_version_num')::int / 10000");
  return "/usr/lib/postgresql/" + major + "/bin/" + program;
}

}  // namespace

Standby::Standby() : data_(dir_.str() + "/data") {
  RunAsServerOwner(dir_.path(), "pg_basebackup -R -c fast -D " + data_ + " && touch " + data_ +
                                    "/postgresql.conf && echo \"local all all trust\" >" + data_ +
                                    "/pg_hba.conf && " + ServerBin("pg_ctl") + " -w -D " + data_ +
                                    " -o \"-p " + port() + " -k " + host() +
                                    " -c listen_addresses= -c hot_standby=on\" start");
}

Standby::~Standby() {
  try {
    RunAsServerOwner(dir_.path(), ServerBin("pg_ctl") + " -w -m immediate -D " + data_ + " stop");
  } catch (const std::exception&) {
  }
}

void Standby::Promote() {
  RunAsServerOwner(dir_.path(), ServerBin("pg_ctl") + " -w -D " + data_ + " promote");
}

Pooler::Pooler(const std::string& mode) {
  WriteBytes(dir_.path() / "users.txt",
             "\"" + Env("PGUSER", "postgres") + "\" \"" + Env("PGPASSWORD") + "\"\n");
  WriteBytes(dir_.path() / "pgbouncer.ini",
             "[databases]\n* = host=" + Env("PGHOST", "localhost") + " port=" +
                 Env("PGPORT", "5432") + "\n[pgbouncer]\nlisten_addr =\nlisten_port = " + port() +
                 "\nunix_socket_dir = " + host() + "\nauth_type = trust\nauth_file = " + host() +
                 "/users.txt\npool_mode = " + mode + "\npidfile = " + host() + "/pgbouncer.pid\n");
  RunAsServerOwner(dir_.path(), "pgbouncer -d " + host() + "/pgbouncer.ini");
}

Pooler::~Pooler() {
  try {
    RunAsServerOwner(dir_.path(), "kill $(cat " + host() + "/pgbouncer.pid)");
  } catch (const std::exception&) {
  }
}

}  // namespace qv::testing
