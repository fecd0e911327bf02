// The probable-prime search: a random start in [low, high], made 1 mod step,
// then a walk upward by step to the first probable prime.
//
// The walk keeps the candidate's residues modulo the odd primes below 8192 and
// updates them by step's residues as it moves. They answer HasSmallFactor
// (3, 5, 7, 11) without a division, and they let the walk skip a candidate
// that cannot pass the Fermat test: if a prime s > 11 divides a and a passes
// (2^a mod a = 2), then 2^a = 2 mod s, and 2^a mod s = 2^(a mod (s - 1)) mod s.
// A candidate is skipped only when that value is not 2, so the walk returns
// exactly the candidate a test of every candidate would return. (For a = s
// itself the value is 2^1 = 2: a small prime is never skipped.)
#include <cstring>

#include "core/wipe.h"
#include "mp/mp.h"

namespace marlinok::mp {

namespace {

constexpr uint32_t kSieveLimit = 8192;
constexpr uint32_t kSievePrimes = 1027;  // odd primes below 8192

struct PrimeTable {
  uint16_t p[kSievePrimes];
};

constexpr PrimeTable MakePrimeTable() {
  PrimeTable table{};
  uint32_t count = 0;
  for (uint32_t v = 3; v < kSieveLimit && count < kSievePrimes; v += 2) {
    bool prime = true;
    for (uint32_t f = 3; f * f <= v; f += 2) {
      if (v % f == 0) {
        prime = false;
        break;
      }
    }
    if (prime) table.p[count++] = static_cast<uint16_t>(v);
  }
  return table;
}

constexpr PrimeTable kPrimes = MakePrimeTable();
static_assert(kPrimes.p[0] == 3 && kPrimes.p[1] == 5 && kPrimes.p[2] == 7 && kPrimes.p[3] == 11 &&
                  kPrimes.p[4] == 13,
              "the first four entries are the primes HasSmallFactor tries");
static_assert(kPrimes.p[kSievePrimes - 1] == 8191, "every odd prime below the limit is listed");

MpDigit DigitRemainder(const MpDigit* a, uint32_t n, uint32_t s) {
  uint64_t rest = 0;
  for (uint32_t i = n; i-- > 0;) rest = ((rest << 32) | a[i]) % s;
  return static_cast<MpDigit>(rest);
}

void Residues(uint16_t* out, const MpDigit* a, uint32_t n) {
  for (uint32_t k = 0; k < kSievePrimes; ++k) {
    out[k] = static_cast<uint16_t>(DigitRemainder(a, n, kPrimes.p[k]));
  }
}

uint32_t PowMod(uint32_t e, uint32_t s) {
  uint32_t result = 1 % s;
  uint32_t base = 2 % s;
  for (; e != 0; e >>= 1) {
    if (e & 1) result = result * base % s;
    base = base * base % s;
  }
  return result;
}

struct Walk {
  MpDigit a[MP_MAX_DIGITS];
  uint16_t residue[kSievePrimes];  // a mod p[k]
  uint16_t step_residue[kSievePrimes];
};

// HasSmallFactor from the residues, with its rule for one-digit numbers.
bool WalkHasSmallFactor(const Walk& w, uint32_t n) {
  for (uint32_t k = 0; k < 4; ++k) {
    if (n == 1 && w.a[0] == kPrimes.p[k]) return false;
    if (w.residue[k] == 0) return true;
  }
  return false;
}

// True when some prime s > 11 of the table shows that a fails the Fermat test.
bool SieveRulesOut(const Walk& w, uint32_t n) {
  for (uint32_t k = 4; k < kSievePrimes; ++k) {
    if (w.residue[k] != 0) continue;
    const uint32_t s = kPrimes.p[k];
    if (PowMod(DigitRemainder(w.a, n, s - 1), s) != 2) return true;
  }
  return false;
}

bool WalkIsProbablePrime(const Walk& w, uint32_t n) {
  if (WalkHasSmallFactor(w, n)) return false;
  if (SieveRulesOut(w, n)) return false;
  return PassesFermatBase2(w.a, n);
}

// a += step; the residues follow (recomputed when the sum wraps).
void WalkStep(Walk* w, const MpDigit* step, uint32_t n) {
  if (MpAdd(w->a, w->a, step, n) != 0) {
    Residues(w->residue, w->a, n);
    return;
  }
  for (uint32_t k = 0; k < kSievePrimes; ++k) {
    const uint32_t s = kPrimes.p[k];
    uint32_t r = uint32_t{w->residue[k]} + w->step_residue[k];
    r -= r >= s ? s : 0;
    w->residue[k] = static_cast<uint16_t>(r);
  }
}

}  // namespace

Status FindProbablePrime(MpDigit* a, const MpDigit* low, const MpDigit* high, const MpDigit* step,
                         uint32_t n, RandomPool* pool) noexcept {
  uint8_t bytes[4 * MP_MAX_DIGITS];
  WipeOnExit<decltype(bytes)> wipe_bytes(bytes);
  const Status drawn = RandomPoolDraw(bytes, 4 * n, pool);
  if (drawn != Status::Ok) return drawn;
  // A zero step would never move the walk.
  if (MpIsZero(step, n)) return Status::DataRange;

  Walk w;
  WipeOnExit<Walk> wipe_w(w);
  MpDigit one[MP_MAX_DIGITS], span[MP_MAX_DIGITS], rest[MP_MAX_DIGITS], limit[MP_MAX_DIGITS];
  MpAssignDigit(one, 1, n);
  MpDecode(w.a, n, bytes, 4 * n);

  // Into [low, high]: a mod (high - low + 1) + low. (A span that wraps to
  // zero, the whole digit range, leaves the drawn value as it is.)
  MpSub(span, high, low, n);
  MpAdd(span, span, one, n);
  MpMod(w.a, w.a, n, span, n);
  MpAdd(w.a, w.a, low, n);

  // a = a - (a mod step) + 1, then moved back into the range by one step.
  MpMod(rest, w.a, n, step, n);
  MpSub(w.a, w.a, rest, n);
  MpAdd(w.a, w.a, one, n);
  if (MpCompare(w.a, low, n) < 0) MpAdd(w.a, w.a, step, n);
  if (MpCompare(w.a, high, n) > 0) MpSub(w.a, w.a, step, n);

  MpSub(limit, high, step, n);
  Residues(w.residue, w.a, n);
  Residues(w.step_residue, step, n);
  while (!WalkIsProbablePrime(w, n)) {
    if (MpCompare(w.a, limit, n) > 0) return Status::DataRange;
    WalkStep(&w, step, n);
  }
  MpAssign(a, w.a, n);
  return Status::Ok;
}

}  // namespace marlinok::mp
