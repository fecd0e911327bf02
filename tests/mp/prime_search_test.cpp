// The probable-prime test and the prime search, including a plain walk that
// tests every candidate as the reference for the sieving walk.
#include <gtest/gtest.h>

#include <cstring>

#include "mp/mp.h"
#include "mp/mp_oracle.h"
#include "random/random_pool.h"

namespace marlinok::mp {
namespace {

using test::Number;
using test::Small;

constexpr MpDigit kFill = 0xA5A5A5A5u;

RandomPool SeededPool(uint8_t tag) {
  RandomPool pool;
  RandomPoolReset(&pool);
  uint8_t seed[kPoolSeedBytes];
  std::memset(seed, tag, sizeof seed);
  RandomPoolMix(&pool, seed, sizeof seed);
  return pool;
}

// The search as plainly as it can be written: every candidate gets both tests,
// the Fermat test through the general exponentiation.
bool PlainFermat(const Number& a) {
  const uint32_t n = static_cast<uint32_t>(a.size());
  Number u(n);
  const Number two = Small(2, n);
  MpModExp(u.data(), two.data(), a.data(), n, a.data(), n);
  return u == two;
}

Status PlainSearch(Number* out, const Number& low, const Number& high, const Number& step,
                   RandomPool* pool) {
  const uint32_t n = static_cast<uint32_t>(low.size());
  std::vector<uint8_t> bytes(4 * n);
  const Status s = RandomPoolDraw(bytes.data(), 4 * n, pool);
  if (s != Status::Ok) return s;
  Number a(n), span(n), rest(n), limit(n);
  const Number one = Small(1, n);
  MpDecode(a.data(), n, bytes.data(), 4 * n);
  MpSub(span.data(), high.data(), low.data(), n);
  MpAdd(span.data(), span.data(), one.data(), n);
  MpMod(a.data(), a.data(), n, span.data(), n);
  MpAdd(a.data(), a.data(), low.data(), n);
  MpMod(rest.data(), a.data(), n, step.data(), n);
  MpSub(a.data(), a.data(), rest.data(), n);
  MpAdd(a.data(), a.data(), one.data(), n);
  if (MpCompare(a.data(), low.data(), n) < 0) MpAdd(a.data(), a.data(), step.data(), n);
  if (MpCompare(a.data(), high.data(), n) > 0) MpSub(a.data(), a.data(), step.data(), n);
  MpSub(limit.data(), high.data(), step.data(), n);
  while (HasSmallFactor(a.data(), n) || !PlainFermat(a)) {
    if (MpCompare(a.data(), limit.data(), n) > 0) return Status::DataRange;
    MpAdd(a.data(), a.data(), step.data(), n);
  }
  *out = a;
  return Status::Ok;
}

Status Search(Number* out, const Number& low, const Number& high, const Number& step,
              RandomPool* pool) {
  return FindProbablePrime(out->data(), low.data(), high.data(), step.data(),
                           static_cast<uint32_t>(low.size()), pool);
}

TEST(HasSmallFactor, TableOfOneDigitNumbers) {
  struct Case {
    MpDigit value;
    bool expected;
  };
  const Case cases[] = {{9, true},   {25, true},  {49, true}, {121, true}, {13, false},
                        {341, true}, {561, true}, {3, false}, {5, false},  {7, false},
                        {11, false}, {2, false},  {1, false}, {15, true},  {2047, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(HasSmallFactor(&c.value, 1), c.expected) << c.value;
  }
}

TEST(HasSmallFactor, TheFourPrimesCountAsFactorsAtTwoDigits) {
  for (MpDigit s : {3u, 5u, 7u, 11u}) {
    const Number a = Small(s, 2);
    EXPECT_TRUE(HasSmallFactor(a.data(), 2)) << s;
  }
}

TEST(PassesFermatBase2, OddPrimesAndPseudoprimes) {
  for (MpDigit p : {3u, 5u, 7u, 11u, 13u, 65537u, 2147483647u, 4294967291u}) {
    EXPECT_TRUE(PassesFermatBase2(&p, 1)) << p;
  }
  // Base-2 pseudoprimes pass too; 2047 = 23 * 89 then also counts as a probable prime.
  for (MpDigit p : {341u, 561u, 1387u, 2047u, 4681u}) {
    EXPECT_TRUE(PassesFermatBase2(&p, 1)) << p;
  }
  EXPECT_TRUE(IsProbablePrime(Small(2047, 1).data(), 1));
  EXPECT_FALSE(IsProbablePrime(Small(341, 1).data(), 1));
  for (MpDigit c : {0u, 1u, 2u, 4u, 9u, 15u, 221u, 1001u}) {
    EXPECT_FALSE(PassesFermatBase2(&c, 1)) << c;
  }
  // 2^127 - 1 at several digit counts.
  Number m127(4, 0xFFFFFFFFu);
  m127[3] = 0x7FFFFFFFu;
  EXPECT_TRUE(IsProbablePrime(m127.data(), 4));
  m127.resize(6, 0);
  EXPECT_TRUE(IsProbablePrime(m127.data(), 6));
}

TEST(PassesFermatBase2, MatchesOracle) {
  test::Operands gen(21);
  test::BnCtx ctx(BN_CTX_new());
  test::Bn u(BN_new());
  const test::Bn two(BN_new());
  ASSERT_TRUE(BN_set_word(two.get(), 2));
  for (int round = 0; round < 300; ++round) {
    const uint32_t n = gen.Between(1, round < 250 ? 20 : MP_MAX_DIGITS);
    Number a = gen.Random(n, gen.Between(1, n));
    if (round % 5 == 0) a[0] &= ~1u;  // the even path too
    const test::Bn ba = test::ToBn(a);
    ASSERT_TRUE(BN_mod_exp(u.get(), two.get(), ba.get(), ba.get(), ctx.get()));
    ASSERT_EQ(PassesFermatBase2(a.data(), n), BN_is_word(u.get(), 2) == 1) << "round " << round;
  }
}

TEST(FindProbablePrime, SevenToSevenGivesSeven) {
  RandomPool pool = SeededPool(1);
  RandomPool before = pool;
  Number a(1, kFill);
  EXPECT_EQ(Search(&a, Small(7, 1), Small(7, 1), Small(2, 1), &pool), Status::Ok);
  EXPECT_EQ(a, Small(7, 1));
  // Exactly 4 bytes were drawn.
  uint8_t skip[4];
  ASSERT_EQ(RandomPoolDraw(skip, 4, &before), Status::Ok);
  EXPECT_EQ(std::memcmp(&pool, &before, sizeof pool), 0);
}

TEST(FindProbablePrime, NineToNineIsOutOfRange) {
  RandomPool pool = SeededPool(1);
  Number a(1, kFill);
  EXPECT_EQ(Search(&a, Small(9, 1), Small(9, 1), Small(2, 1), &pool), Status::DataRange);
  EXPECT_EQ(a, Number(1, kFill));
}

TEST(FindProbablePrime, UnseededPoolWritesNothing) {
  RandomPool pool;
  RandomPoolReset(&pool);
  Number a(2, kFill);
  EXPECT_EQ(Search(&a, Small(3, 2), Small(1000, 2), Small(2, 2), &pool), Status::NeedSeed);
  EXPECT_EQ(a, Number(2, kFill));
}

TEST(FindProbablePrime, ZeroStepIsRefused) {
  RandomPool pool = SeededPool(2);
  Number a(1, kFill);
  EXPECT_EQ(Search(&a, Small(8, 1), Small(10, 1), Small(0, 1), &pool), Status::DataRange);
  EXPECT_EQ(a, Number(1, kFill));
}

TEST(FindProbablePrime, PseudoprimeWithALargerFactorIsReturned) {
  // 1387 = 19 * 73 and 2047 = 23 * 89: the sieve sees the factor but must not skip them.
  for (MpDigit v : {1387u, 2047u}) {
    RandomPool pool = SeededPool(3);
    Number a(1, kFill);
    EXPECT_EQ(Search(&a, Small(v, 1), Small(v, 1), Small(2, 1), &pool), Status::Ok) << v;
    EXPECT_EQ(a, Small(v, 1));
  }
}

TEST(FindProbablePrime, SmallRangesAgreeWithThePlainWalk) {
  // Narrow one-digit ranges with various steps, including ranges holding no
  // probable prime and the small primes themselves.
  for (MpDigit low = 1; low < 400; low += 7) {
    for (MpDigit width : {0u, 3u, 10u, 40u}) {
      for (MpDigit step : {1u, 2u, 6u, 30u}) {
        RandomPool pool = SeededPool(static_cast<uint8_t>(low));
        RandomPool same = pool;
        Number fast(1, kFill), plain(1, kFill);
        const Status s1 =
            Search(&fast, Small(low, 1), Small(low + width, 1), Small(step, 1), &pool);
        const Status s2 =
            PlainSearch(&plain, Small(low, 1), Small(low + width, 1), Small(step, 1), &same);
        ASSERT_EQ(s1, s2) << low << " " << width << " " << step;
        if (s1 == Status::Ok) {
          ASSERT_EQ(fast, plain) << low << " " << width << " " << step;
        }
      }
    }
  }
}

void CompareWalks(uint32_t bits, int starts) {
  const uint32_t n = bits / 32;
  Number low(n), high(n), top(n);
  // The bounds of key generation: the two top bits set, up to 2^bits - 1.
  MpAssignPow2(low.data(), bits - 1, n);
  MpAssignPow2(top.data(), bits - 2, n);
  MpAdd(low.data(), low.data(), top.data(), n);
  high.assign(n, 0xFFFFFFFFu);
  const Number step = Small(2, n);
  for (int i = 0; i < starts; ++i) {
    RandomPool pool = SeededPool(static_cast<uint8_t>(i));
    uint8_t offset[8];
    for (int k = 0; k < i / 256 + 1; ++k) ASSERT_EQ(RandomPoolDraw(offset, 8, &pool), Status::Ok);
    RandomPool same = pool;
    Number fast(n, kFill), plain(n, kFill);
    ASSERT_EQ(Search(&fast, low, high, step, &pool), Status::Ok);
    ASSERT_EQ(PlainSearch(&plain, low, high, step, &same), Status::Ok);
    ASSERT_EQ(fast, plain) << bits << " bits, start " << i;
    ASSERT_EQ(std::memcmp(&pool, &same, sizeof pool), 0);
  }
}

TEST(FindProbablePrime, SievingWalkMatchesPlainWalkAt256Bits) { CompareWalks(256, 200); }
TEST(FindProbablePrime, SievingWalkMatchesPlainWalkAt512Bits) { CompareWalks(512, 100); }

TEST(FindProbablePrime, ResultIsAPrimeInRange) {
  RandomPool pool = SeededPool(9);
  const uint32_t n = 8;
  Number low(n), high(n, 0xFFFFFFFFu), top(n), a(n);
  MpAssignPow2(low.data(), 255, n);
  MpAssignPow2(top.data(), 254, n);
  MpAdd(low.data(), low.data(), top.data(), n);
  ASSERT_EQ(Search(&a, low, high, Small(2, n), &pool), Status::Ok);
  EXPECT_GE(MpCompare(a.data(), low.data(), n), 0);
  test::BnCtx ctx(BN_CTX_new());
  EXPECT_EQ(BN_check_prime(test::ToBn(a).get(), ctx.get(), nullptr), 1);
}

}  // namespace
}  // namespace marlinok::mp
