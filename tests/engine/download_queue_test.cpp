// The run's queue: order, the start cursor, lookup by transfer, and ownership (each transfer
// destroyed exactly once, when it leaves; cancelled before any is destroyed on a clear).

#include <gtest/gtest.h>

#include "engine/CDownloadQueue.h"
#include "tests/engine/ScriptedTransfer.h"
#include "tests/net/RecordingSink.h"

namespace toval::test {
namespace {

QueuedTransfer File(const std::string& name) {
    QueuedTransfer item;
    item.Entry = std::make_unique<CFileEntry>("/client/" + name);
    item.Entry->FileName = name;
    return item;
}

TEST(DownloadQueue, StartsInOrderFindsByTransferAndLetsGoFromTheFront) {
    ScriptedTransfers made;
    RecordingSink sink;
    const auto factory = made.Factory();
    {
        CDownloadQueue queue;
        EXPECT_EQ(queue.Front(), nullptr);
        EXPECT_EQ(queue.NextUnstarted(), nullptr);
        for (const char* name : {"a", "b", "c", "d"}) queue.Push(File(name));
        EXPECT_EQ(queue.Count(), 4u);

        // Two start; the cursor moves past them and lookups find them.
        std::vector<ITransfer*> started;
        for (int i = 0; i < 2; ++i) {
            QueuedTransfer* next = queue.NextUnstarted();
            ASSERT_NE(next, nullptr);
            TransferRequest request;
            request.URL = next->FileName();
            queue.Attach(*next, factory(std::move(request), sink));
            started.push_back(next->Transfer.get());
        }
        EXPECT_EQ(queue.NextUnstarted()->FileName(), "c");
        EXPECT_EQ(queue.Find(started[1])->FileName(), "b");
        EXPECT_EQ(queue.After(*queue.Front())->FileName(), "b");

        // The front leaves: its transfer is destroyed once and no longer found; references to
        // the others stay good.
        QueuedTransfer* d = queue.After(*queue.NextUnstarted());
        queue.PopFront();
        EXPECT_EQ(made.Destroyed, 1);
        EXPECT_EQ(queue.Find(started[0]), nullptr);
        EXPECT_EQ(queue.Front()->FileName(), "b");
        EXPECT_EQ(d->FileName(), "d");
        EXPECT_EQ(queue.After(*d), nullptr);

        // Taken over whole: the transfer lives on with its new owner.
        QueuedTransfer b = queue.TakeFront();
        EXPECT_EQ(queue.Find(started[1]), nullptr);
        EXPECT_EQ(made.Destroyed, 1);
        EXPECT_EQ(queue.NextUnstarted()->FileName(), "c");
    }
    EXPECT_EQ(made.Destroyed, 2);
}

}  // namespace
}  // namespace toval::test
