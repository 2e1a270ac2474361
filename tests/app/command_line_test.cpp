#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace toval {
namespace {

constexpr const char* kUrl = "http://127.0.0.1:8080/update/update.xml";

struct Row {
    const char* Arguments;
    std::string Url;  // empty: the default URL stays
    uint32_t Caller;
};

TEST(CommandLine, ArgumentStringTable) {
    const std::string url = kUrl;
    const std::vector<Row> rows = {
        {"", "", 0},
        {kUrl, "", 0},  // no comma: ignored as a whole
        {",12345", "", 0},
        {"http://x/u.xml,12345", "http://x/u.xml", 12345},
        {"http://x/u.xml,", "http://x/u.xml", 0},
        {"http://x/u.xml, 12345", "http://x/u.xml", 12345},
        {"http://x/u.xml,\t\n 77", "http://x/u.xml", 77},
        {"http://x/u.xml,12345,678", "http://x/u.xml", 12345},
        {"http://x/u.xml,0x1F", "http://x/u.xml", 0},
        {"http://x/u.xml,4294967297", "http://x/u.xml", 1},
        {"http://x/u.xml,-1", "http://x/u.xml", 0xFFFFFFFFu},
        {"http://x/u.xml,+42", "http://x/u.xml", 42},
        {"http://x/u.xml,- 5", "http://x/u.xml", 0},  // no digits right after the sign
        {"http://x/u.xml ,5", "http://x/u.xml ", 5},
        {"\"http://x/u.xml\",5", "\"http://x/u.xml\"", 5},  // quotes stay
        {"a,b,c", "a", 0},
        // Wraps modulo 2^64 before the low 32 bits are taken: 2^64 + 7.
        {"u,18446744073709551623", "u", 7},
        // Any Unicode decimal digit counts (which ones: tests/platform/text_test.cpp), up to the
        // first other character or broken UTF-8 sequence.
        {"u,１２３", "u", 123},
        {"u,٤٢", "u", 42},
        {"u,１２x３", "u", 12},
        {"u,5²", "u", 5},
        {"u,4\xEF\xBC", "u", 4},
    };
    for (const Row& row : rows) {
        CommandLine line;
        ParseArgumentString(row.Arguments, line);
        EXPECT_EQ(line.UpdateUrl, row.Url.empty() ? std::string(kDefaultUpdateUrl) : row.Url)
            << "arguments: " << row.Arguments;
        EXPECT_EQ(line.CallerWindow, row.Caller) << "arguments: " << row.Arguments;
    }
}

TEST(CommandLine, DefaultUrlIsPlainHttpWithTheCataloguePath) {
    const std::string url(kDefaultUpdateUrl);
    EXPECT_EQ(url.rfind("http://", 0), 0u);
    EXPECT_EQ(url.substr(url.size() - 18), "/update/update.xml");
}

TEST(CommandLine, ConsoleIsRemovedAndTheRestJoinedByBlanks) {
    struct Case {
        std::vector<const char*> Argv;
        std::string Joined;
        bool Console;
    };
    const std::vector<Case> cases = {
        {{"toval-updater"}, "", false},
        {{"toval-updater", "--console"}, "", true},
        {{"toval-updater", "--console", "http://h/u.xml,5"}, "http://h/u.xml,5", true},
        {{"toval-updater", "http://h/u.xml", "--console", ",5"}, "http://h/u.xml ,5", true},
        {{"toval-updater", "a", "", "b"}, "a  b", false},
        {{"toval-updater", "--console=1"}, "--console=1", false},
    };
    for (const Case& c : cases) {
        bool console = false;
        EXPECT_EQ(ArgumentString(static_cast<int>(c.Argv.size()), c.Argv.data(), console),
                  c.Joined);
        EXPECT_EQ(console, c.Console);
    }

    const char* argv[] = {"toval-updater", "http://h/u.xml", "--console", ",5"};
    const CommandLine line = ParseCommandLine(4, argv);
    EXPECT_TRUE(line.Console);
    EXPECT_EQ(line.UpdateUrl, "http://h/u.xml ");
    EXPECT_EQ(line.CallerWindow, 5u);
}

TEST(CommandLine, OptionsThatEndTheProgramBeforeTheUpdate) {
    using R = CommandLineRequest;
    struct Case {
        std::vector<const char*> Args;  // after the program's name
        R Request;
        std::string Option;
    };
    const std::vector<Case> cases = {
        {{}, R::Update, ""},
        {{"--console", "http://h/u.xml,5"}, R::Update, ""},
        {{"http://h/u.xml,5", "--console"}, R::Update, ""},
        {{"--help"}, R::Help, ""},
        {{"--console", "-h"}, R::Help, ""},
        {{"http://h/u.xml,5", "--version"}, R::Version, ""},
        {{"--version", "--help"}, R::Version, ""},  // the first one decides
        {{"-x"}, R::UnknownOption, "-x"},
        {{"--verbose", "--help"}, R::UnknownOption, "--verbose"},
        {{"--console=1"}, R::UnknownOption, "--console=1"},
        {{"-console"}, R::UnknownOption, "-console"},
        {{"--help=1"}, R::UnknownOption, "--help=1"},
        // Pieces of an argument string split by the shell, not options.
        {{"http://h/u.xml,", "-1"}, R::Update, ""},
        {{"-"}, R::Update, ""},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"toval-updater"};
        argv.insert(argv.end(), c.Args.begin(), c.Args.end());
        const OptionCheck check = CheckOptions(static_cast<int>(argv.size()), argv.data());
        const std::string shown = ::testing::PrintToString(c.Args);
        EXPECT_EQ(check.Request, c.Request) << shown;
        EXPECT_EQ(check.Option, c.Option) << shown;
    }
}

TEST(CommandLine, AnArgumentThatIsNotUrlCommaHandleIsKeptForTheNote) {
    struct Case {
        std::vector<const char*> Args;
        std::string Ignored;
    };
    const std::vector<Case> cases = {
        {{}, ""},
        {{"--console"}, ""},
        {{"--console", "http://h/u.xml"}, "http://h/u.xml"},
        {{",5"}, ",5"},  // no URL before the comma: the handle is dropped too
        {{"http://h/u.xml", "5"}, "http://h/u.xml 5"},
        {{"http://h/u.xml,5"}, ""},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"toval-updater"};
        argv.insert(argv.end(), c.Args.begin(), c.Args.end());
        const CommandLine line = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(line.IgnoredArgument, c.Ignored) << ::testing::PrintToString(c.Args);
        const std::string note = IgnoredArgumentNote(line);
        if (c.Ignored.empty()) {
            EXPECT_EQ(note, "");
        } else {
            // One line that names the ignored text and the URL used instead.
            EXPECT_NE(note.find("'" + c.Ignored + "'"), std::string::npos) << note;
            EXPECT_NE(note.find(kDefaultUpdateUrl), std::string::npos) << note;
            EXPECT_EQ(note.find('\n'), note.size() - 1) << note;
        }
    }
}

TEST(CommandLine, TheUpdatesOwnOptionsTakeTheirValues) {
    const std::pair<const char*, std::optional<uint64_t>> rates[] = {
        {"100", 100},         {"500K", 512000},       {"2M", 2u << 20},
        {"1g", 1u << 30},     {"0", std::nullopt},    {"K", std::nullopt},
        {"-1", std::nullopt}, {"1.5M", std::nullopt}, {"18446744073709551615K", std::nullopt},
    };
    for (const auto& [text, rate] : rates) EXPECT_EQ(ParseRate(text), rate) << text;

    const char* argv[] = {"toval-updater", "--max-rate=2M", "--progress-fd", "7",
                          "http://h/u.xml,5"};
    EXPECT_EQ(CheckOptions(5, argv).Request, CommandLineRequest::Update);
    const CommandLine line = ParseCommandLine(5, argv);
    EXPECT_EQ(line.MaxRate, 2u << 20);
    EXPECT_EQ(line.ProgressFd, 7u);
    EXPECT_EQ(line.UpdateUrl, "http://h/u.xml");
    EXPECT_EQ(line.CallerWindow, 5u);

    for (const std::vector<const char*>& bad :
         {std::vector<const char*>{"toval-updater", "--max-rate", "fast"},
          std::vector<const char*>{"toval-updater", "u,5", "--progress-fd"}}) {
        EXPECT_EQ(CheckOptions(static_cast<int>(bad.size()), bad.data()).Request,
                  CommandLineRequest::BadValue);
    }
}

}  // namespace
}  // namespace toval
