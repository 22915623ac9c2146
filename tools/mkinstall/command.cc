#include "mkinstall/command.h"

#include <exception>
#include <string_view>

namespace qv::mkinstall {
namespace {

constexpr char kUsage[] =
    "usage: qv-mkinstall [--old] [--company NAME] DIR\n"
    "Lays out a Quorvia installation in DIR: registry.reg, odbc.ini,\n"
    "db/qv_main.mdb and db/qv_security.mdb.\n"
    "  --old            the schema of an older installation, to try an upgrade\n"
    "  --company NAME   the company name in the registry file (default: Artisan's Guild)\n";

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  CommandLine parsed;
  std::vector<std::string> operands;
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options || arg.empty() || arg[0] != '-' || arg == "-") {
      operands.push_back(arg);
    } else if (arg == "--") {
      options = false;
    } else if (arg == "--help" || arg == "-h") {
      parsed.help = true;
    } else if (arg == "--old") {
      parsed.settings.generation = SchemaGeneration::kOld;
    } else if (arg == "--company") {
      if (i + 1 == args.size()) {
        error = "--company needs a name";
        return false;
      }
      parsed.settings.companyName = args[++i];
    } else if (arg.rfind("--company=", 0) == 0) {
      parsed.settings.companyName = arg.substr(10);
    } else {
      error = "unknown option " + arg;
      return false;
    }
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
