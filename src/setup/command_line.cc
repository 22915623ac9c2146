#include "setup/command_line.h"

#include <initializer_list>

#include "base/names.h"

namespace qv::setup {

namespace {

// The largest number of arguments a run reads.
constexpr int kMaxRunArgs = 20;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsAnyOf(const std::string& arg, std::initializer_list<const char*> spellings) {
  for (const char* spelling : spellings) {
    if (EqualsNoCase(arg, spelling)) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> GetArg(const std::string& commandLine, int maxArgs) {
  if (maxArgs < 0) maxArgs = 0;
  std::vector<std::string> args(1);
  bool inArgument = false;
  bool inQuotes = false;
  for (char c : commandLine) {
    if (c == '"') inQuotes = !inQuotes;
    if (IsBlank(c) && !inQuotes) {
      inArgument = false;
      continue;
    }
    if (!inArgument) {
      if (static_cast<int>(args.size()) - 1 == maxArgs) break;
      args.emplace_back();
      inArgument = true;
    }
    if (c != '"') args.back() += c;
  }
  return args;
}

std::string JoinArguments(int argc, const char* const argv[]) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    std::string arg;
    bool needsQuotes = false;
    for (const char* p = argv[i]; *p != '\0'; ++p) {
      if (*p == '"') continue;
      if (IsBlank(*p)) needsQuotes = true;
      arg += *p;
    }
    if (arg.empty()) needsQuotes = true;
    if (i > 1) text += ' ';
    if (needsQuotes) {
      text += '"' + arg + '"';
    } else {
      text += arg;
    }
  }
  return text;
}

CommandLine ParseCommandLine(const std::string& commandLine) {
  CommandLine result;
  SetupOptions& o = result.options;
  const std::vector<std::string> args = GetArg(commandLine, kMaxRunArgs);
  const size_t n = args.size() - 1;
  for (size_t i = 1; i <= n; ++i) {
    const std::string& arg = args[i];
    // A value switch standing last keeps the field's earlier value. The value
    // is not skipped: the next pass reads it as a switch of its own.
    const std::string* value = i + 1 <= n ? &args[i + 1] : nullptr;
    if (IsAnyOf(arg, {"/n"})) {
      if (value) o.UserName = *value;
    } else if (IsAnyOf(arg, {"/p"})) {
      if (value) o.DBPassword = *value;
    } else if (IsAnyOf(arg, {"/i"})) {
      if (value) o.InitializeWord = *value;
    } else if (IsAnyOf(arg, {"/l"})) {
      if (value) o.Language = *value;
    } else if (IsAnyOf(arg, {"/s"})) {
      if (value) o.StationID = *value;
    } else if (IsAnyOf(arg, {"/d", "/debug"})) {
      o.DebugMode = true;
    } else if (IsAnyOf(arg, {"/a"})) {
      o.WithSampleData = true;
    } else if (IsAnyOf(arg, {"/b"})) {
      o.BackUpDatabases = true;
    } else if (IsAnyOf(arg, {"/?", "-?"})) {
      result.showHelp = true;
      break;
    }
  }
  return result;
}

const std::string& HelpText() {
  static const std::string text =
      "QvSetup.exe options\r\n"
      "\r\n"
      "/L: Language Identifier\r\n"
      "/S: Station Identifier\r\n"
      "/D: Debug mode execution\r\n"
      "/A: Sample data insert switch\r\n"
      "/P: Database Password (Optional)\r\n"
      "/N: Database UserName (Optional)\r\n"
      "/B: Back up qv_main.mdb\r\n"
      "/?, -?: Help screen\r\n"
      "\r\n"
      "(All the switches are non-case sensitive.)\r\n"
      "\r\n";
  return text;
}

void ShowHelp(MessageBoxes& boxes) {
  boxes.Show(HelpText());
}

}  // namespace qv::setup
