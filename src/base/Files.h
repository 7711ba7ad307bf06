#pragma once
// File system helpers. Paths are UTF-8. The path texts are shared; what asks
// the file system is the platform's (posix/Files.cpp).
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ristova {

// Names (without folder) of the entries matching the mask, in listing order.
// The mask is matched without regard to the case of ASCII letters.
void ListFolderFiles(std::vector<std::string>& list, std::string folder, std::string_view mask);
// Clears the read-only state and deletes; failures are ignored.
void ForceDeleteFile(const std::string& fileName);
bool FileExists(const std::string& fileName);
bool DirectoryExists(const std::string& path);
// A regular file (no folder, device or pipe), followed through links.
bool IsRegularFile(const std::string& path);
// This process may write the file, or create entries in the folder.
bool CanWrite(const std::string& path);
// Creates the folder with its missing parents; false when that failed.
bool ForceDirectories(const std::string& path);
// What a stat call tells of an entry, to notice that it changed: a rewrite
// (also one by rename over it), a resize, or its appearing or going away.
struct FileStamp {
    bool exists = false;
    long long mtimeNs = 0;
    long long size = 0;
    unsigned long long inode = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

// True when the file exists and has no write permission bit.
bool IsReadOnlyFile(const std::string& fileName);
// True when accounts other than the owner's and its group's may read the
// file (a secret in it is then no secret). On Windows: its access list lets
// an account read it other than the owner, the system and administrators.
bool OthersMayRead(const std::string& fileName);
// What to do so that only the owner may read a file, for messages: `posix`
// ("chmod 600 it") on POSIX, an icacls command for the file on Windows.
std::string OwnerOnlyAdvice(const std::string& fileName, const char* posix);

// Whole-file I/O on raw bytes. ReadFileBytes gives false for a missing,
// unreadable or not regular file.
bool ReadFileBytes(const std::string& fileName, std::string& bytes);
// Writes to a temporary file beside the target, flushes and renames it over
// the target, so that a refused write leaves the old content whole. A target
// without write bits is refused even for root. Throws WriteRefused ("Unable
// to write to").
void WriteFileAtomically(const std::string& fileName, std::string_view bytes);

// Folder part with a trailing '/', and the name part.
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
// The name without its last extension ("AB.C.PSW" gives "AB.C").
std::string RemoveLastExtension(const std::string& name);
std::string ChangeFileExt(const std::string& name, std::string_view ext);
std::string IncludeTrailingSeparator(const std::string& folder);

// A path as the operator typed it, with the program's '/' separators (on
// Windows '\\' becomes '/'; elsewhere it is a file name character).
std::string FromNativePath(std::string path);

// A UTF-8 path as std::filesystem takes it (its narrow strings are the ANSI
// code page on Windows), and a path of it back as UTF-8 with '/'.
std::filesystem::path FsPath(const std::string& utf8);
std::string Utf8Path(const std::filesystem::path& path);

// The running executable's path; empty when unknown.
std::string ExecutablePath();
// The folder of the running executable, ending in '/'.
std::string ExecutableFolder();

}  // namespace ristova
