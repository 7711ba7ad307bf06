#include "base/Files.h"

namespace ristova {

std::string ExtractFilePath(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RemoveLastExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    const auto slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name;
    return name.substr(0, dot);
}

std::string ChangeFileExt(const std::string& name, std::string_view ext) {
    return RemoveLastExtension(name) + std::string(ext);
}

std::string IncludeTrailingSeparator(const std::string& folder) {
    if (!folder.empty() && folder.back() == '/') return folder;
    return folder + "/";
}

std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Path(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

std::string ExecutableFolder() {
    const std::string exe = ExecutablePath();
    return exe.empty() ? std::string("./") : ExtractFilePath(exe);
}

}  // namespace ristova
