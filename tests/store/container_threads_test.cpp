// Containers made and destroyed on several threads while others enumerate.
#include <atomic>
#include <set>
#include <sstream>
#include <thread>

#include "store/store_fixture.h"

namespace marlinok::store {
namespace {

class ContainerThreadsTest : public StoreTest {};

TEST_F(ContainerThreadsTest, ConcurrentCreateFindDestroyAndEnumerate) {
  constexpr int kWriters = 4;
  constexpr int kReaders = 4;
  constexpr int kOperations = 1000;
  std::atomic<int> failures{0};
  std::atomic<bool> writersDone{false};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      // Each writer keeps one container of its own for good, and cycles others.
      const std::string keeper = "keep" + std::to_string(w);
      if (QM_CreateContainer(keeper.c_str()) != ERR_OK) ++failures;
      for (int i = 0; i < kOperations / 3; ++i) {
        const std::string name = "w" + std::to_string(w) + "-" + std::to_string(i % 7);
        if (QM_CreateContainer(name.c_str()) != ERR_OK) ++failures;
        DataBlob refs[4] = {};
        if (QM_FindContainerAndKeypair(name.c_str(), &refs[0], &refs[1], &refs[2], &refs[3]) !=
            ERR_FAILED)
          ++failures;  // no pairs in it
        if (QM_DestroyContainer(name.c_str()) != ERR_OK) ++failures;
      }
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < kOperations && !writersDone; ++i) {
        uint32_t length = 0;
        if (QMCA_EnumKeyContainerName(nullptr, &length) != ERR_OK) continue;
        // The set may grow between the two calls: leave room for that.
        std::vector<char> buffer(length + 4096, '\0');
        uint32_t filled = 0;
        if (QMCA_EnumKeyContainerName(buffer.data(), &filled) != ERR_OK) {
          ++failures;
          continue;
        }
        const std::string list(buffer.data());
        if (filled != 0 && list.size() + 1 != filled) ++failures;
        if (!list.empty() &&
            (list.front() == '|' || list.back() == '|' || list.find("||") != std::string::npos))
          ++failures;
      }
    });
  }
  for (int w = 0; w < kWriters; ++w) threads[w].join();
  writersDone = true;
  for (std::size_t t = kWriters; t < threads.size(); ++t) threads[t].join();
  EXPECT_EQ(failures.load(), 0);

  uint32_t length = 0;
  ASSERT_EQ(QMCA_EnumKeyContainerName(nullptr, &length), ERR_OK);
  std::vector<char> buffer(length);
  ASSERT_EQ(QMCA_EnumKeyContainerName(buffer.data(), &length), ERR_OK);
  EXPECT_EQ(std::string(buffer.data()), "keep0|keep1|keep2|keep3");
}

}  // namespace
}  // namespace marlinok::store
