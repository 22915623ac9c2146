// Writing a new file that must never be seen half-written: a backup copy
// of a database file or a server dump.
#pragma once

#include <functional>
#include <string>

namespace qv {

// Creates the file `path` with the contents that `fill` writes to the
// descriptor it is given. The contents go to "<path>.part" first (created
// with O_EXCL, so that nothing there, a link included, is written through),
// are flushed to disk, and take the name `path` by link(), which never
// replaces what is there; the folder is flushed too, so that the name
// survives a power cut as the contents do. A run killed midway leaves no
// torn file under the final name.
//
// `fill` returns false, or raises, to give up. Returns an empty string
// when the file is in place, else why not; either way no ".part" file is
// left, and a raise from `fill` passes through.
std::string WriteNewFile(const std::string& path, const std::function<bool(int fd)>& fill);

// Copies the regular file `from` byte for byte (and its mode) to the new
// file `to` as WriteNewFile writes, letting the kernel move the bytes
// (reflinked or copied in the kernel where the file system can), so a file
// of a gigabyte copies at disk speed. Never replaces or writes through
// anything at `to` (a file, a link). False on any failure, with nothing left.
bool CopyToNewFile(const std::string& from, const std::string& to);

}  // namespace qv
