/* A program of another project using an installed marlinok: the version it
 * was compiled against, a SHA-1 digest, and a container made, listed and
 * removed on the hive MARLINOK_REGISTRY names. Built by scripts/package-test.sh
 * once with find_package(marlinok) (CMakeLists.txt here) and once with
 * `cc consumer.c $(pkg-config --cflags --libs marlinok)`. */
#include <marlinok.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  static const uint8_t kAbcSha1[20] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                                       0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};
  uint8_t message[3] = {'a', 'b', 'c'};
  uint8_t digest[20];
  uint32_t length = sizeof digest;
  char names[256] = {0};
  uint32_t namesLength = sizeof names - 1; /* the list stays NUL-terminated */

  printf("marlinok %s (%d.%d.%d)\n", MARLINOK_VERSION, MARLINOK_VERSION_MAJOR,
         MARLINOK_VERSION_MINOR, MARLINOK_VERSION_PATCH);
  if (QM_Digest(digest, &length, message, sizeof message, CALG_SHA1) != ERR_OK || length != 20 ||
      memcmp(digest, kAbcSha1, 20) != 0) {
    fputs("SHA-1 of \"abc\" is wrong\n", stderr);
    return 1;
  }
  if (QM_CreateContainer("consumer") != ERR_OK) {
    fputs("cannot create container 'consumer'\n", stderr);
    return 1;
  }
  if (QMCA_EnumKeyContainerName(names, &namesLength) != ERR_OK ||
      strstr(names, "consumer") == NULL) {
    fputs("container 'consumer' is not listed\n", stderr);
    return 1;
  }
  if (QM_DestroyContainer("consumer") != ERR_OK) {
    fputs("cannot remove container 'consumer'\n", stderr);
    return 1;
  }
  puts("consumer: digest, container made, listed and removed");
  return 0;
}
