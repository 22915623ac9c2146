#include "setup/registry_file_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
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

constexpr const char kKey[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n";
constexpr const char kProduct[] = "SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion";
constexpr const char kSample[] =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "; written by the installer\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n"
    "\"StorageDir\"=\"D:\\\\GroupData\"\n"
    "\"CompanyName\"=\"Say \\\"hi\\\" \\\\ bye\"\n"
    "@=\"default\"\n"
    "\"Port\"=dword:00000019\n"
    "\"Blob\"=hex:01,02,\\\n"
    "  03,04\n"
    "\"Kanji\"=\"日本語\"\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\n"
    "\"StorageDir\"=\"elsewhere\"\n";

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
constexpr std::u16string_view kUtf16Key =
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\r\n";

// One registry operation as the setup steps make it.
struct Op {
  Op(int16_t f, int32_t r, std::string k, std::string n = "", std::string d = "")
      : flag(f), root(r), subKey(std::move(k)), name(std::move(n)), data(std::move(d)) {}
  int16_t flag;
  int32_t root;
  std::string subKey;
  std::string name;
  std::string data;
};

class RegistryFileStoreTest : public ::testing::Test {
 protected:
  std::string path() const { return (dir_.path() / "registry.reg").string(); }

  // Runs `op` on a fresh store, as a new run would open the file.
  std::string Run(const Op& op) {
    store_ = std::make_unique<RegistryFileStore>(path(), diagnostics_);
    clsRegOp reg(*store_);
    reg.RootKey = op.root;
    reg.SubKey = op.subKey;
    reg.ValueName = op.name;
    reg.ValueData = op.data;
    reg.Flag = op.flag;
    return reg.RegistOperation();
  }
  std::string Read(const std::string& name) {
    return Run({kRegRead, kHkeyLocalMachine, kProduct, name});
  }
  std::string Diagnostic(const std::string& rest) const {
    return "qvsetup: " + path() + rest + "\n";
  }

  testing::ScopedTempDir dir_;
  std::ostringstream diagnostics_;
  std::unique_ptr<RegistryFileStore> store_;
};

TEST_F(RegistryFileStoreTest, ReadsAsTheTableSays) {
  const std::string key = kKey;
  struct Case {
    std::string file;
    Op op;
    std::string expected;
  };
  const Case cases[] = {
      {kSample, {kRegRead, kHkeyLocalMachine, kProduct, "StorageDir"}, "D:\\GroupData"},
      {kSample, {kRegRead, kHkeyLocalMachine, kProduct, "CompanyName"}, "Say \"hi\" \\ bye"},
      {kSample, {kRegRead, kHkeyLocalMachine, kProduct, ""}, "default"},
      {kSample, {kRegRead, kHkeyLocalMachine, kProduct, "Port"}, "dword:00000019"},
      {kSample, {kRegRead, kHkeyLocalMachine, kProduct, "Blob"}, "hex:01,02,03,04"},
      {kSample, {kRegRead, kHkeyLocalMachine, kProduct, "Kanji"}, "日本語"},
      {kSample, {kRegRead, kHkeyLocalMachine, kProduct, "Missing"}, ""},
      {kSample,
       {kRegRead, kHkeyLocalMachine, "software\\TAVOLENT INC.\\quorvia\\currentversion",
        "storagedir"},
       "D:\\GroupData"},
      {kSample, {kRegRead, kHkeyCurrentUser, kProduct, "StorageDir"}, "1: No Key"},  // another root
      {kSample, {kRegRead, kHkeyCurrentUser, "software\\other", "storagedir"}, "elsewhere"},
      {kSample,
       {kRegRead, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc.", "x"},
       ""},  // a parent exists
      {kSample, {kRegRead, kHkeyLocalMachine, "SOFTWARE\\Tavolent", "x"}, "1: No Key"},
      {kSample, {kRegRead, 0, "SOFTWARE", "x"}, ""},  // an unknown root fails as other errors
      {kSample, {kRegWrite, 0x12345, "SOFTWARE", "x", "y"}, "エラーで終了"},
      {kSample, {kRegCreate, 0, "SOFTWARE\\X"}, "エラーで終了"},
      {"\xEF\xBB\xBFREGEDIT4\r\n\r\n" + key.substr(0, key.size() - 1) +
           "\r\n\"MainURL\"=\"http://qv/\"\r\n",
       {kRegRead, kHkeyLocalMachine, kProduct, "MainURL"},
       "http://qv/"},
      {key +
           "\"MainDir\"=\"first\"\n[HKEY_LOCAL_MACHINE\\software\\tavolent inc.\\quorvia\\currentversion]\n"
           "\"maindir\"=\"second\"\n",
       {kRegRead, kHkeyLocalMachine, kProduct, "MainDir"},
       "second"},  // later definitions win
      {key + "\"MainDir\"=\"first\"\n\"MainDir\"=-\n",
       {kRegRead, kHkeyLocalMachine, kProduct, "MainDir"},
       ""},  // the export format's deletion mark: absent
      {key + "\"MainDir\"=\"-\"\n", {kRegRead, kHkeyLocalMachine, kProduct, "MainDir"}, "-"},
      {key + "\"MainDir\"=-\n",
       {kRegRead, kHkeyLocalMachine, "SOFTWARE\\Nothing", "MainDir"},
       "1: No Key"},
      {Utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n" + std::u16string(kUtf16Key) +
                 u"\"StorageDir\"=\"D:\\\\GroupData\"\r\n"),
       {kRegRead, kHkeyLocalMachine, kProduct, "StorageDir"},
       "D:\\GroupData"},
      {Utf16File(std::u16string(kUtf16Key) + u"\"CompanyName\"=\"株式会社𠮷野\"\r\n"),
       {kRegRead, kHkeyLocalMachine, kProduct, "CompanyName"},
       "株式会社𠮷野"},  // a character outside the BMP, from a surrogate pair
      {Utf16File(std::u16string(kUtf16Key) + u"\"Long\"=\"" + std::u16string(84, u'あ') +
                 u"\"\r\n"),
       {kRegRead, kHkeyLocalMachine, kProduct, "Long"},
       [] {
         std::string cut;
         for (int i = 0; i < 83; ++i) cut += "あ";
         return cut;
       }()},  // the read buffer counts UTF-8 bytes: 83 characters of 3
      {Utf16File(std::u16string(kUtf16Key) + u"\"Old\"=-\r\n"),
       {kRegRead, kHkeyLocalMachine, kProduct, "Old"},
       ""},
  };
  for (const Case& c : cases) {
    WriteFileBytes(path(), c.file);
    EXPECT_EQ(Run(c.op), c.expected) << c.op.subKey << " " << c.op.name;
    EXPECT_EQ(ReadFileBytes(path()), c.file) << "a failed write changes nothing";
  }
  EXPECT_EQ(diagnostics_.str(), "");

  fs::remove(path());
  EXPECT_EQ(Read("StorageDir"), "1: No Key") << "a missing file is an empty registry";
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, "SOFTWARE", "a", "b"}), "1: No Key");
  EXPECT_FALSE(fs::exists(path()));
  EXPECT_EQ(diagnostics_.str(), "");
}

TEST_F(RegistryFileStoreTest, UnusableFilesFailEveryOperationWithOneDiagnostic) {
  const std::string key = kKey;
  const std::pair<std::string, std::string> cases[] = {
      {"REGEDIT4\n\"StorageDir\"=\"x\"\n", ":2: value line outside any key"},
      {key + "\"StorageDir\"=\"D:\\\\Group", ":2: value without closing quote"},
      {key + "\"StorageDir=\"x\"\n", ":2: missing '=' after the value name"},
      {key + "\"StorageDir\"=\"x\" y\n", ":2: unexpected text after the value"},
      {"[HKEY_NOWHERE\\SOFTWARE]\n", ":1: unknown root key \"HKEY_NOWHERE\""},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\n", ":1: key line without closing bracket"},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\x]\n", ":1: empty key name in the key path"},
      {key + "\"Name\"=\"caf\xE9\"\n", ":2: text is not valid UTF-8"},
      {key + "\"Blob\"=hex:01,\\\n", ":2: value continued past the end of the file"},
      {std::string("\x7F"
                   "ELF\x02\x01\x01\0\0\0\0",
                   11) +
           "\n",
       ":1: line is neither a key, a value nor a comment"},
      {std::string("\0\0\0\0", 4), ":1: line is neither a key, a value nor a comment"},
      {std::string("\xFF\xFE[\0H\0]", 7), ":1: text is not valid UTF-16"},  // an odd byte count
      {Utf16File(u"[HKEY_USERS\\K]\r\n\"A\"=\"") + std::string("\x00\xD8", 2) +
           Utf16File(u"x\"").substr(2),
       ":2: text is not valid UTF-16"},  // a high surrogate alone
      {Utf16File(u"[HKEY_USERS\\K]\r\n") + std::string("\x00\xDC", 2),
       ":2: text is not valid UTF-16"},
      {"[HKEY_LOCAL_MACHINE\\A]\n\"Name\"=\"" + std::string(8 * 1024 * 1024, 'x'),
       ":2: value without closing quote"},  // refused, not hung
  };
  for (const auto& [content, diagnostic] : cases) {
    SCOPED_TRACE(diagnostic);
    WriteFileBytes(path(), content);
    diagnostics_.str("");
    RegistryFileStore store(path(), diagnostics_);
    EXPECT_EQ(ReadSetting(store, "StorageDir"), "3: Unexpected Error");
    EXPECT_EQ(ReadSetting(store, "MainDir"), "3: Unexpected Error");
    clsRegOp op(store);
    op.RootKey = kHkeyLocalMachine;
    op.SubKey = "SOFTWARE\\New";
    for (int16_t flag : {kRegWrite, kRegCreate, kRegDelete}) {
      op.Flag = flag;
      EXPECT_EQ(op.RegistOperation(), "3: Unexpected Error");
    }
    EXPECT_EQ(diagnostics_.str(), Diagnostic(diagnostic)) << "one line for the whole store";
    EXPECT_EQ(ReadFileBytes(path()), content) << "an unusable file is never rewritten";
  }
}

TEST_F(RegistryFileStoreTest, FilesThatCannotBeReadFailWithOneDiagnostic) {
  const std::pair<void (*)(const std::string&), const char*> cases[] = {
      {[](const std::string& p) { fs::create_directory(p); }, ": not a regular file"},
      {[](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
       ": not a regular file"},
      {[](const std::string& p) {
         WriteFileBytes(p, "");
         fs::resize_file(p, 1ull << 32);  // sparse: refused before it is read
       },
       ": file too large for a registry file"},
  };
  for (const auto& [prepare, diagnostic] : cases) {
    fs::remove(path());
    prepare(path());
    diagnostics_.str("");
    EXPECT_EQ(Read("StorageDir"), "3: Unexpected Error");
    EXPECT_EQ(diagnostics_.str(), Diagnostic(diagnostic));
  }
}

TEST_F(RegistryFileStoreTest, WritesRewriteAtomicallyKeepingEveryOtherLine) {
  WriteFileBytes(path(), kSample);
  ASSERT_EQ(::chmod(path().c_str(), 0640), 0);
  struct stat before {};
  ASSERT_EQ(::stat(path().c_str(), &before), 0);
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, kProduct, "storagedir", "E:\\Data \"new\""}),
            "0: Success");
  struct stat after {};
  ASSERT_EQ(::stat(path().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "a new file renamed into place";
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, kProduct, "MainDir", "/opt/quorvia"}), "0: Success");
  EXPECT_EQ(Run({kRegWrite, kHkeyCurrentUser, "Software\\Other", "", "dflt"}), "0: Success");
  std::string written = kSample;
  const std::string oldDir = "D:\\\\GroupData";
  written.replace(written.find(oldDir), oldDir.size(), "E:\\\\Data \\\"new\\\"");
  written.insert(written.find("\n\n[HKEY_CURRENT_USER") + 1, "\"MainDir\"=\"/opt/quorvia\"\n");
  written += "@=\"dflt\"\n";
  EXPECT_EQ(ReadFileBytes(path()), written);
  EXPECT_EQ(Read("StorageDir"), "E:\\Data \"new\"");
  EXPECT_EQ(Read("CompanyName"), "Say \"hi\" \\ bye");
  // A new key goes after the last one, set off by a blank line.
  EXPECT_EQ(Run({kRegWrite, kHkeyUsers, "", "Top", "v"}), "0: Success");
  written += "\n[HKEY_USERS]\n\"Top\"=\"v\"\n";
  EXPECT_EQ(ReadFileBytes(path()), written);

  std::vector<std::string> entries;
  for (const auto& e : fs::directory_iterator(dir_.path())) entries.push_back(e.path().filename());
  EXPECT_EQ(entries, std::vector<std::string>{"registry.reg"}) << "no temporary file left";

  // Values a line cannot carry are refused; a string ends at its first NUL.
  EXPECT_EQ(Run({kRegWrite, kHkeyCurrentUser, "Software\\Other", "A", "two\nlines"}),
            "エラーで終了");
  EXPECT_EQ(Run({kRegWrite, kHkeyCurrentUser, "Software\\Other", "A\rB", "x"}), "エラーで終了");
  EXPECT_EQ(ReadFileBytes(path()), written);
  EXPECT_EQ(Run({kRegWrite, kHkeyCurrentUser, "Software\\Other", "A", std::string("ab\0cd", 5)}),
            "0: Success");
  EXPECT_EQ(Run({kRegRead, kHkeyCurrentUser, "Software\\Other", "A"}), "ab");
}

TEST_F(RegistryFileStoreTest, CrLfFilesStayCrLfAndLinksAreWrittenThrough) {
  const std::string real = (dir_.path() / "real.reg").string();
  WriteFileBytes(real, "REGEDIT4\r\n\r\n[HKEY_USERS\\K]\r\n\"A\"=\"1\"\r\n");
  fs::create_symlink(real, path());
  EXPECT_EQ(Run({kRegWrite, kHkeyUsers, "K", "B", "2"}), "0: Success");
  EXPECT_TRUE(fs::is_symlink(path()));
  EXPECT_EQ(ReadFileBytes(real),
            "REGEDIT4\r\n\r\n[HKEY_USERS\\K]\r\n\"A\"=\"1\"\r\n\"B\"=\"2\"\r\n");
}

TEST_F(RegistryFileStoreTest, Utf16FilesStayUtf16WithTheirMarkAndLineEnds) {
  const std::u16string other =
      u"\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n\"Name\"=\"日本語\"\r\n";
  const std::u16string header = u"Windows Registry Editor Version 5.00\r\n\r\n";
  std::u16string product = std::u16string(kUtf16Key) + u"\"StorageDir\"=\"D:\\\\Data\"\r\n";
  WriteFileBytes(path(), Utf16File(header + product + other));
  EXPECT_EQ(Run({kRegWrite, kHkeyLocalMachine, kProduct, "CompanyName", "株式会社𠮷野"}),
            "0: Success");
  product += u"\"CompanyName\"=\"株式会社𠮷野\"\r\n";
  EXPECT_EQ(ReadFileBytes(path()), Utf16File(header + product + other));
  EXPECT_EQ(Read("CompanyName"), "株式会社𠮷野");

  EXPECT_EQ(Run({kRegCreate, kHkeyUsers, "New"}), "0: Success");
  EXPECT_EQ(ReadFileBytes(path()),
            Utf16File(header + product + other + u"\r\n[HKEY_USERS\\New]\r\n"));
  EXPECT_EQ(Run({kRegDelete, kHkeyUsers, "New"}), "0: Success");
  EXPECT_EQ(ReadFileBytes(path()), Utf16File(header + product + other + u"\r\n"));
  EXPECT_EQ(Run({kRegRead, kHkeyCurrentUser, "Software\\Other", "Name"}), "日本語");
  EXPECT_EQ(diagnostics_.str(), "");
}

TEST_F(RegistryFileStoreTest, StrayCarriageReturnsBelongToTheLineBreak) {
  // Every CR before a line feed is part of the break, in a file with LF line
  // ends too: a value must read the same before and after a rewrite.
  WriteFileBytes(path(), "[HKEY_USERS\\K]\n\"v\"=dword:1\r\r\n; note\r\r\n");
  EXPECT_EQ(Run({kRegRead, kHkeyUsers, "K", "v"}), "dword:1");
  EXPECT_EQ(Run({kRegWrite, kHkeyUsers, "K", "w", "2"}), "0: Success");
  EXPECT_EQ(Run({kRegRead, kHkeyUsers, "K", "v"}), "dword:1");
}

TEST_F(RegistryFileStoreTest, CreateAndDeleteKeys) {
  EXPECT_EQ(Run({kRegCreate, kHkeyLocalMachine, kProduct}), "0: Success");
  EXPECT_EQ(ReadFileBytes(path()), std::string("Windows Registry Editor Version 5.00\n\n") + kKey);
  EXPECT_EQ(Read("StorageDir"), "") << "the key exists, the value does not";
  struct stat before {
  }, after{};
  ASSERT_EQ(::stat(path().c_str(), &before), 0);
  EXPECT_EQ(Run({kRegCreate, kHkeyLocalMachine, "software\\tavolent inc."}), "0: Success");
  ASSERT_EQ(::stat(path().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino) << "an existing key does not rewrite the file";

  WriteFileBytes(path(), kSample);
  EXPECT_EQ(Run({kRegDelete, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc."}), "エラーで終了")
      << "a key with sub keys stays";
  EXPECT_EQ(Run({kRegDelete, kHkeyLocalMachine, "SOFTWARE\\Nothing"}), "エラーで終了");
  EXPECT_EQ(Run({kRegDelete, kHkeyLocalMachine, ""}), "エラーで終了");
  EXPECT_EQ(Run({kRegDelete, kHkeyLocalMachine, kProduct}), "0: Success");
  EXPECT_EQ(Read("StorageDir"), "1: No Key");
  EXPECT_EQ(Run({kRegRead, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc.\\Quorvia", "x"}), "");
  EXPECT_EQ(Run({kRegRead, kHkeyCurrentUser, "Software\\Other", "StorageDir"}), "elsewhere");
  const std::string text = ReadFileBytes(path());
  EXPECT_EQ(text.find("Kanji"), std::string::npos);
  EXPECT_NE(text.find("; written by the installer\n"), std::string::npos);

  // The folder of the file is missing: nothing can be created, nothing is remembered.
  RegistryFileStore nowhere((dir_.path() / "missing" / "registry.reg").string(), diagnostics_);
  clsRegOp op(nowhere);
  op.RootKey = kHkeyLocalMachine;
  op.SubKey = "SOFTWARE\\New";
  op.Flag = kRegCreate;
  EXPECT_EQ(op.RegistOperation(), "エラーで終了");
  op.Flag = kRegRead;
  EXPECT_EQ(op.RegistOperation(), "1: No Key");
  EXPECT_EQ(diagnostics_.str(), "");
}

TEST(RegistryFilePathTest, EnvironmentNamesTheFile) {
  const char* old = std::getenv("QV_REGISTRY_FILE");
  const std::string saved = old ? old : "";
  ::setenv("QV_REGISTRY_FILE", "/tmp/some.reg", 1);
  EXPECT_EQ(RegistryFilePath(), "/tmp/some.reg");
  ::setenv("QV_REGISTRY_FILE", "", 1);
  EXPECT_EQ(RegistryFilePath(), "/etc/quorvia/registry.reg");
  if (old)
    ::setenv("QV_REGISTRY_FILE", saved.c_str(), 1);
  else
    ::unsetenv("QV_REGISTRY_FILE");
}

}  // namespace
}  // namespace qv::setup
