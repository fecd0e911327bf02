/* Includes nothing of the library but its public header, and calls through it. */
#include <stdio.h>
#include <string.h>

#include "marlinok.h"

int main(void) {
  char version[32];
  uint32_t length = 0;
  uint8_t digest[20];
  DataBlob random = {0, NULL};
  (void)digest;
  /* The version string and its numbers say the same. */
  snprintf(version, sizeof version, "%d.%d.%d", MARLINOK_VERSION_MAJOR, MARLINOK_VERSION_MINOR,
           MARLINOK_VERSION_PATCH);
  if (strcmp(version, MARLINOK_VERSION) != 0) return 4;
  if (ERR_DES_KEY >= 0 || ERR_BLOCK_LENGTH >= 0) return 1;
  if (QM_GenRandom(&random) != ERR_OK) return 2;
  if (QM_Digest(NULL, &length, NULL, 0, CALG_SHA1) != ERR_OK || length != 20) return 3;
  puts("ok");
  return 0;
}
