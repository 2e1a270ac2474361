#include <cstdio>
#include <string>
#include <vector>

#include "app/CUpdaterApp.h"
#include "app/command_line.h"
#include "platform/standard_streams.h"

int main(int argc, char** argv) {
    // Everything below reads the arguments in UTF-8, on Windows too.
    std::vector<std::string> arguments = toval::CommandArguments(argc, argv);
    std::vector<char*> utf8{};
    for (std::string& argument : arguments) utf8.push_back(argument.data());
    utf8.push_back(nullptr);
    argc = static_cast<int>(arguments.size());
    argv = utf8.data();
    toval::SetUpStandardStreams();

    // Options that only ask about the program are answered before anything starts: no network,
    // no window, no lock on the client directory.
    const toval::OptionCheck check = toval::CheckOptions(argc, argv);
    switch (check.Request) {
        case toval::CommandLineRequest::Help:
            std::fputs(toval::UsageText().c_str(), stdout);
            return 0;
        case toval::CommandLineRequest::Version:
            std::printf("toval-updater %s\n", toval::kVersionText);
            return 0;
        case toval::CommandLineRequest::UnknownOption:
            std::fprintf(stderr,
                         "toval-updater: unknown option '%s'\nTry 'toval-updater --help'.\n",
                         check.Option.c_str());
            return toval::kExitUsage;
        case toval::CommandLineRequest::BadValue:
            std::fprintf(stderr,
                         "toval-updater: option '%s' needs a value it can take\nTry "
                         "'toval-updater --help'.\n",
                         check.Option.c_str());
            return toval::kExitUsage;
        case toval::CommandLineRequest::Update:
            break;
    }
    toval::CUpdaterApp app;
    return app.Run(argc, argv);
}
