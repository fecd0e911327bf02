/* A stand-in for the sibling library that owns the PVK calls: a flag and a
 * copy of the last data blob, enough to see that calls arrive unchanged. */
#include <string.h>

#include "marlinok.h"

static int32_t g_enabled = 0;
static uint8_t g_data[64];
static uint32_t g_length = 0;

__attribute__((visibility("default"))) int32_t QM_EnablePVK(void) {
  g_enabled = 1;
  return 0;
}

__attribute__((visibility("default"))) int32_t QM_DisabelPVK(void) {
  g_enabled = 0;
  return 0;
}

__attribute__((visibility("default"))) int32_t QM_IsPVKEnabeled(void) { return g_enabled; }

/* Returns the number of bytes kept, or 7 for a blob it cannot keep. */
__attribute__((visibility("default"))) int32_t QM_SetPVKEnabelData(const DataBlob* data) {
  if (data == NULL || data->length > sizeof g_data) return 7;
  memcpy(g_data, data->data, data->length);
  g_length = data->length;
  return (int32_t)g_length;
}
