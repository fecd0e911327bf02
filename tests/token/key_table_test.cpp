#include "token/key_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace marlinok::token {
namespace {

DataBlob Blob(uint8_t* data, uint32_t length) { return DataBlob{length, data}; }

TEST(KeyTableTest, RemovesOldestMatchFirstAndThenFails) {
  KeyTable table;
  uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  table.Append(Blob(key, 8));
  table.Append(Blob(key, 8));
  EXPECT_EQ(table.RemoveMatching(Blob(key, 8)), Status::Ok);
  EXPECT_EQ(table.RemoveMatching(Blob(key, 8)), Status::Ok);
  EXPECT_EQ(table.RemoveMatching(Blob(key, 8)), Status::Failed);
  EXPECT_EQ(table.Size(), 0u);
}

TEST(KeyTableTest, MatchesByBytesNotByPointer) {
  KeyTable table;
  uint8_t first[4] = {9, 9, 9, 9};
  uint8_t copy[4] = {9, 9, 9, 9};
  uint8_t other[4] = {7, 7, 7, 7};
  table.Append(Blob(other, 4));
  table.Append(Blob(first, 4));
  EXPECT_EQ(table.RemoveMatching(Blob(copy, 4)), Status::Ok);
  EXPECT_EQ(table.Size(), 1u);
  // The entry left is the one with other bytes.
  EXPECT_EQ(table.RemoveMatching(Blob(first, 4)), Status::Failed);
  EXPECT_EQ(table.RemoveMatching(Blob(other, 4)), Status::Ok);
}

TEST(KeyTableTest, PrefixOfRegisteredBytesMatches) {
  KeyTable table;
  uint8_t key[16];
  for (int i = 0; i < 16; ++i) key[i] = static_cast<uint8_t>(i);
  uint8_t prefix[5] = {0, 1, 2, 3, 4};
  table.Append(Blob(key, 16));
  EXPECT_EQ(table.RemoveMatching(Blob(prefix, 5)), Status::Ok);
}

TEST(KeyTableTest, NeverReadsPastTheRegisteredLength) {
  KeyTable table;
  uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  table.Append(Blob(bytes, 4));  // registered as 4 bytes
  EXPECT_EQ(table.RemoveMatching(Blob(bytes, 8)), Status::Failed);
  EXPECT_EQ(table.Size(), 1u);
  EXPECT_EQ(table.RemoveMatching(Blob(bytes, 4)), Status::Ok);
}

TEST(KeyTableTest, EmptyBlobMatchesOldestEntryOfANonEmptyTable) {
  KeyTable table;
  EXPECT_EQ(table.RemoveMatching(Blob(nullptr, 0)), Status::Failed);
  uint8_t a[2] = {1, 1}, b[2] = {2, 2};
  table.Append(Blob(a, 2));
  table.Append(Blob(b, 2));
  EXPECT_EQ(table.RemoveMatching(Blob(nullptr, 0)), Status::Ok);
  EXPECT_EQ(table.RemoveMatching(Blob(a, 2)), Status::Failed);
  EXPECT_EQ(table.RemoveMatching(Blob(b, 2)), Status::Ok);
}

TEST(KeyTableTest, SeesLaterChangesToTheCallersBytes) {
  KeyTable table;
  uint8_t key[8] = {};
  table.Append(Blob(key, 8));
  std::memset(key, 0x01, sizeof key);  // as a parity fix-up would
  uint8_t adjusted[8];
  std::memset(adjusted, 0x01, sizeof adjusted);
  EXPECT_EQ(table.RemoveMatching(Blob(adjusted, 8)), Status::Ok);
}

TEST(KeyTableTest, ClearLeavesCallersBytesAlone) {
  uint8_t key[4] = {5, 6, 7, 8};
  {
    KeyTable table;
    table.Append(Blob(key, 4));
    table.Append(Blob(key, 4));
  }  // destroyed as at unload
  EXPECT_EQ(key[0], 5);
  EXPECT_EQ(key[3], 8);
}

TEST(KeyTableTest, ConcurrentRegisterAndWithdrawKeepsCount) {
  KeyTable table;
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<std::vector<uint8_t>> keys(kThreads, std::vector<uint8_t>(8));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    keys[t].assign(8, static_cast<uint8_t>(t + 1));
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) table.Append(Blob(keys[t].data(), 8));
      for (int i = 0; i < kRounds / 2; ++i) {
        ASSERT_EQ(table.RemoveMatching(Blob(keys[t].data(), 8)), Status::Ok);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(table.Size(), static_cast<std::size_t>(kThreads * kRounds / 2));
}

}  // namespace
}  // namespace marlinok::token
