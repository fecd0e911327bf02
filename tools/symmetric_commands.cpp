// marlinok-tool symkey: a new random 3DES or RC4 key file; and the checks of
// key files that the ciphers and key wrapping read.
#include <cstdio>

#include "cli.h"
#include "files.h"
#include "marlinok.h"
#include "symmetric.h"

namespace marlinok::tool {

bool ReadKeyFile(const std::string& path, uint32_t algId, Block* key, std::string* error) {
  const bool rc4 = algId == CALG_RC4;
  if (!ReadInput(path, 256, key, error,
                 rc4 ? "an RC4 key is 1 to 256 bytes" : "a DES key is 8 bytes, 3DES 16 or 24"))
    return false;
  const std::size_t n = key->size();
  const bool fits = algId == CALG_DES ? n == 8 : algId == CALG_3DES ? n == 16 || n == 24 : n >= 1;
  if (fits) return true;
  const char* wanted = algId == CALG_DES    ? "a DES key is 8 bytes"
                       : algId == CALG_3DES ? "a 3DES key is 16 or 24 bytes"
                                            : "an RC4 key is 1 to 256 bytes";
  *error = "'" + Printable(path) + "' holds " + std::to_string(n) +
           (n == 1 ? " byte: " : " bytes: ") + wanted;
  return false;
}

namespace {

int RunSymkey(const Args& args) {
  if (args.operands.size() != 1 || (args.operands[0] != "3des" && args.operands[0] != "rc4"))
    return UsageError(kSymkeyCommand, "3des or rc4 expected");
  const uint32_t algId = args.operands[0] == "3des" ? CALG_3DES : CALG_RC4;
  uint32_t length = algId == CALG_3DES ? 24 : 16;
  if (args.Has("length")) {
    const std::string v = args.Value("length");
    if (algId == CALG_3DES) return UsageError(kSymkeyCommand, "--length is for RC4 keys");
    if (v.empty() || v.size() > 2 || v.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(v) < 1 || std::stoul(v) > 16)
      return UsageError(kSymkeyCommand, "--length takes 1 to 16");
    length = static_cast<uint32_t>(std::stoul(v));
  }
  Block key(24);
  DataBlob blob{length, key.data()};
  const int32_t status = QM_GenSymmetricKey(algId, &blob, 0);
  if (status != ERR_OK) return Fail("key generation failed", status);
  key.resize(length);
  QM_DestroyKey(&blob);  // the tool keeps no key registered past its own run
  const std::string output = args.Value("out");
  if (output.empty()) {
    std::printf("%s\n", Hex(key.data(), key.size()).c_str());
    return kExitOk;
  }
  return Emit(output, key, FileMode::kSecret);
}

}  // namespace

const Command kSymkeyCommand{
    "symkey",
    "a new random 3DES (24 bytes) or RC4 key",
    "3des|rc4 [--length N (RC4: 1..16, default 16)] [-o KEYFILE]\n"
    "  (KEYFILE is created 0600)\n"
    "  example: marlinok-tool symkey 3des -o session.key",
    RunSymkey,
    {{"--length", "N", "length"}, {"-o", "KEYFILE", "out"}, {"--out", "KEYFILE", "out"}}};

}  // namespace marlinok::tool
