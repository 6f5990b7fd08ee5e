#pragma once
// File names as the program's tables and directories are named on a site.
//
// The tables were named on a file system that ignores letter case, so the
// same file is written "Customer.dbf" in one place and "customer.dbf" in
// another. Every file operation of the program goes through resolvePath(),
// which finds an existing file or directory whatever the case of each part
// of its name. A name that does not exist in any case comes back as written,
// so a create uses the name as the program spells it.

#include "data/FileLayer.h"

#include <optional>
#include <string>
#include <string_view>

namespace xb {

// '\' and '/' both separate directories; the result uses '/'. Each part of
// the path is matched exactly when it exists, otherwise without regard to
// (ASCII) letter case; the first part that matches nothing ends the search
// and the rest is kept as written.
std::string resolvePath(std::string_view path);

bool fileExists(std::string_view path);       // a regular file, any case
bool directoryExists(std::string_view path);  // a directory, any case

// The text with the directory separator added at its end when it is not
// empty and does not already end in '/' or '\'.
std::string addBackslash(std::string_view text);

// Creates the directory (and its parents); true when it exists afterwards.
bool makeDir(std::string_view path);

// Copies a file: written to a temporary name beside the target, flushed to
// disk, then renamed over the target, so a failed copy leaves the target as
// it was. False (and `error` in plain words) on failure.
bool copyFile(std::string_view source, std::string_view target, std::string* error = nullptr);

// Removes what a copy to `target`, or the creation of a table there, cut
// short by a kill leaves beside it (their temporary files).
void removeLeftoverCopies(std::string_view target);

// Writes a small file whole or not at all: beside its name (a new file made
// exclusively, never through a link or over a file planted at that name),
// flushed to the disk, renamed into place, the directory flushed, through
// `files`. False (and `error` in plain words) on failure, with nothing left
// behind.
bool writeFileDurably(std::string_view path, std::string_view text, std::string* error = nullptr,
                      FileLayer& files = posixFiles());
// The same without the flushes: the file is whole or the old one whatever
// the program does, but a power cut may lose it (for a file that only costs
// time to make again).
bool writeFileWhole(std::string_view path, std::string_view text, std::string* error = nullptr);

// Flushes a file's contents to the disk; false (and `error`) on failure.
bool syncFile(std::string_view path, std::string* error = nullptr);

// Renames a file into place and flushes the directory; false (and `error`)
// on failure.
bool renameDurably(std::string_view from, std::string_view to, std::string* error = nullptr);

// Renames a file into a name that must be free: fails (EEXIST) rather than
// replace a file another process made there meanwhile. The directory is
// flushed; false (and `error`) on failure.
bool renameIfFree(std::string_view from, std::string_view to, std::string* error = nullptr);

// What a file was at a moment: a later write, or another file put in its
// place, gives another stamp.
struct FileStamp {
    long long size = 0;
    long long modified = 0;  // nanoseconds
    unsigned long long inode = 0;
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> fileStamp(std::string_view path);

// Whether two files hold the same bytes; false when either cannot be read.
bool sameContents(std::string_view a, std::string_view b);

// Deletes a file found whatever its case; true when it is gone afterwards.
bool removeFile(std::string_view path);

// The base name without its directory, and the path with another extension.
std::string baseName(std::string_view path);
std::string replaceExtension(std::string_view path, std::string_view ext);
std::string directoryOf(std::string_view path);  // with a trailing '/', or "" for a bare name

// Makes the directory entry of a file durable after a rename or create.
void syncDirectoryOf(std::string_view path, FileLayer& files = posixFiles());

}  // namespace xb
