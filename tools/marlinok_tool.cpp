// marlinok-tool: the token from the command line.
#include <cstdio>

#include "marlinok.h"

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  uint8_t bytes[16];
  DataBlob blob{sizeof bytes, bytes};
  if (QM_GenRandom(&blob) != ERR_OK) return 1;
  for (uint8_t b : bytes) std::printf("%02x", b);
  std::printf("\n");
  return 0;
}
