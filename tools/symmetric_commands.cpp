// Symmetric keys and file encryption with them: `symkey` makes a key file,
// and `encrypt`/`decrypt` with --3des, --des or --rc4 KEYFILE run the token's
// ciphers over a file (zero IV; ECB and CBC padded as PKCS #5, so the result
// matches `openssl enc -nosalt -K KEY -iv 0000000000000000`).
#include <cstdio>

#include "cli.h"
#include "rsa_blocks.h"

namespace marlinok::tool {
namespace {

struct SymmetricOptions {
  uint32_t algId = 0;
  uint32_t mode = CRYPT_MODE_CBC;
  std::string keyFile;
  std::string input;
  std::string output;
};

bool ParseMode(const std::string& name, uint32_t* mode) {
  static const struct {
    const char* name;
    uint32_t mode;
  } kModes[] = {{"cbc", CRYPT_MODE_CBC},
                {"ecb", CRYPT_MODE_ECB},
                {"ofb", CRYPT_MODE_OFB},
                {"cfb", CRYPT_MODE_CFB}};
  for (const auto& m : kModes) {
    if (name == m.name) {
      *mode = m.mode;
      return true;
    }
  }
  return false;
}

// Fills `o` from the arguments; a non-empty problem means a usage error.
std::string ParseSymmetric(const std::vector<std::string>& args, SymmetricOptions* o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if ((a == "--3des" || a == "--des" || a == "--rc4") && hasValue) {
      o->algId = a == "--3des" ? CALG_3DES : a == "--des" ? CALG_DES : CALG_RC4;
      o->keyFile = args[++i];
    } else if (a == "--mode" && hasValue) {
      if (!ParseMode(args[++i], &o->mode)) return "--mode is cbc, ecb, ofb or cfb";
    } else if ((a == "-o" || a == "--out") && hasValue) {
      o->output = args[++i];
    } else if (!a.empty() && a[0] == '-') {
      return "unknown option '" + a + "'";
    } else if (o->input.empty()) {
      o->input = a;
    } else {
      return "one FILE expected";
    }
  }
  if (o->input.empty()) return "FILE expected";
  return "";
}

bool Padded(const SymmetricOptions& o) {
  return o.algId != CALG_RC4 && (o.mode == CRYPT_MODE_CBC || o.mode == CRYPT_MODE_ECB);
}

int RunCipher(const Command& command, const std::vector<std::string>& args, bool encrypt) {
  SymmetricOptions o;
  const std::string problem = ParseSymmetric(args, &o);
  if (!problem.empty()) return UsageError(command, problem);
  Block keyBytes, data;
  std::string error;
  if (!ReadFile(o.keyFile, &keyBytes, &error) || !ReadFile(o.input, &data, &error))
    return Fail(error);
  if (encrypt && Padded(o)) {
    const std::size_t pad = 8 - data.size() % 8;
    data.insert(data.end(), pad, static_cast<uint8_t>(pad));
  }
  DataBlob key{static_cast<uint32_t>(keyBytes.size()), keyBytes.data()};
  Block out(data.size());
  uint32_t outLength = static_cast<uint32_t>(out.size());
  const auto length = static_cast<uint32_t>(data.size());
  const int32_t status = encrypt ? QM_SymmetricEncrypt(&key, 0, 0, data.data(), length, out.data(),
                                                       &outLength, o.algId, o.mode)
                                 : QM_SymmetryDecrypt(&key, 0, 0, data.data(), length, out.data(),
                                                      &outLength, o.algId, o.mode);
  if (status == ERR_DES_KEY) return Fail("the key is a weak DES key", status);
  if (status == ERR_BLOCK_LENGTH)
    return Fail("the data (or a single-DES key) has the wrong length", status);
  if (status != ERR_OK) return Fail(encrypt ? "encryption failed" : "decryption failed", status);
  if (!encrypt && Padded(o)) {
    const uint8_t pad = out.empty() ? 0 : out.back();
    if (pad < 1 || pad > 8 || pad > out.size()) return Fail("wrong key, or not padded data");
    out.resize(out.size() - pad);
  }
  return Emit(o.output, out);
}

int RunSymkey(const std::vector<std::string>& args) {
  uint32_t algId = 0;
  uint32_t length = 24;
  std::string output;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "3des") {
      algId = CALG_3DES;
    } else if (a == "rc4") {
      algId = CALG_RC4;
      if (length == 24) length = 16;
    } else if (a == "--length" && i + 1 < args.size()) {
      const std::string& v = args[++i];
      if (v.empty() || v.size() > 2 || v.find_first_not_of("0123456789") != std::string::npos)
        return UsageError(kSymkeyCommand, "--length takes 1 to 16");
      length = static_cast<uint32_t>(std::stoul(v));
      if (length < 1 || length > 16) return UsageError(kSymkeyCommand, "--length takes 1 to 16");
    } else if ((a == "-o" || a == "--out") && i + 1 < args.size()) {
      output = args[++i];
    } else {
      return UsageError(kSymkeyCommand, "unknown argument '" + a + "'");
    }
  }
  if (algId == 0) return UsageError(kSymkeyCommand, "3des or rc4 expected");
  if (algId == CALG_3DES) length = 24;
  Block key(24);
  DataBlob blob{length, key.data()};
  const int32_t status = QM_GenSymmetricKey(algId, &blob, 0);
  if (status != ERR_OK) return Fail("key generation failed (RC4 keys are 1 to 16 bytes)", status);
  key.resize(length);
  QM_DestroyKey(&blob);  // the tool keeps no key registered past its own run
  if (output.empty()) {
    std::printf("%s\n", Hex(key.data(), key.size()).c_str());
  } else if (!WriteFile(output, key)) {
    return Fail("cannot write '" + output + "'");
  }
  return kExitOk;
}

}  // namespace

bool WantsSymmetricCipher(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--3des" || a == "--des" || a == "--rc4") return true;
  return false;
}

int RunSymmetricEncrypt(const std::vector<std::string>& args) {
  return RunCipher(kEncryptCommand, args, true);
}

int RunSymmetricDecrypt(const std::vector<std::string>& args) {
  return RunCipher(kDecryptCommand, args, false);
}

const Command kSymkeyCommand{"symkey", "a new random 3DES (24 bytes) or RC4 key",
                             "3des|rc4 [--length N (RC4: 1..16, default 16)] [-o KEYFILE]\n"
                             "  example: marlinok-tool symkey 3des -o session.key",
                             RunSymkey};

}  // namespace marlinok::tool
