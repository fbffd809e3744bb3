// Paths of files and folders as the 8-bit text they are given in: on Windows
// the system's ANSI code page, which every file call of ours reads (the "A"
// calls and the C library's), elsewhere plain bytes. Nothing here turns a
// path into another encoding and back, so a folder named with any letter of
// that code page (C:\Users\José) is found again under the same name.
#pragma once

#include <string>

namespace platform {

// `path` taken from the folder that holds the file `file` when it is
// relative, made absolute against the current folder and lexically normal:
// "." and ".." steps resolved as text (no link is followed), repeated
// separators merged, a trailing one kept; on Windows every '/' becomes '\'
// and a path rooted without a drive ("\data") is taken on the drive of
// `file`. A `file` without a folder part is in the current folder. An empty
// `path` stays empty; when the current folder is unknown, the result stays
// relative. Any thread.
std::string pathBesideFile(const std::string& file, const std::string& path);

// 0 when `path` is a folder whose entries can be listed; otherwise an errno
// value: ENOENT when nothing is there, ENOTDIR for something else than a
// folder, EACCES, ... Any thread.
int folderReadError(const std::string& path);

// 0 when a file can be created in the folder `path`; otherwise an errno
// value (ENOENT, ENOTDIR, EACCES, EROFS, ...). Creates nothing that stays.
// Any thread.
int folderWriteError(const std::string& path);

// 0 when the regular file at `path` may be opened for writing, as an open
// that does not empty it decides (its mode and ACLs, root's rights, a
// read-only file system; on Windows the read-only attribute and another
// program holding it without letting others write); ENOENT when nothing is
// there, kNotARegularFile for anything but a regular file (which is never
// opened); otherwise an errno value. Changes nothing. Any thread.
inline constexpr int kNotARegularFile = -1;
int fileWriteError(const std::string& path);

// `path` made absolute against the current folder and lexically normal, as
// pathBesideFile takes a path beside a file of the current folder. Any thread.
inline std::string absolutePath(const std::string& path) { return pathBesideFile("", path); }

// Whether `a` and `b` both name one existing file: the same name, or two
// names of it (a symbolic link followed to its target, a hard link). False
// when either names nothing. Any thread.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace platform
