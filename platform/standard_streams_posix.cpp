#include <unistd.h>

#include <csignal>

#include "platform/standard_streams.h"

namespace toval {

std::vector<std::string> CommandArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void SetUpStandardStreams() {
    // A reader that goes away (a closed pipe on stdout, a dropped connection) must end a write
    // with an error, not kill the updater half way through replacing a file.
    std::signal(SIGPIPE, SIG_IGN);
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

}  // namespace toval
