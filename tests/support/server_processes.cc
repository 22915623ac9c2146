#include "support/server_processes.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace qv::testing {
namespace {

// The server's own programs, of the version pg_virtualenv runs (PG_CONFIG).
const std::string kPgCtl = "$(${PG_CONFIG:-pg_config} --bindir)/pg_ctl";

}  // namespace

ServerProcess::ServerProcess(const std::string& kind) : standby_(kind == kStandby) {
  const std::string data = host() + "/data";
  if (standby_) {
    Run("pg_basebackup -R -c fast -D " + data + " && touch " + data +
        "/postgresql.conf && echo \"local all all trust\" >" + data + "/pg_hba.conf && " + kPgCtl +
        " -w -D " + data + " -o \"-p " + port() + " -k " + host() +
        " -c listen_addresses=\" start");
    return;
  }
  Run("echo \"\\\"${PGUSER:-postgres}\\\" \\\"$PGPASSWORD\\\"\" >" + host() +
      "/users.txt && cat >" + host() +
      "/pgbouncer.ini <<E\n[databases]\n* = host=${PGHOST:-localhost}"
      " port=${PGPORT:-5432}\n[pgbouncer]\nlisten_addr =\nlisten_port = " +
      port() + "\nunix_socket_dir = " + host() + "\nauth_type = trust\nauth_file = " + host() +
      "/users.txt\npool_mode = " + kind + "\npidfile = " + host() + "/pid\nE\npgbouncer -d " +
      host() + "/pgbouncer.ini");
}

ServerProcess::~ServerProcess() {
  try {
    Run(standby_ ? kPgCtl + " -w -m immediate -D " + host() + "/data stop"
                 : "kill $(cat " + host() + "/pid)");
  } catch (const std::exception&) {
  }
}

void ServerProcess::Promote() {
  Run(kPgCtl + " -w -D " + host() + "/data promote");
}

// As the owner of the server's processes: the user postgres when the tests
// run as root (servers refuse to run as root).
void ServerProcess::Run(const std::string& command) const {
  std::string as;
  if (::geteuid() == 0) {
    const passwd* owner = ::getpwnam("postgres");
    if (owner == nullptr || ::chown(host().c_str(), owner->pw_uid, owner->pw_gid) != 0) {
      throw std::runtime_error("cannot hand " + host() + " to the user postgres");
    }
    as = "runuser -u postgres -- ";
  }
  const std::string line = as + "sh -c '" + command + "' >" + host() + "/log 2>&1";
  if (std::system(line.c_str()) != 0) {
    throw std::runtime_error(command + " failed: " + ReadBytes(dir_.path() / "log"));
  }
}

}  // namespace qv::testing
