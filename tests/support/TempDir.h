#pragma once
// A fresh directory under $TMPDIR (or /tmp), removed with everything in it when the test ends.

#include <chrono>
#include <functional>
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

// Programs the updater starts are detached, so what they write can only be waited for. True as
// soon as `path` exists and is not empty; the limit is generous because a loaded machine can take
// seconds to start a shell.
bool WaitForFile(const std::string& path,
                 std::chrono::milliseconds limit = std::chrono::seconds(20));

// Polls `done` until it holds (true) or `limit` has passed (false), for what another process does.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace toval::test
