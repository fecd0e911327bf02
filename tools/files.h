// Files in and out of marlinok-tool. Inputs are read with a bound, or hashed
// piece by piece, never whole when they may be large; outputs appear whole or
// not at all, secrets with mode 0600.
#ifndef MARLINOK_TOOLS_FILES_H
#define MARLINOK_TOOLS_FILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace marlinok::tool {

using Block = std::vector<uint8_t>;

// The most one call of the token takes: its lengths are 32-bit.
constexpr uint64_t kOneCallBytes = 0xffffffffu;
// The most the tool reads of a file it needs whole (key blobs, PEM keys,
// keystore entries).
constexpr uint64_t kWholeFileBytes = uint64_t{16} << 20;
// Regular files up to this size are hashed by the token in one call.
constexpr uint64_t kTokenDigestBytes = uint64_t{16} << 20;

// Reads `path` whole when it holds at most `limit` bytes; never reads more
// than limit + 1. Fails with a one-line reason for a folder, a file that
// cannot be read, or one larger than the limit (`why` says what the limit is).
bool ReadInput(const std::string& path, uint64_t limit, Block* out, std::string* error,
               const std::string& why = "");

// The MD5 and SHA-1 digests of a file of any size (each only when asked for).
// A regular file of up to kTokenDigestBytes goes to the token's QM_Digest in
// one call; larger files and streams are hashed in 1 MiB pieces by OpenSSL,
// whose digests equal the token's (tests/tools compares the two on the same
// bytes).
struct Digests {
  Block md5;
  Block sha1;
};
bool HashInput(const std::string& path, bool md5, bool sha1, Digests* out, std::string* error);

// Secret outputs (private keys, symmetric keys, decrypted data) are created
// 0600; others 0666 less the umask.
enum class FileMode { kPublic, kSecret };

// Writes `bytes` to `path` all or nothing: into a temporary file in the same
// folder, flushed to disk, then renamed over `path`; a device or a pipe (say
// /dev/stdout) is written in place. On failure nothing is left behind and
// `error` says why.
bool WriteOutput(const std::string& path, const Block& bytes, FileMode mode, std::string* error);

// The bytes go to `path` when one was given (-o), else as hex to standard
// output. Returns the exit status.
int Emit(const std::string& path, const Block& bytes, FileMode mode);

}  // namespace marlinok::tool

#endif
