// Fuzzes the command-line splitter (GetArg), the joining of a process's
// argument vector (JoinArguments) and the switch scan (ParseCommandLine).
//
// The input is a command-line text. Invariants:
//   - index 0 is empty; no argument holds a double quote; the arguments run
//     together are the text without its quotes and without the blanks and
//     tabs that stand outside quotes;
//   - a limit of k arguments gives the first k arguments of the unlimited
//     split and nothing more (so a run reads at most 20);
//   - the input cut at its NUL bytes, taken as an argument vector, joined
//     and split again, gives back each argument without its quotes;
//   - the switch scan agrees with a model that reads each field from the
//     last switch of its kind before any /? or -? among the first 20
//     arguments.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "setup/command_line.h"

namespace {

using qv::fuzz::Printable;

constexpr size_t kRunArgs = 20;  // the arguments a run reads

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool Is(const std::string& arg, std::initializer_list<const char*> spellings) {
  for (const char* s : spellings) {
    const std::string spelling = s;
    if (arg.size() == spelling.size() &&
        std::equal(arg.begin(), arg.end(), spelling.begin(),
                   [](char a, char b) { return Lower(a) == Lower(b); })) {
      return true;
    }
  }
  return false;
}

// The characters that end up in some argument, found without splitting:
// every quote dropped, every blank or tab outside quotes dropped.
std::string KeptCharacters(const std::string& line) {
  std::string kept;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (IsBlank(c) && !quoted) continue;
    kept += c;
  }
  return kept;
}

// The unlimited split: every argument takes at least one character, so a
// limit of the text's length plus one is never reached.
std::vector<std::string> SplitAll(const std::string& line) {
  const int unlimited = static_cast<int>(std::min<size_t>(line.size() + 1, INT_MAX));
  return qv::setup::GetArg(line, unlimited);
}

void CheckSplit(const std::string& line, const std::vector<std::string>& all) {
  FUZZ_CHECK(!all.empty());
  FUZZ_CHECK(all[0].empty());
  const bool hasQuote = line.find('"') != std::string::npos;
  std::string joined;
  for (size_t i = 1; i < all.size(); ++i) {
    const std::string& arg = all[i];
    FUZZ_CHECK_MSG(arg.find('"') == std::string::npos, Printable(arg));
    if (!hasQuote) {
      // Without quotes an argument is a run of characters between blanks.
      FUZZ_CHECK(!arg.empty());
      FUZZ_CHECK(std::none_of(arg.begin(), arg.end(), IsBlank));
    }
    joined += arg;
  }
  FUZZ_CHECK_MSG(joined == KeptCharacters(line), Printable(line));

  for (int maxArgs : {INT_MIN, -1, 0, 1, 2, 3, 10, 20, 21, INT_MAX}) {
    const std::vector<std::string> some = qv::setup::GetArg(line, maxArgs);
    const size_t limit = static_cast<size_t>(std::max(maxArgs, 0));
    FUZZ_CHECK(some.size() == std::min(all.size(), limit + 1));
    FUZZ_CHECK(std::equal(some.begin(), some.end(), all.begin()));
  }
  const std::vector<std::string> byDefault = qv::setup::GetArg(line);
  FUZZ_CHECK(byDefault.size() == std::min<size_t>(all.size(), 11));
  FUZZ_CHECK(std::equal(byDefault.begin(), byDefault.end(), all.begin()));
}

void CheckJoin(const std::string& data) {
  // The input cut at its NUL bytes: the arguments after the program's name.
  std::vector<std::string> pieces;
  size_t start = 0;
  while (pieces.size() < 64) {
    const size_t nul = data.find('\0', start);
    pieces.push_back(
        data.substr(start, nul == std::string::npos ? std::string::npos : nul - start));
    if (nul == std::string::npos) break;
    start = nul + 1;
  }
  std::vector<const char*> argv = {"qvsetup"};
  for (const std::string& p : pieces) argv.push_back(p.c_str());
  const std::string text = qv::setup::JoinArguments(static_cast<int>(argv.size()), argv.data());
  const std::vector<std::string> args = qv::setup::GetArg(text, static_cast<int>(pieces.size()));
  FUZZ_CHECK_MSG(args.size() == pieces.size() + 1, Printable(text));
  for (size_t i = 0; i < pieces.size(); ++i) {
    std::string expected = pieces[i];
    expected.erase(std::remove(expected.begin(), expected.end(), '"'), expected.end());
    FUZZ_CHECK_MSG(args[i + 1] == expected, Printable(pieces[i]) + " -> " + Printable(args[i + 1]));
  }
}

void CheckScan(const std::string& line, const std::vector<std::string>& all) {
  const qv::setup::CommandLine parsed = qv::setup::ParseCommandLine(line);
  // Only the first 20 arguments count; a value switch at the 20th has no value.
  const size_t m = std::min(all.size() - 1, kRunArgs);
  size_t end = m + 1;  // the scan stops at the first help switch
  for (size_t i = 1; i <= m; ++i) {
    if (Is(all[i], {"/?", "-?"})) {
      end = i;
      break;
    }
  }
  FUZZ_CHECK(parsed.showHelp == (end <= m));

  // A value switch takes the argument after it, even one that the scan then
  // stops at; the last one read wins.
  auto value = [&](std::initializer_list<const char*> spellings) {
    std::string v;
    for (size_t i = 1; i < end; ++i) {
      if (Is(all[i], spellings) && i + 1 <= m) v = all[i + 1];
    }
    return v;
  };
  auto flag = [&](std::initializer_list<const char*> spellings) {
    for (size_t i = 1; i < end; ++i) {
      if (Is(all[i], spellings)) return true;
    }
    return false;
  };
  const qv::setup::SetupOptions& o = parsed.options;
  FUZZ_CHECK(o.UserName == value({"/n"}));
  FUZZ_CHECK(o.DBPassword == value({"/p"}));
  FUZZ_CHECK(o.InitializeWord == value({"/i"}));
  FUZZ_CHECK(o.Language == value({"/l"}));
  FUZZ_CHECK(o.StationID == value({"/s"}));
  FUZZ_CHECK(o.DebugMode == flag({"/d", "/debug"}));
  FUZZ_CHECK(o.WithSampleData == flag({"/a"}));
  FUZZ_CHECK(o.BackUpDatabases == flag({"/b"}));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> all = SplitAll(line);
  CheckSplit(line, all);
  CheckScan(line, all);
  CheckJoin(line);
  return 0;
}
