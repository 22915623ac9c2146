#include "mkinstall/command.h"

#include <exception>
#include <string_view>

namespace qv::mkinstall {
namespace {

constexpr char kUsage[] =
    "usage: qv-mkinstall [--old] [--company NAME] [--engine sqlite|postgresql]\n"
    "                    [--prefix NAME] [--host HOST] [--port PORT] [--user USER]\n"
    "                    [--password PASSWORD] DIR\n"
    "Lays out a Quorvia installation in DIR: registry.reg, odbc.ini, the db folder,\n"
    "and the databases: db/qv_main.mdb and db/qv_security.mdb, or on a PostgreSQL\n"
    "server PREFIXqv_main and PREFIXqv_security.\n"
    "  --old            the schema of an older installation, to try an upgrade\n"
    "  --company NAME   the company name in the registry file (default: Artisan's Guild)\n"
    "  --engine ENGINE  sqlite (default: database files) or postgresql (a server)\n"
    "  --prefix NAME    postgresql: put NAME before the databases' names\n"
    "  --host, --port, --user, --password\n"
    "                   postgresql: the server and its login (default: PGHOST, PGPORT,\n"
    "                   PGUSER, PGPASSWORD, ~/.pgpass, the local socket)\n";

// The options that take a value, and where it goes.
std::string* ValueOption(const std::string& name, CommandLine& command, std::string& engine) {
  if (name == "--company") return &command.settings.companyName;
  if (name == "--engine") return &engine;
  if (name == "--prefix") return &command.settings.prefix;
  if (name == "--host") return &command.settings.server.host;
  if (name == "--port") return &command.settings.server.port;
  if (name == "--user") return &command.settings.server.user;
  if (name == "--password") return &command.settings.server.password;
  return nullptr;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  CommandLine parsed;
  std::vector<std::string> operands;
  std::string engine = "sqlite";
  bool options = true;
  bool serverOption = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::string name = arg.substr(0, arg.find('='));
    if (!options || arg.empty() || arg[0] != '-' || arg == "-") {
      operands.push_back(arg);
    } else if (arg == "--") {
      options = false;
    } else if (arg == "--help" || arg == "-h") {
      parsed.help = true;
    } else if (arg == "--old") {
      parsed.settings.generation = SchemaGeneration::kOld;
    } else if (std::string* value = ValueOption(name, parsed, engine)) {
      if (name != arg) {
        *value = arg.substr(name.size() + 1);
      } else if (i + 1 == args.size()) {
        error = name + " needs a value";
        return false;
      } else {
        *value = args[++i];
      }
      serverOption = serverOption || (name != "--company" && name != "--engine");
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  if (engine == "postgresql") {
    parsed.settings.engine = Engine::kPostgres;
  } else if (engine != "sqlite") {
    error = "unknown engine " + engine + " (sqlite or postgresql)";
    return false;
  } else if (serverOption) {
    error = "--prefix, --host, --port, --user and --password need --engine postgresql";
    return false;
  }
  if (!parsed.help) {
    if (operands.size() != 1 || operands[0].empty()) {
      error = operands.empty() ? "no folder given" : "give exactly one folder";
      return false;
    }
    parsed.dir = operands[0];
  }
  out = parsed;
  return true;
}

std::string ShellWord(const std::string& text) {
  bool plain = !text.empty();
  for (char c : text) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string_view("_./:@%+,=-").find(c) != std::string_view::npos;
    if (!safe) plain = false;
  }
  if (plain) return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int RunMkinstall(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandLine command;
  std::string error;
  if (!ParseCommandLine(args, command, error)) {
    err << "qv-mkinstall: " << error << "\n" << kUsage;
    return 2;
  }
  if (command.help) {
    out << kUsage;
    return 0;
  }
  try {
    const InstallationPaths paths = LayOutInstallation(command.dir, command.settings);
    out << "QV_REGISTRY_FILE=" << ShellWord(paths.registryFile.string()) << "\n"
        << "ODBCINI=" << ShellWord(paths.odbcIni.string()) << "\n";
    out.flush();
    return 0;
  } catch (const std::exception& e) {  // LayoutError, or the file system's own
    err << "qv-mkinstall: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace qv::mkinstall
