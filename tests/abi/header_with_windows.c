/* A Windows program includes <windows.h> (and with it <wincrypt.h>) before the library's
 * header: the CryptoAPI numbers both define must not clash, and the stdcall exports must link
 * through the import library. */
#include <windows.h>

#include "marlinok.h"

int main(void) {
  uint8_t bytes[16];
  DataBlob random = {sizeof bytes, bytes};
  if (CALG_SHA1 != 0x8004u || CRYPT_MODE_CFB != 4u || KP_BLOCKLEN != 8u) return 1;
  if (QM_GenRandom(&random) != ERR_OK) return 2;
  return 0;
}
