#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <string>

#include "platform/line_channel.h"

namespace toval {

namespace {
constexpr auto kMustArriveWait = std::chrono::seconds(2);

class DescriptorChannel : public LineChannel {
  public:
    explicit DescriptorChannel(int fd) : Fd(fd) {}
    ~DescriptorChannel() override {
        if (Fd >= 0) ::close(Fd);
    }

    void WriteLine(std::string_view line, bool mustArrive) override {
        if (Fd < 0) return;
        std::string text(line);
        text += '\n';
        const auto deadline = std::chrono::steady_clock::now() + kMustArriveWait;
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(Fd, text.data() + done, text.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                // Nothing of the line went yet: a progress line may simply be skipped.
                if (done == 0 && !mustArrive) return;
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                pollfd waiting{Fd, POLLOUT, 0};
                if (left.count() > 0 && ::poll(&waiting, 1, static_cast<int>(left.count())) >= 0)
                    continue;
            }
            // The reader is gone (EPIPE: SIGPIPE is ignored), or it stopped reading mid-line:
            // nothing more is written, so no broken line follows.
            ::close(Fd);
            Fd = -1;
            return;
        }
    }

  private:
    int Fd;
};
}  // namespace

std::unique_ptr<LineChannel> OpenLineChannel(uint64_t id) {
    if (id > static_cast<uint64_t>(INT_MAX)) return nullptr;
    const int given = static_cast<int>(id);
    const int flags = ::fcntl(given, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return nullptr;
    // A copy of our own, away from the standard descriptors and closed in the programs we
    // start, made non-blocking: a launcher that stops reading must not stop the update. The
    // flag belongs to the open pipe, which only the launcher's reading end shares in practice.
    const int fd = ::fcntl(given, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) return nullptr;
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (given > 2) ::close(given);
    return std::make_unique<DescriptorChannel>(fd);
}

}  // namespace toval
