#include "engine/action_journal.h"

#include <gtest/gtest.h>

namespace toval {
namespace {

// Pending actions survive an update of the updater itself: a journal as earlier versions wrote
// it reads the same, and is written the same.
TEST(ActionJournalText, AJournalOfAnEarlierVersionStillReads) {
    const std::string earlier =
        "toval-updater actions 1\n7:execute\n10:/c/run.exe\n2:go\n6:27 1 2\n"
        "8:register\n8:/c/d.dll\n0:\n0:\n"
        "sum 3df7e837102bcd3e28ebaf4b7c81f6f02ce920e331a3bf19435196ff16094b9e\n";
    const std::vector<JournalAction> actions = {
        {JournalAction::Kind::Execute, "/c/run.exe", "go", "27 1 2"},
        {JournalAction::Kind::Register, "/c/d.dll", "", ""}};
    EXPECT_EQ(ParseJournal(earlier), actions);
    EXPECT_EQ(FormatJournal(actions), earlier);
}

}  // namespace
}  // namespace toval
