// The run options: filled once from the command line, then only read.
#pragma once

#include <string>

namespace qv::setup {

struct SetupOptions {
  std::string UserName;          // /n
  std::string DBPassword;        // /p
  std::string InitializeWord;    // /i; the run goes on only for "Initialize"
  std::string Language;          // /l: "1" English, "2" Japanese
  std::string StationID;         // /s
  bool DebugMode = false;        // /d, /debug
  bool WithSampleData = false;   // /a
  bool BackUpDatabases = false;  // /b
};

}  // namespace qv::setup
