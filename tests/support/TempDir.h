#pragma once
// A fresh folder for one test, removed with its content afterwards.
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
    std::string File(std::string_view name) const { return path_ + std::string(name); }
    // Raw bytes in and out; Write gives the full path, Read of a missing file is empty.
    std::string Write(std::string_view name, std::string_view bytes) const;
    std::string Read(std::string_view name) const;

  private:
    std::string path_;
};

// Takes the file's write permission away (a refused write: no write bits on
// POSIX, the read-only attribute on Windows) or gives it back.
void SetReadOnly(const std::string& path, bool readOnly = true);

}  // namespace ristova::test
