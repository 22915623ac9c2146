// Registry operations on the file that stands in for the system's registry,
// in both encodings of the export format, and files that must be refused.
#include "setup/registry_file_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fakes.h"
#include "setup/reg_op.h"
#include "support/scoped_temp_dir.h"

namespace qv::setup {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

constexpr const char kProduct[] = "SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion";
const std::string kKey = std::string("[HKEY_LOCAL_MACHINE\\") + kProduct + "]\n";
const std::string kSample = "Windows Registry Editor Version 5.00\n\n; written by the installer\n" +
                            kKey +
                            "\"StorageDir\"=\"D:\\\\GroupData\"\n"
                            "\"CompanyName\"=\"Say \\\"hi\\\" \\\\ bye\"\n"
                            "@=\"default\"\n"
                            "\"Blob\"=hex:01,02,\\\n  03,04\n"
                            "\"Kanji\"=\"日本語\"\n"
                            "\n[HKEY_CURRENT_USER\\Software\\Other]\n"
                            "\"StorageDir\"=\"elsewhere\"\n";
const std::string kError = "エラーで終了";

// A file as the original platform's registry editor exports it: UTF-16LE
// after its byte-order mark.
std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}
const std::u16string kUtf16Key =
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\"
    u"CurrentVersion]\r\n";

struct Op {
  int16_t flag;
  int32_t root;
  std::string subKey, name = "", data = "";
};
Op R(const std::string& name) {
  return {kRegRead, kHkeyLocalMachine, kProduct, name};
}

class RegistryFileStoreTest : public ::testing::Test {
 protected:
  std::string path() const { return (dir_.path() / file_).string(); }

  // Runs `op` on a fresh store, as a new run would open the file.
  std::string Run(const Op& op) {
    RegistryFileStore store(path(), diagnostics_);
    return RunOn(store, op);
  }
  static std::string RunOn(RegistryStore& store, const Op& op) {
    clsRegOp reg(store);
    reg.RootKey = op.root;
    reg.SubKey = op.subKey;
    reg.ValueName = op.name;
    reg.ValueData = op.data;
    reg.Flag = op.flag;
    return reg.RegistOperation();
  }

  testing::ScopedTempDir dir_;
  std::string file_ = "registry.reg";
  std::ostringstream diagnostics_;
};

// Every case leaves the file as it was.
TEST_F(RegistryFileStoreTest, OperationsThatChangeNothing) {
  const struct {
    std::string file;
    Op op;
    std::string expected;
  } cases[] = {
      {kSample, R("StorageDir"), "D:\\GroupData"},
      {kSample, R("CompanyName"), "Say \"hi\" \\ bye"},
      {kSample, R(""), "default"},
      {kSample, R("Blob"), "hex:01,02,03,04"},
      {kSample, R("Kanji"), "日本語"},
      {kSample, R("Missing"), ""},
      {kSample,
       {kRegRead, kHkeyCurrentUser, "software\\other", "storagedir"},
       "elsewhere"},  // any case
      {kSample, {kRegRead, kHkeyLocalMachine, "SOFTWARE\\Tavolent", "x"}, kRegNoKey},
      {kSample, {kRegWrite, kHkeyLocalMachine, "SOFTWARE\\Nothing", "x", "y"}, kRegNoKey},
      {kSample, {kRegWrite, kHkeyCurrentUser, "Software\\Other", "A", "two\nlines"}, kError},
      {kSample, {kRegCreate, 0, "SOFTWARE\\X"}, kError},
      {kSample, {kRegCreate, 0, ""}, "2: Ilegal Data"},
      {kSample, {kRegDelete, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc."}, kError},
      {kSample, {kRegDelete, kHkeyLocalMachine, ""}, kError},
      {kSample, {4, 0, ""}, kRegSuccess},  // unknown operations do nothing
      {"\xEF\xBB\xBFREGEDIT4\r\n\r\n" + kKey.substr(0, kKey.size() - 1) +
           "\r\n\"MainURL\"=\"http://qv/\"\r\n",
       R("MainURL"), "http://qv/"},
      {kKey + "\"MainDir\"=\"first\"\n\"MainDir\"=-\n", R("MainDir"), ""},  // a deletion mark
      {Utf16File(kUtf16Key + u"\"CompanyName\"=\"株式会社𠮷野\"\r\n"), R("CompanyName"),
       "株式会社𠮷野"},  // a character outside the BMP, from a surrogate pair
  };
  for (const auto& c : cases) {
    WriteFileBytes(path(), c.file);
    EXPECT_EQ(Run(c.op), c.expected) << c.op.flag << " " << c.op.subKey << " " << c.op.name;
    EXPECT_EQ(ReadFileBytes(path()), c.file) << c.op.subKey << " " << c.op.name;
  }
  fs::remove(path());
  EXPECT_EQ(Run(R("StorageDir")), kRegNoKey) << "a missing file is an empty registry";
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, "SOFTWARE", "a", "b"}), kRegNoKey);
  EXPECT_EQ(Run({kRegCreate, kHkeyUsers, ""}), "2: Ilegal Data");
  EXPECT_FALSE(fs::exists(path()));
  file_ = "missing/registry.reg";  // nothing can be created, nothing is remembered
  EXPECT_EQ(Run({kRegCreate, kHkeyUsers, "New"}), kError);
  EXPECT_EQ(Run({kRegRead, kHkeyUsers, "New", "x"}), kRegNoKey);
  EXPECT_EQ(diagnostics_.str(), "");
}

TEST_F(RegistryFileStoreTest, UnusableFilesFailEveryOperationWithOneDiagnostic) {
  const std::pair<std::string, std::string> cases[] = {
      {"REGEDIT4\n\"StorageDir\"=\"x\"\n", ":2: value line outside any key"},
      {kKey + "\"StorageDir\"=\"D:\\\\Group", ":2: value without closing quote"},
      {"[HKEY_NOWHERE\\SOFTWARE]\n", ":1: unknown root key \"HKEY_NOWHERE\""},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\x]\n", ":1: empty key name in the key path"},
      {kKey + "\"Name\"=\"caf\xE9\"\n", ":2: text is not valid UTF-8"},
      {kKey + "\"Blob\"=hex:01,\\\n", ":2: value continued past the end of the file"},
      {"\x7F" + std::string("ELF\x02\x01\x01\0\0\0\0\n", 11),
       ":1: line is neither a key, a value nor a comment"},
      {std::string("\xFF\xFE[\0H\0]", 7), ":1: text is not valid UTF-16"},  // an odd byte count
      {Utf16File(u"[HKEY_USERS\\K]\r\n\"A\"=\"") + std::string("\x00\xD8", 2) +
           Utf16File(u"x\"").substr(2),
       ":2: text is not valid UTF-16"},  // a high surrogate alone
      {"[HKEY_LOCAL_MACHINE\\A]\n\"Name\"=\"" + std::string(8 * 1024 * 1024, 'x'),
       ":2: value without closing quote"},  // refused, not hung
      {"<fifo>", ": not a regular file"},
      {"<4 GiB>", ": file too large for a registry file"},  // sparse: refused before it is read
  };
  for (const auto& [content, diagnostic] : cases) {
    SCOPED_TRACE(diagnostic);
    fs::remove(path());
    if (content == "<fifo>") {
      ASSERT_EQ(::mkfifo(path().c_str(), 0600), 0);
    } else {
      WriteFileBytes(path(), content == "<4 GiB>" ? "" : content);
      if (content == "<4 GiB>") fs::resize_file(path(), 1ull << 32);
    }
    diagnostics_.str("");
    RegistryFileStore store(path(), diagnostics_);
    EXPECT_EQ(RunOn(store, R("StorageDir")), kRegUnexpectedError);
    EXPECT_EQ(RunOn(store, {kRegCreate, kHkeyUsers, "New"}), kRegUnexpectedError);
    EXPECT_EQ(diagnostics_.str(), "qvsetup: " + path() + diagnostic + "\n") << "one line";
    if (content[0] != '<') {
      EXPECT_EQ(ReadFileBytes(path()), content) << "never rewritten";
    }
  }
}

// A write puts a new file in place of the old one (through a link to it),
// with the old file's mode, encoding and line ends and every other line.
TEST_F(RegistryFileStoreTest, WritesRewriteAtomicallyKeepingEveryOtherLine) {
  EXPECT_EQ(Run({kRegCreate, kHkeyLocalMachine, kProduct}), kRegSuccess);
  EXPECT_EQ(ReadFileBytes(path()), "Windows Registry Editor Version 5.00\n\n" + kKey);
  EXPECT_EQ(Run(R("StorageDir")), "") << "the key exists, the value does not";

  const std::string real = (dir_.path() / "real.reg").string();
  WriteFileBytes(real, kSample);
  fs::remove(path());
  fs::create_symlink(real, path());
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  struct stat before {};
  ASSERT_EQ(::stat(real.c_str(), &before), 0);
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, kProduct, "storagedir", "E:\\Data \"new\""}),
            kRegSuccess);
  struct stat after {};
  ASSERT_EQ(::stat(real.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "a new file renamed into place";
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_TRUE(fs::is_symlink(path()));
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, kProduct, "MainDir", "/opt/quorvia"}), kRegSuccess);
  EXPECT_EQ(Run({kRegWrite, kHkeyCurrentUser, "Software\\Other", "", "dflt"}), kRegSuccess);
  EXPECT_EQ(Run({kRegCreate, kHkeyUsers, "New"}), kRegSuccess);
  std::string written = kSample;
  const std::string oldDir = "D:\\\\GroupData";
  written.replace(written.find(oldDir), oldDir.size(), "E:\\\\Data \\\"new\\\"");
  written.insert(written.find("\n\n[HKEY_CURRENT_USER") + 1, "\"MainDir\"=\"/opt/quorvia\"\n");
  written += "@=\"dflt\"\n\n[HKEY_USERS\\New]\n";  // a new key after the last, a blank line before
  EXPECT_EQ(ReadFileBytes(real), written);
  EXPECT_EQ(Run(R("StorageDir")), "E:\\Data \"new\"");

  // A string ends at its first null; a key with sub keys stays, a leaf goes.
  EXPECT_EQ(Run({kRegWrite, kHkeyUsers, "New", "A", std::string("ab\0cd", 5)}), kRegSuccess);
  EXPECT_EQ(Run({kRegRead, kHkeyUsers, "New", "A", ""}), "ab");
  EXPECT_EQ(Run({kRegCreate, kHkeyLocalMachine, "software\\tavolent inc."}), kRegSuccess);
  EXPECT_EQ(Run({kRegDelete, kHkeyLocalMachine, kProduct}), kRegSuccess);
  EXPECT_EQ(Run(R("StorageDir")), kRegNoKey);
  EXPECT_EQ(Run({kRegRead, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc.\\Quorvia", "x"}), "");
  EXPECT_EQ(ReadFileBytes(real).find("Kanji"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), {}), 2) << "no temporary file left";

  const std::u16string head = u"Windows Registry Editor Version 5.00\r\n\r\n" + kUtf16Key;
  const std::u16string other = u"\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n\"N\"=\"日本語\"\r\n";
  WriteFileBytes(real, Utf16File(head + other));
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, kProduct, "CompanyName", "株式会社𠮷野"}),
            kRegSuccess);
  EXPECT_EQ(ReadFileBytes(real), Utf16File(head + u"\"CompanyName\"=\"株式会社𠮷野\"\r\n" + other));
  EXPECT_EQ(Run(R("CompanyName")), "株式会社𠮷野");
}

}  // namespace
}  // namespace qv::setup
