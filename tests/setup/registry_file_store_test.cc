#include "setup/registry_file_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "fakes.h"
#include "setup/reg_op.h"
#include "support/scoped_temp_dir.h"

namespace qv::setup {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

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

class RegistryFileStoreTest : public ::testing::Test {
 protected:
  std::string path() const { return (dir_.path() / "registry.reg").string(); }

  // A fresh store, as a new run would open it.
  RegistryFileStore& Store() {
    store_ = std::make_unique<RegistryFileStore>(path(), diagnostics_);
    return *store_;
  }

  std::string Read(const std::string& name) { return ReadSetting(Store(), name); }

  std::string Run(int16_t flag, int32_t root, const std::string& subKey,
                  const std::string& name = "", const std::string& data = "") {
    clsRegOp op(Store());
    op.RootKey = root;
    op.SubKey = subKey;
    op.ValueName = name;
    op.ValueData = data;
    op.Flag = flag;
    return op.RegistOperation();
  }

  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path())) names.push_back(e.path().filename());
    return names;
  }

  testing::ScopedTempDir dir_;
  std::ostringstream diagnostics_;
  std::unique_ptr<RegistryFileStore> store_;
};

TEST_F(RegistryFileStoreTest, ReadsValuesWithEscapesAndOtherTypes) {
  WriteFileBytes(path(), kSample);
  EXPECT_EQ(Read("StorageDir"), "D:\\GroupData");
  EXPECT_EQ(Read("CompanyName"), "Say \"hi\" \\ bye");
  EXPECT_EQ(Read(""), "default");
  EXPECT_EQ(Read("Port"), "dword:00000019");
  EXPECT_EQ(Read("Blob"), "hex:01,02,03,04");
  EXPECT_EQ(Read("Kanji"), "日本語");
  EXPECT_EQ(Read("Missing"), "");
  EXPECT_EQ(diagnostics_.str(), "");
}

TEST_F(RegistryFileStoreTest, KeysAndNamesMatchWithoutRegardToCase) {
  WriteFileBytes(path(), kSample);
  EXPECT_EQ(Read("STORAGEDIR"), "D:\\GroupData");
  clsRegOp op(Store());
  op.RootKey = kHkeyLocalMachine;
  op.SubKey = "software\\TAVOLENT INC.\\quorvia\\currentversion";
  op.ValueName = "storagedir";
  EXPECT_EQ(op.RegistOperation(), "D:\\GroupData");
  // The same path under another root is another key.
  EXPECT_EQ(Run(kRegRead, kHkeyCurrentUser, "SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion",
                "StorageDir"),
            "1: No Key");
  EXPECT_EQ(Run(kRegRead, kHkeyCurrentUser, "software\\other", "storagedir"), "elsewhere");
}

TEST_F(RegistryFileStoreTest, ParentsOfAKeyExistWithoutLinesOfTheirOwn) {
  WriteFileBytes(path(), kSample);
  EXPECT_EQ(Run(kRegRead, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc.", "x"), "");
  EXPECT_EQ(Run(kRegRead, kHkeyLocalMachine, "SOFTWARE\\Tavolent", "x"), "1: No Key");
}

TEST_F(RegistryFileStoreTest, CrLfLinesByteOrderMarkAndRegedit4AreRead) {
  WriteFileBytes(path(),
                 "\xEF\xBB\xBFREGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent "
                 "Inc.\\Quorvia\\CurrentVersion]\r\n\"MainURL\"=\"http://qv/\"\r\n");
  EXPECT_EQ(Read("MainURL"), "http://qv/");
}

TEST_F(RegistryFileStoreTest, LaterDefinitionsWin) {
  WriteFileBytes(path(),
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n"
                 "\"MainDir\"=\"first\"\n"
                 "[HKEY_LOCAL_MACHINE\\software\\tavolent inc.\\quorvia\\currentversion]\n"
                 "\"maindir\"=\"second\"\n");
  EXPECT_EQ(Read("MainDir"), "second");
}

TEST_F(RegistryFileStoreTest, MissingFileIsAnEmptyRegistry) {
  EXPECT_EQ(Read("StorageDir"), "1: No Key");
  EXPECT_EQ(Run(kRegWrite, kHkeyLocalMachine, "SOFTWARE", "a", "b"), "1: No Key");
  EXPECT_EQ(diagnostics_.str(), "");
  EXPECT_FALSE(fs::exists(path()));
}

struct BrokenFile {
  std::string content;
  std::string expectedDiagnostic;  // after "qvsetup: <path>"
};

TEST_F(RegistryFileStoreTest, UnparseableFilesFailEveryOperationWithOneDiagnostic) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n";
  const std::vector<BrokenFile> cases = {
      {"REGEDIT4\n\"StorageDir\"=\"x\"\n", ":2: value line outside any key"},
      {key + "\"StorageDir\"=\"D:\\\\Group", ":2: value without closing quote"},
      {key + "\"StorageDir=\"x\"\n", ":2: missing '=' after the value name"},
      {key + "\"StorageDir\"=\"x\" y\n", ":2: unexpected text after the value"},
      {"[HKEY_NOWHERE\\SOFTWARE]\n", ":1: unknown root key \"HKEY_NOWHERE\""},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\n", ":1: key line without closing bracket"},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\x]\n", ":1: empty key name in the key path"},
      {key + "\"Name\"=\"caf\xE9\"\n", ":2: text is not valid UTF-8"},
      {key + "\"Blob\"=hex:01,\\\n", ":2: value continued past the end of the file"},
      {std::string("\x7F" "ELF\x02\x01\x01\0\0\0\0", 11) + "\n", ":1: line is neither a key, a value nor a comment"},
      {std::string("\0\0\0\0", 4), ":1: line is neither a key, a value nor a comment"},
      {"\xFF\xFE[\0H\0", ":1: text is not valid UTF-8"},
  };
  for (const BrokenFile& c : cases) {
    WriteFileBytes(path(), c.content);
    diagnostics_.str("");
    RegistryFileStore& store = Store();
    EXPECT_EQ(ReadSetting(store, "StorageDir"), "3: Unexpected Error");
    EXPECT_EQ(ReadSetting(store, "MainDir"), "3: Unexpected Error");
    clsRegOp op(store);
    op.RootKey = kHkeyLocalMachine;
    op.SubKey = "SOFTWARE\\New";
    for (int16_t flag : {kRegWrite, kRegCreate, kRegDelete}) {
      op.Flag = flag;
      EXPECT_EQ(op.RegistOperation(), "3: Unexpected Error");
    }
    EXPECT_EQ(diagnostics_.str(), "qvsetup: " + path() + c.expectedDiagnostic + "\n");
    EXPECT_EQ(ReadFileBytes(path()), c.content) << "an unusable file is never rewritten";
  }
}

TEST_F(RegistryFileStoreTest, FilesThatCannotBeReadFailWithOneDiagnostic) {
  fs::create_directory(path());
  EXPECT_EQ(Read("StorageDir"), "3: Unexpected Error");
  EXPECT_EQ(diagnostics_.str(), "qvsetup: " + path() + ": not a regular file\n");
  fs::remove(path());

  // A FIFO never blocks the run.
  ASSERT_EQ(::mkfifo(path().c_str(), 0600), 0);
  diagnostics_.str("");
  EXPECT_EQ(Read("StorageDir"), "3: Unexpected Error");
  EXPECT_EQ(diagnostics_.str(), "qvsetup: " + path() + ": not a regular file\n");
  fs::remove(path());

  // A huge (sparse) file is refused before it is read.
  WriteFileBytes(path(), "");
  fs::resize_file(path(), 1ull << 32);
  diagnostics_.str("");
  EXPECT_EQ(Read("StorageDir"), "3: Unexpected Error");
  EXPECT_EQ(diagnostics_.str(), "qvsetup: " + path() + ": file too large for a registry file\n");
}

TEST_F(RegistryFileStoreTest, ALongLineWithoutClosingQuoteIsRefusedNotHung) {
  std::string content = "[HKEY_LOCAL_MACHINE\\A]\n\"Name\"=\"";
  content.append(8 * 1024 * 1024, 'x');
  WriteFileBytes(path(), content);
  EXPECT_EQ(Run(kRegRead, kHkeyLocalMachine, "A", "Name"), "3: Unexpected Error");
  EXPECT_EQ(diagnostics_.str(), "qvsetup: " + path() + ":2: value without closing quote\n");
}

TEST_F(RegistryFileStoreTest, WritesKeepEveryOtherLineAsItWas) {
  WriteFileBytes(path(), kSample);
  const std::string key = "SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion";
  EXPECT_EQ(Run(kRegWrite, kHkeyLocalMachine, key, "storagedir", "E:\\Data \"new\""), "0: Success");
  EXPECT_EQ(Run(kRegWrite, kHkeyLocalMachine, key, "MainDir", "/opt/quorvia"), "0: Success");
  EXPECT_EQ(Run(kRegWrite, kHkeyCurrentUser, "Software\\Other", "", "dflt"), "0: Success");
  EXPECT_EQ(ReadFileBytes(path()),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "; written by the installer\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n"
            "\"StorageDir\"=\"E:\\\\Data \\\"new\\\"\"\n"
            "\"CompanyName\"=\"Say \\\"hi\\\" \\\\ bye\"\n"
            "@=\"default\"\n"
            "\"Port\"=dword:00000019\n"
            "\"Blob\"=hex:01,02,\\\n"
            "  03,04\n"
            "\"Kanji\"=\"日本語\"\n"
            "\"MainDir\"=\"/opt/quorvia\"\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Other]\n"
            "\"StorageDir\"=\"elsewhere\"\n"
            "@=\"dflt\"\n");
  // A new run reads what was written.
  EXPECT_EQ(Read("StorageDir"), "E:\\Data \"new\"");
  EXPECT_EQ(Read("MainDir"), "/opt/quorvia");
  EXPECT_EQ(Read("CompanyName"), "Say \"hi\" \\ bye");
}

TEST_F(RegistryFileStoreTest, CrLfFilesStayCrLf) {
  WriteFileBytes(path(), "REGEDIT4\r\n\r\n[HKEY_USERS\\K]\r\n\"A\"=\"1\"\r\n");
  EXPECT_EQ(Run(kRegWrite, kHkeyUsers, "K", "B", "2"), "0: Success");
  EXPECT_EQ(ReadFileBytes(path()), "REGEDIT4\r\n\r\n[HKEY_USERS\\K]\r\n\"A\"=\"1\"\r\n\"B\"=\"2\"\r\n");
}

TEST_F(RegistryFileStoreTest, CreateKeyAppendsAKeyLineOnlyWhenTheKeyIsNew) {
  EXPECT_EQ(Run(kRegCreate, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion"),
            "0: Success");
  EXPECT_EQ(ReadFileBytes(path()),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion]\n");
  EXPECT_EQ(Read("StorageDir"), "");  // the key now exists, the value does not

  struct stat before {};
  ASSERT_EQ(::stat(path().c_str(), &before), 0);
  EXPECT_EQ(Run(kRegCreate, kHkeyLocalMachine, "software\\tavolent inc."), "0: Success");
  struct stat after {};
  ASSERT_EQ(::stat(path().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino) << "an existing key does not rewrite the file";

  EXPECT_EQ(Run(kRegWrite, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion",
                "StorageDir", "/srv/qv"),
            "0: Success");
  EXPECT_EQ(Read("StorageDir"), "/srv/qv");
}

TEST_F(RegistryFileStoreTest, DeleteKeyRemovesALeafAndKeepsItsParent) {
  WriteFileBytes(path(), kSample);
  const std::string key = "SOFTWARE\\Tavolent Inc.\\Quorvia\\CurrentVersion";
  EXPECT_EQ(Run(kRegDelete, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc."), "エラーで終了")
      << "a key with sub keys stays";
  EXPECT_EQ(Run(kRegDelete, kHkeyLocalMachine, "SOFTWARE\\Nothing"), "エラーで終了");
  EXPECT_EQ(Run(kRegDelete, kHkeyLocalMachine, ""), "エラーで終了");
  EXPECT_EQ(Run(kRegDelete, kHkeyLocalMachine, key), "0: Success");
  EXPECT_EQ(Read("StorageDir"), "1: No Key");
  EXPECT_EQ(Run(kRegRead, kHkeyLocalMachine, "SOFTWARE\\Tavolent Inc.\\Quorvia", "x"), "");
  EXPECT_EQ(Run(kRegRead, kHkeyCurrentUser, "Software\\Other", "StorageDir"), "elsewhere");
  const std::string text = ReadFileBytes(path());
  EXPECT_EQ(text.find("Kanji"), std::string::npos);
  EXPECT_NE(text.find("; written by the installer\n"), std::string::npos);
}

TEST_F(RegistryFileStoreTest, RewriteReplacesTheFileAtomicallyAndKeepsItsMode) {
  WriteFileBytes(path(), kSample);
  ASSERT_EQ(::chmod(path().c_str(), 0640), 0);
  struct stat before {};
  ASSERT_EQ(::stat(path().c_str(), &before), 0);
  EXPECT_EQ(Run(kRegWrite, kHkeyUsers, "", "Top", "v"), "0: Success");
  struct stat after {};
  ASSERT_EQ(::stat(path().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "a new file renamed into place";
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"registry.reg"}) << "no temporary file left";
  EXPECT_EQ(Run(kRegRead, kHkeyUsers, "", "top"), "v");
}

TEST_F(RegistryFileStoreTest, RewriteGoesThroughASymbolicLink) {
  const std::string real = (dir_.path() / "real.reg").string();
  WriteFileBytes(real, kSample);
  fs::create_symlink(real, path());
  EXPECT_EQ(Run(kRegWrite, kHkeyCurrentUser, "Software\\Other", "X", "y"), "0: Success");
  EXPECT_TRUE(fs::is_symlink(path()));
  EXPECT_NE(ReadFileBytes(real).find("\"X\"=\"y\""), std::string::npos);
}

TEST_F(RegistryFileStoreTest, AWriteThatCannotBeMadeChangesNothing) {
  // The folder of the file is missing: the file cannot be created.
  const std::string nowhere = (dir_.path() / "missing" / "registry.reg").string();
  RegistryFileStore store(nowhere, diagnostics_);
  clsRegOp op(store);
  op.RootKey = kHkeyLocalMachine;
  op.SubKey = "SOFTWARE\\New";
  op.Flag = kRegCreate;
  EXPECT_EQ(op.RegistOperation(), "エラーで終了");
  op.Flag = kRegRead;
  EXPECT_EQ(op.RegistOperation(), "1: No Key") << "the failed creation is not remembered";
  EXPECT_EQ(diagnostics_.str(), "");
}

TEST_F(RegistryFileStoreTest, ValuesThatALineCannotCarryAreRefused) {
  WriteFileBytes(path(), kSample);
  const std::string before = ReadFileBytes(path());
  EXPECT_EQ(Run(kRegWrite, kHkeyCurrentUser, "Software\\Other", "A", "two\nlines"), "エラーで終了");
  EXPECT_EQ(Run(kRegWrite, kHkeyCurrentUser, "Software\\Other", "A\rB", "x"), "エラーで終了");
  EXPECT_EQ(ReadFileBytes(path()), before);
  // A string value ends at its first NUL.
  EXPECT_EQ(Run(kRegWrite, kHkeyCurrentUser, "Software\\Other", "A", std::string("ab\0cd", 5)),
            "0: Success");
  EXPECT_EQ(Run(kRegRead, kHkeyCurrentUser, "Software\\Other", "A"), "ab");
}

TEST_F(RegistryFileStoreTest, UnknownRootHandlesFailAsOtherErrors) {
  WriteFileBytes(path(), kSample);
  EXPECT_EQ(Run(kRegRead, 0, "SOFTWARE", "x"), "");
  EXPECT_EQ(Run(kRegWrite, 0x12345, "SOFTWARE", "x", "y"), "エラーで終了");
  EXPECT_EQ(Run(kRegCreate, 0, "SOFTWARE\\X"), "エラーで終了");
}

TEST(RegistryFilePathTest, EnvironmentNamesTheFile) {
  const char* old = std::getenv("QV_REGISTRY_FILE");
  const std::string saved = old ? old : "";
  ::setenv("QV_REGISTRY_FILE", "/tmp/some.reg", 1);
  EXPECT_EQ(RegistryFilePath(), "/tmp/some.reg");
  ::setenv("QV_REGISTRY_FILE", "", 1);
  EXPECT_EQ(RegistryFilePath(), "/etc/quorvia/registry.reg");
  ::unsetenv("QV_REGISTRY_FILE");
  EXPECT_EQ(RegistryFilePath(), "/etc/quorvia/registry.reg");
  if (old) ::setenv("QV_REGISTRY_FILE", saved.c_str(), 1);
}

}  // namespace
}  // namespace qv::setup
