// The file operations of the backup: create a directory, copy a file.
#pragma once

#include <string>

namespace qv::setup {

class FileOps {
 public:
  virtual ~FileOps() = default;
  // Creates one directory; its parent must exist. False when it could not be
  // created, including when something of that name exists already.
  virtual bool CreateDirectory(const std::string& path) = 0;
  // Copies the file `from` byte for byte to the new file `to`. Never replaces
  // or writes through anything that exists at `to` (a file, a link). False on
  // any failure, leaving no partial copy behind.
  virtual bool CopyFile(const std::string& from, const std::string& to) = 0;
};

// The real file system. Copies let the kernel move the bytes (reflinked or
// copied in the kernel where the file system can), so a database of a
// gigabyte copies at disk speed; the copy is flushed to disk before it counts.
class PosixFileOps : public FileOps {
 public:
  bool CreateDirectory(const std::string& path) override;
  bool CopyFile(const std::string& from, const std::string& to) override;
};

}  // namespace qv::setup
