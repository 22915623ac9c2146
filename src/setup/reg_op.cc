#include "setup/reg_op.h"

namespace qv::setup {

namespace {

// `value` as the read buffer receives it: at most kRegReadBufferBytes - 1
// bytes (one is kept for the terminating NUL), never ending inside a UTF-8
// character.
std::string FitBuffer(const std::string& value) {
  size_t n = value.size();
  if (n < kRegReadBufferBytes) return value;
  n = kRegReadBufferBytes - 1;
  while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) --n;
  return value.substr(0, n);
}

}  // namespace

std::string clsRegOp::Read() {
  ValueData.assign(kRegReadBufferBytes, '\0');
  RegKey key;
  const RegStatus open = store_.OpenKey(RootKey, SubKey, RegAccess::kQueryValue, &key);
  if (open == RegStatus::kNotFound) return kRegNoKey;
  if (open == RegStatus::kSuccess) {
    std::string value;
    if (store_.QueryValue(key, ValueName, &value) == RegStatus::kSuccess) {
      const std::string fitted = FitBuffer(value);
      ValueData.replace(0, fitted.size(), fitted);
    }
  }
  return ValueData.substr(0, ValueData.find('\0'));
}

std::string clsRegOp::RegistOperation() {
  std::string result = kRegEndedWithError;
  try {
    switch (Flag) {
      case kRegRead:
        result = Read();
        break;
      case kRegWrite: {
        RegKey key;
        const RegStatus open = store_.OpenKey(RootKey, SubKey, RegAccess::kSetValue, &key);
        if (open == RegStatus::kNotFound) {
          result = kRegNoKey;
        } else if (open == RegStatus::kSuccess &&
                   store_.SetValue(key, ValueName, ValueData) == RegStatus::kSuccess) {
          result = kRegSuccess;
        }
        break;
      }
      case kRegCreate:
        if (SubKey.empty()) {
          result = kRegIllegalData;
        } else if (store_.CreateKey(RootKey, SubKey) == RegStatus::kSuccess) {
          result = kRegSuccess;
        }
        break;
      case kRegDelete:
        if (store_.DeleteKey(RootKey, SubKey) == RegStatus::kSuccess) result = kRegSuccess;
        break;
      default:
        result = kRegSuccess;
        break;
    }
  } catch (...) {
    // The operation ends here; it is not resumed after the failed call.
    result = kRegUnexpectedError;
  }
  return result;
}

std::string ReadSetting(RegistryStore& store, const std::string& valueName) {
  clsRegOp op(store);
  op.RootKey = kHkeyLocalMachine;
  op.SubKey = kProductKey;
  op.ValueName = valueName;
  op.ValueData.assign(kRegReadBufferBytes, '\0');
  op.Flag = kRegRead;
  return op.RegistOperation();
}

}  // namespace qv::setup
