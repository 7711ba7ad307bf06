#pragma once
// A fresh folder under $TMPDIR (or /tmp) for one test, removed with its
// content afterwards, read-only files included.
#include <string>
#include <string_view>

namespace ristova::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, ending in '/'.
    const std::string& Path() const { return path_; }
    // Path() + name.
    std::string File(std::string_view name) const;
    // Writes raw bytes to Path() + name and gives the full path.
    std::string Write(std::string_view name, std::string_view bytes) const;
    // The raw bytes of Path() + name; empty when missing.
    std::string Read(std::string_view name) const;

  private:
    std::string path_;
};

// The raw bytes of any file; empty when missing.
std::string ReadWholeFile(const std::string& path);

}  // namespace ristova::test
