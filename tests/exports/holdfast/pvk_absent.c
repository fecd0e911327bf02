/* Without the sibling library every PVK call answers -1. */
#include <stdio.h>

#include "marlinok.h"

int main(void) {
  DataBlob blob = {0, NULL};
  if (QM_EnablePVK() != -1 || QM_DisabelPVK() != -1 || QM_IsPVKEnabeled() != -1 ||
      QM_SetPVKEnabelData(&blob) != -1) {
    puts("a PVK call did not fail");
    return 1;
  }
  return 0;
}
