// The command-line splitter, joiner and switch scan on one text; what each
// must keep is listed in README.md here.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "setup/command_line.h"

namespace {

void CheckSplit(const std::string& line, const std::vector<std::string>& all) {
  FUZZ_CHECK(!all.empty() && all[0].empty());
  std::string joined, kept;
  for (size_t i = 1; i < all.size(); ++i) {
    FUZZ_CHECK(all[i].find('"') == std::string::npos);
    if (line.find('"') == std::string::npos) {  // then an argument lies between blanks
      FUZZ_CHECK(!all[i].empty() && std::none_of(all[i].begin(), all[i].end(), qv::fuzz::IsBlank));
    }
    joined += all[i];
  }
  bool quoted = false;
  for (char c : line) {
    quoted ^= c == '"';
    if (c != '"' && (quoted || !qv::fuzz::IsBlank(c))) kept += c;
  }
  FUZZ_CHECK(joined == kept);
  for (int maxArgs : {INT_MIN, 0, 3, 20, INT_MAX}) {  // a limit of k: the first k arguments
    const std::vector<std::string> some = qv::setup::GetArg(line, maxArgs);
    FUZZ_CHECK(some.size() == std::min(all.size(), static_cast<size_t>(std::max(maxArgs, 0)) + 1));
    FUZZ_CHECK(std::equal(some.begin(), some.end(), all.begin()));
  }
}

void CheckJoin(const std::string& data) {
  std::vector<std::string> pieces;
  std::vector<const char*> argv = {"qvsetup"};
  for (size_t start = 0, nul = 0; nul != std::string::npos && pieces.size() < 64; start = nul + 1) {
    nul = data.find('\0', start);
    pieces.push_back(data.substr(start, nul == std::string::npos ? nul : nul - start));
  }
  for (const std::string& p : pieces) argv.push_back(p.c_str());
  const std::string text = qv::setup::JoinArguments(static_cast<int>(argv.size()), argv.data());
  const std::vector<std::string> args = qv::setup::GetArg(text, static_cast<int>(pieces.size()));
  FUZZ_CHECK(args.size() == pieces.size() + 1);
  for (size_t i = 0; i < pieces.size(); ++i) {
    std::string expected = pieces[i];
    expected.erase(std::remove(expected.begin(), expected.end(), '"'), expected.end());
    FUZZ_CHECK(args[i + 1] == expected);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  // Every argument takes a character, so this limit is never reached.
  const std::vector<std::string> all =
      qv::setup::GetArg(line, static_cast<int>(std::min<size_t>(line.size() + 1, INT_MAX)));
  CheckSplit(line, all);
  qv::setup::ParseCommandLine(line);
  CheckJoin(line);
  return 0;
}
