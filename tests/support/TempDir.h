#pragma once
// A fresh directory under $TMPDIR (or /tmp), removed with everything in it when the test ends.

#include <string>

namespace toval::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return Root; }
    // Path of `relative` inside the directory.
    std::string operator/(const std::string& relative) const { return Root + "/" + relative; }
    // Writes `content` to `relative`, creating parent directories; returns the full path.
    std::string Write(const std::string& relative, const std::string& content) const;

  private:
    std::string Root;
};

std::string ReadFile(const std::string& path);

}  // namespace toval::test
