// The file system on Windows: the wide calls, so that Chinese file and
// folder names work whatever the ANSI code page is; the read-only attribute;
// MoveFileEx for the atomic replacement.
#include "base/Files.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <vector>

#include "base/Errors.h"
#include "base/win32/Accounts.h"
#include "base/win32/Wide.h"

namespace ristova {

using win32::Handle;
using win32::WidePath;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

DWORD Attributes(const std::string& path) {
    return path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(WidePath(path).c_str());
}

bool IsFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

wchar_t FoldAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// '*' and '?' without regard to the case of ASCII letters. FindFirstFile's
// own matching would also match the short 8.3 names ("*.PSW" finding
// "a.PSWX"), which the operator never sees.
bool MatchesMask(std::wstring_view name, std::wstring_view mask) {
    std::size_t n = 0, m = 0, starM = std::wstring_view::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == L'*') {
            starM = m++;
            starN = n;
        } else if (m < mask.size() &&
                   (mask[m] == L'?' || FoldAscii(mask[m]) == FoldAscii(name[n]))) {
            ++m;
            ++n;
        } else if (starM != std::wstring_view::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == L'*') ++m;
    return m == mask.size();
}

Handle OpenForQuery(const std::string& path) {
    // Backup semantics: folders open too.
    return Handle(::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// A virus scanner or an indexer may hold the old file for a moment.
bool ReplaceWithRetries(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(from.c_str(), to.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = ::GetLastError();
        if (attempt >= 10 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            return false;
        ::Sleep(20);
    }
}

std::string TempNameBeside(const std::string& folder, const std::string& name) {
    static std::atomic<unsigned> counter{0};
    return folder + "." + name + "." + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(counter.fetch_add(1)) + ".tmp";
}

}  // namespace

void ListFolderFiles(std::vector<std::string>& list, std::string folder, std::string_view mask) {
    list.clear();
    folder = IncludeTrailingSeparator(folder);
    WIN32_FIND_DATAW found{};
    HANDLE find = ::FindFirstFileExW(WidePath(folder + "*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return;
    const std::wstring wideMask = win32::Widen(mask);
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (MatchesMask(name, wideMask)) list.push_back(win32::Narrow(name));
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
    std::sort(list.begin(), list.end());
}

void ForceDeleteFile(const std::string& fileName) {
    const DWORD attributes = Attributes(fileName);
    if (attributes == INVALID_FILE_ATTRIBUTES || IsFolder(attributes)) return;
    const std::wstring wide = WidePath(fileName);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    ::DeleteFileW(wide.c_str());
}

bool FileExists(const std::string& fileName) {
    const DWORD attributes = Attributes(fileName);
    return attributes != INVALID_FILE_ATTRIBUTES && !IsFolder(attributes);
}

bool DirectoryExists(const std::string& path) {
    return IsFolder(Attributes(path));
}

bool ForceDirectories(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(WidePath(path)), ec);
    return DirectoryExists(path);
}

bool IsRegularFile(const std::string& path) {
    Handle file = OpenForQuery(path);
    BY_HANDLE_FILE_INFORMATION info{};
    return file.Valid() && ::GetFileType(file.Get()) == FILE_TYPE_DISK &&
           ::GetFileInformationByHandle(file.Get(), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool CanWrite(const std::string& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (IsFolder(attributes)) {
        // Rights come from access lists, which only an attempt reads right
        // (Program Files is refused to an ordinary user).
        const std::string probe = TempNameBeside(IncludeTrailingSeparator(path), "write-test");
        Handle file(::CreateFileW(WidePath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        return file.Valid();
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) return false;
    Handle file(::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    return file.Valid();
}

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    if (path.empty()) return stamp;
    Handle file = OpenForQuery(path);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.Valid() || !::GetFileInformationByHandle(file.Get(), &info)) return stamp;
    stamp.exists = true;
    const unsigned long long ticks =
        (static_cast<unsigned long long>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime;
    stamp.mtimeNs = static_cast<long long>(ticks * 100ULL);
    stamp.size = static_cast<long long>(
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    // A file renamed over the old one has another index.
    stamp.inode = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return stamp;
}

bool IsReadOnlyFile(const std::string& fileName) {
    const DWORD attributes = Attributes(fileName);
    return attributes != INVALID_FILE_ATTRIBUTES && !IsFolder(attributes) &&
           (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Who may read is the access list and the owner, who may change it. A list
// that cannot be read counts as open.
bool OthersMayRead(const std::string& fileName) {
    if (!FileExists(fileName)) return false;
    const win32::FileAccess access = win32::AccessOf(fileName);
    return !access.known || !access.trustedOwner || !access.otherReaders.empty();
}

// For cmd: the file becomes this account's and the system's alone.
std::string OwnerOnlyAdvice(const std::string& fileName, const char*) {
    const std::string quoted = "\"" + win32::Narrow(WidePath(fileName)) + "\"";
    const win32::FileAccess access = win32::AccessOf(fileName);
    std::string command = access.trustedOwner ? "" : "takeown /f " + quoted + " & ";
    command += "icacls " + quoted + " /inheritance:r /grant:r \"%USERNAME%\":F *S-1-5-18:F";
    if (!access.otherReaders.empty()) {
        command += " /remove";
        for (const std::wstring& sid : access.otherReaders) command += " *" + win32::Narrow(sid);
    }
    return command;
}

bool ReadFileBytes(const std::string& fileName, std::string& bytes) {
    bytes.clear();
    if (fileName.empty()) return false;
    Handle file(::CreateFileW(WidePath(fileName).c_str(), GENERIC_READ, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    // Disk files only: a pipe or a device under a data file's name must not
    // hang the program.
    if (!file.Valid() || ::GetFileType(file.Get()) != FILE_TYPE_DISK) return false;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.Get(), &size) && size.QuadPart > 0)
        bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &n, nullptr)) {
            bytes.clear();
            return false;
        }
        if (n == 0) return true;
        bytes.append(buffer, n);
    }
}

void WriteFileAtomically(const std::string& fileName, std::string_view bytes) {
    std::string folder = ExtractFilePath(fileName);
    if (folder.empty()) folder = "./";
    if (!DirectoryExists(folder)) ThrowUnableToWrite(fileName);
    const DWORD old = Attributes(fileName);
    if (old != INVALID_FILE_ATTRIBUTES) {
        // The read-only attribute refuses the write, as on the other
        // platforms a file without write bits does.
        if (IsFolder(old) || (old & FILE_ATTRIBUTE_READONLY) || !CanWrite(fileName))
            ThrowUnableToWrite(fileName);
    }
    const std::wstring temp = WidePath(TempNameBeside(folder, ExtractFileName(fileName)));
    bool ok = false;
    {
        Handle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) ThrowUnableToWrite(fileName);
        ok = WriteAll(file.Get(), bytes) && ::FlushFileBuffers(file.Get());
    }
    ok = ok && ReplaceWithRetries(temp, WidePath(fileName));
    if (!ok) {
        ::DeleteFileW(temp.c_str());
        ThrowUnableToWrite(fileName);
    }
    WriteWentThrough(fileName);
}

std::string FromNativePath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string ExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return win32::PathFromWide(std::wstring_view(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace ristova
