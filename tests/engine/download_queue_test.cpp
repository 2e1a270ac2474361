// The run's queue: order, ownership (each transfer destroyed exactly once, when it leaves).

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "engine/CDownloadQueue.h"

namespace toval::test {
namespace {

// A real transfer that counts its destructions under its own number (addresses are reused).
class CountedTransfer : public CInetFile {
  public:
    CountedTransfer(std::map<int, int>& deaths, int id) : Deaths(deaths), Id(id) {}
    ~CountedTransfer() override { ++Deaths[Id]; }

  private:
    std::map<int, int>& Deaths;
    int Id;
};

TEST(DownloadQueue, KeepsOrderAndDestroysEachTransferOnceWhenItLeaves) {
    std::map<int, int> deaths;
    std::vector<CInetFile*> items;
    {
        CDownloadQueue queue;
        EXPECT_EQ(queue.Front(), nullptr);
        for (int id = 1; id <= 4; ++id) {
            auto t = std::make_unique<CountedTransfer>(deaths, id);
            items.push_back(t.get());
            queue.Push(std::move(t));
        }
        queue.Push(nullptr);
        EXPECT_EQ(queue.Count(), 4u);
        EXPECT_EQ(queue.Front(), items[0]);

        EXPECT_TRUE(queue.Remove(items[2]));  // from the middle: order of the rest kept
        EXPECT_EQ(deaths[3], 1);
        EXPECT_FALSE(queue.Remove(items[2]));  // gone: nothing freed twice
        EXPECT_TRUE(queue.Remove(items[0]));
        EXPECT_EQ(queue.Front(), items[1]);
        EXPECT_EQ(queue.Count(), 2u);
        CountedTransfer stranger(deaths, 9);
        EXPECT_FALSE(queue.Remove(&stranger));  // not ours: left alone
        EXPECT_EQ(deaths[9], 0);

        std::vector<CInetFile*> seen;
        queue.ForEach([&](const CInetFile& t) { seen.push_back(const_cast<CInetFile*>(&t)); });
        EXPECT_EQ(seen, (std::vector<CInetFile*>{items[1], items[3]}));
    }
    EXPECT_EQ(deaths, (std::map<int, int>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {9, 1}}));
}

}  // namespace
}  // namespace toval::test
