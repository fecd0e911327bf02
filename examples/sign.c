/* Signing with the token: make a container and a signature pair, sign the
 * SHA-1 digest of a message as a PKCS #1 v1.5 block, check the signature, and
 * remove the container again. Build: cc sign.c -lmarlinok */
#include <stdio.h>
#include <string.h>

#include "marlinok.h"

/* DigestInfo of a SHA-1 digest, as PKCS #1 v1.5 signatures carry it. */
static const uint8_t kSha1Prefix[15] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                        0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};

int main(void) {
  const char* container = "example";
  const char message[] = "hello, token";
  char publicPath[64], privatePath[64];
  DataBlob publicRef = {0, (uint8_t*)publicPath};
  DataBlob privateRef = {0, (uint8_t*)privatePath};
  uint8_t digest[20], block[128], signature[128], recovered[128];
  uint32_t length = sizeof digest;
  int32_t status;

  if (QM_CreateContainer(container) != ERR_OK) {
    fprintf(stderr, "container '%s' exists already\n", container);
    return 1;
  }
  /* A 1024-bit signature pair; the call fills both key references. */
  status = QM_GenAsymmetricKey(container, &publicRef, &privateRef, 1024, 0,
                               MARLINOK_PAIR_SIGNATURE);
  if (status != ERR_OK) goto fail;

  /* The token's RSA is raw: the caller hashes and formats the block. */
  status = QM_Digest(digest, &length, (const uint8_t*)message, sizeof message - 1, CALG_SHA1);
  if (status != ERR_OK) goto fail;
  memset(block, 0xff, sizeof block);
  block[0] = 0x00;
  block[1] = 0x01;
  block[sizeof block - 36] = 0x00;
  memcpy(block + sizeof block - 35, kSha1Prefix, sizeof kSha1Prefix);
  memcpy(block + sizeof block - 20, digest, sizeof digest);

  length = sizeof signature;
  status = QM_AsymmetricSignData(&privateRef, block, sizeof block, signature, &length,
                                 CALG_RSA_SIGN);
  if (status != ERR_OK) goto fail;

  /* Verification hands back the signed block; comparing it is the caller's part. */
  length = sizeof recovered;
  status = QM_AsymmetricVerifySign(&publicRef, recovered, &length, signature, sizeof signature,
                                   CALG_RSA_SIGN);
  if (status != ERR_OK) goto fail;
  printf("signed with %s: %s\n", privatePath,
         memcmp(recovered, block, sizeof block) == 0 ? "signature good" : "signature BAD");
  QM_DestroyContainer(container);
  return memcmp(recovered, block, sizeof block) == 0 ? 0 : 1;

fail:
  fprintf(stderr, "token call failed with status %d\n", (int)status);
  QM_DestroyContainer(container);
  return 1;
}
