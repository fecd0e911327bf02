#include "core/wipe.h"
#include "mp/mp.h"
#include "rsa/rsa_block_ops.h"

namespace marlinok::rsa {

using namespace marlinok::mp;

Status RsaPublicRaw(uint8_t* output, uint32_t* outputLength, const uint8_t* input,
                    uint32_t inputLength, const PublicKeyRecord* record) noexcept {
  MpDigit m[MP_MAX_DIGITS];
  MpDigit c[MP_MAX_DIGITS];
  MpDigit n[MP_MAX_DIGITS];
  MpDigit e[MP_MAX_DIGITS];
  WipeOnExit<decltype(m)> wipeM(m);
  WipeOnExit<decltype(c)> wipeC(c);
  MpDecode(m, MP_MAX_DIGITS, input, inputLength);
  MpDecode(n, MP_MAX_DIGITS, record->bytes + kModulusOffset, RSA_MODULUS_BYTES);
  MpDecode(e, MP_MAX_DIGITS, record->bytes + kPublicExponentOffset, RSA_MODULUS_BYTES);
  const uint32_t nn = MpDigitCount(n, MP_MAX_DIGITS);
  const uint32_t en = MpDigitCount(e, MP_MAX_DIGITS);

  // A zero modulus (nn = 0) compares equal here and is refused as well.
  if (MpCompare(m, n, nn) >= 0) return Status::DataRange;
  MpModExpPublic(c, m, e, en, n, nn);

  const uint32_t k = ModulusBytes(ReadModulusBits(record->bytes));
  MpEncode(output, k, c, nn);
  *outputLength = k;
  return Status::Ok;
}

}  // namespace marlinok::rsa
