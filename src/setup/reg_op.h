// One registry operation (read a string value, write one, create a key,
// delete a key) described by its members and run by RegistOperation, which
// turns every outcome into a result text; and ReadSetting, the reader of the
// product's settings built on it.
#pragma once

#include <cstdint>
#include <string>

#include "setup/registry_store.h"

namespace qv::setup {

// The product key under HKEY_LOCAL_MACHINE that holds the settings.
inline constexpr const char kProductKey[] = "SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion";

// Size of the buffer a read receives, terminating NUL included.
inline constexpr size_t kRegReadBufferBytes = 250;

// Result texts of RegistOperation.
inline constexpr const char kRegSuccess[] = "0: Success";
inline constexpr const char kRegNoKey[] = "1: No Key";
inline constexpr const char kRegIllegalData[] = "2: Ilegal Data";
inline constexpr const char kRegUnexpectedError[] = "3: Unexpected Error";
inline constexpr const char kRegEndedWithError[] = "エラーで終了";

// Operation codes of Flag.
inline constexpr int16_t kRegRead = 0;
inline constexpr int16_t kRegWrite = 1;
inline constexpr int16_t kRegCreate = 2;
inline constexpr int16_t kRegDelete = 3;

// The class name and members keep the spelling every caller of the registry
// knows them by.
class clsRegOp {
 public:
  explicit clsRegOp(RegistryStore& store) : store_(store) {}

  int32_t RootKey = 0;
  std::string SubKey;
  std::string ValueName;
  std::string ValueData;  // data to write; after a read, the 250-byte buffer
  int16_t Flag = kRegRead;

  // Runs the operation named by Flag; never raises.
  //   read:   the value's text up to its first NUL; "1: No Key" for a
  //           missing key; the empty text for a missing value or a key that
  //           could not be opened for another reason. The buffer holds 249
  //           bytes of text: a longer value is cut to its first 249 bytes,
  //           backed off to the start of a UTF-8 character so that no
  //           character is split.
  //   write:  "0: Success"; "1: No Key" for a missing key.
  //   create: "0: Success"; "2: Ilegal Data" for an empty SubKey, without
  //           touching the store.
  //   delete: "0: Success".
  //   other:  "0: Success", nothing done.
  // A write, create or delete that fails otherwise gives "エラーで終了". A
  // store that raises ends the operation with "3: Unexpected Error".
  std::string RegistOperation();

 private:
  std::string Read();

  RegistryStore& store_;
};

// The setting `valueName` under the product key: whatever RegistOperation
// returned for the read ("1: No Key" when the key is missing).
std::string ReadSetting(RegistryStore& store, const std::string& valueName);

}  // namespace qv::setup
