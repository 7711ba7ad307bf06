#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace ristova::test {

namespace fs = std::filesystem;

namespace {

// A UTF-8 path as the file streams take it on every platform.
fs::path Native(const std::string& path) {
    return fs::path(std::u8string(path.begin(), path.end()));
}

}  // namespace

TempDir::TempDir() {
    // A fresh name made with create_directory, which fails on one that is
    // there: as safe as mkdtemp, and the same on every platform.
    const char* base = std::getenv("TMPDIR");
    std::error_code ec;
    const fs::path root = base != nullptr && *base ? fs::path(base) : fs::temp_directory_path(ec);
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = root / ("ristova-" + std::to_string(random() % 1'000'000'000));
        if (fs::create_directory(candidate, ec)) {
            // The program's paths use '/' on every platform.
            const std::u8string generic = candidate.generic_u8string();
            path_.assign(generic.begin(), generic.end());
            path_ += "/";
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder in " + root.string());
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(Native(path_), ec);
}

std::string TempDir::Write(std::string_view name, std::string_view bytes) const {
    const std::string path = File(name);
    std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

std::string TempDir::Read(std::string_view name) const {
    std::ifstream in(Native(File(name)), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void SetReadOnly(const std::string& path, bool readOnly) {
    constexpr auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(Native(path), readOnly ? write : fs::perms::owner_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

}  // namespace ristova::test
