// The file system on POSIX: stat, open, rename, permission bits and
// /proc/self/exe.
#include "base/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "base/Errors.h"

namespace ristova {

namespace {

constexpr mode_t kAnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

// The process umask without changing it (umask() would race with other
// threads creating files).
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
        }
    }
    return 022;
}

bool WriteAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// A symbolic link is written through, so that the link stays a link.
std::string ResolveTarget(const std::string& fileName) {
    struct stat st {};
    if (::lstat(fileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(fileName.c_str(), nullptr);
        if (real != nullptr) {
            std::string resolved(real);
            std::free(real);
            return resolved;
        }
    }
    return fileName;
}

}  // namespace

void ListFolderFiles(std::vector<std::string>& list, std::string folder, std::string_view mask) {
    list.clear();
    folder = IncludeTrailingSeparator(folder);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const std::string pattern(mask);
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        if (::fnmatch(pattern.c_str(), name, FNM_CASEFOLD) == 0) list.emplace_back(name);
    }
    ::closedir(dir);
    // The directory's own order is arbitrary (hash order on ext4); the
    // operator's lists and their first entries are not.
    std::sort(list.begin(), list.end());
}

void ForceDeleteFile(const std::string& fileName) {
    struct stat st {};
    if (::lstat(fileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return;
    if (!S_ISLNK(st.st_mode)) ::chmod(fileName.c_str(), (st.st_mode & 07777) | S_IWUSR);
    ::unlink(fileName.c_str());
}

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return !fileName.empty() && ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
    if (path.empty()) return false;
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty() || DirectoryExists(partial)) continue;
        if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return DirectoryExists(path);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CanWrite(const std::string& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

FileStamp StampOf(const std::string& path) {
    struct stat st {};
    FileStamp stamp;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    stamp.size = static_cast<long long>(st.st_size);
    stamp.inode = static_cast<unsigned long long>(st.st_ino);
    return stamp;
}

bool IsReadOnlyFile(const std::string& fileName) {
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0 && (st.st_mode & kAnyWriteBit) == 0;
}

bool OthersMayRead(const std::string& fileName) {
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0 && (st.st_mode & S_IROTH) != 0;
}

std::string OwnerOnlyAdvice(const std::string&, const char* posix) {
    return posix;
}

bool ReadFileBytes(const std::string& fileName, std::string& bytes) {
    bytes.clear();
    // Non-blocking, and regular files only: a pipe or a device under a data
    // file's name must not hang the program or fill its memory.
    int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    if (st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok) bytes.clear();
    return ok;
}

void WriteFileAtomically(const std::string& fileName, std::string_view bytes) {
    const std::string target = ResolveTarget(fileName);
    std::string folder = ExtractFilePath(target);
    if (folder.empty()) folder = "./";
    if (!DirectoryExists(folder)) ThrowUnableToWrite(fileName);

    mode_t mode = 0666 & ~CurrentUmask();
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists) {
        // Refused even for root: a file without write bits is read-only here.
        // The rename would also replace a file that this user may not write.
        if (!S_ISREG(old.st_mode) || (old.st_mode & kAnyWriteBit) == 0 ||
            ::access(target.c_str(), W_OK) != 0)
            ThrowUnableToWrite(fileName);
        mode = old.st_mode & 07777;
    }

    std::string temp = folder + "." + ExtractFileName(target) + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) ThrowUnableToWrite(fileName);

    bool ok = ::fchmod(fd, mode) == 0;
    // Keep the owner when root rewrites someone else's file; best effort.
    if (ok && exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Not permitted for an ordinary user; the file then becomes ours.
        }
    }
    ok = ok && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        ThrowUnableToWrite(fileName);
    }
    WriteWentThrough(fileName);
    // Make the rename itself durable; the new content is in place either way.
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

std::string FromNativePath(std::string path) {
    return path;
}

std::string ExecutablePath() {
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace ristova
