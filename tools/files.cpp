#include "files.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli.h"
#include "marlinok.h"

#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_NOCTTY
#define O_NOCTTY 0
#endif

namespace marlinok::tool {
namespace {

constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

std::string Quote(const std::string& path) { return "'" + Printable(path) + "'"; }

std::string ErrnoText() { return std::strerror(errno); }

// A file descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  // Closes now and reports whether the close succeeded.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

// Opens an input file; refuses a folder.
int OpenInput(const std::string& path, struct stat* info, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_BINARY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *error = "cannot read " + Quote(path) + ": " + ErrnoText();
    return -1;
  }
  if (fstat(fd, info) != 0) {
    *error = "cannot read " + Quote(path) + ": " + ErrnoText();
    close(fd);
    return -1;
  }
  if (S_ISDIR(info->st_mode)) {
    *error = Quote(path) + " is a folder, not a file";
    close(fd);
    return -1;
  }
  return fd;
}

// Appends what is left of `fd` to `out`, up to `most` bytes in all.
bool ReadUpTo(int fd, const std::string& path, uint64_t most, Block* out, std::string* error) {
  while (out->size() < most) {
    const std::size_t room = static_cast<std::size_t>(
        std::min<uint64_t>(most - out->size(), static_cast<uint64_t>(kPieceBytes)));
    const std::size_t before = out->size();
    out->resize(before + room);
    const auto got = read(fd, out->data() + before, static_cast<unsigned>(room));
    if (got < 0) {
      out->resize(before);
      if (errno == EINTR) continue;
      *error = "cannot read " + Quote(path) + ": " + ErrnoText();
      return false;
    }
    out->resize(before + static_cast<std::size_t>(got));
    if (got == 0) break;
  }
  return true;
}

std::string TooLarge(const std::string& path, uint64_t limit, const std::string& why) {
  return Quote(path) + " is larger than " + std::to_string(limit) + " bytes" +
         (why.empty() ? "" : ", " + why);
}

// OpenSSL's MD5 and SHA-1 over pieces of a stream.
class StreamHash {
 public:
  StreamHash(bool md5, bool sha1) {
    if (md5) Start(&md5_, EVP_md5());
    if (sha1) Start(&sha1_, EVP_sha1());
  }
  bool Ok() const { return ok_; }
  void Update(const uint8_t* data, std::size_t length) {
    for (EVP_MD_CTX* ctx : {md5_.get(), sha1_.get()})
      if (ctx != nullptr && EVP_DigestUpdate(ctx, data, length) != 1) ok_ = false;
  }
  bool Finish(Digests* out) {
    return ok_ && Final(md5_.get(), &out->md5) && Final(sha1_.get(), &out->sha1);
  }

 private:
  using Ctx = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
  void Start(Ctx* ctx, const EVP_MD* md) {
    ctx->reset(EVP_MD_CTX_new());
    if (!*ctx || EVP_DigestInit_ex(ctx->get(), md, nullptr) != 1) ok_ = false;
  }
  static bool Final(EVP_MD_CTX* ctx, Block* out) {
    if (ctx == nullptr) return true;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx, digest, &length) != 1) return false;
    out->assign(digest, digest + length);
    return true;
  }
  Ctx md5_{nullptr, &EVP_MD_CTX_free};
  Ctx sha1_{nullptr, &EVP_MD_CTX_free};
  bool ok_ = true;
};

bool TokenDigest(uint32_t algId, const Block& data, Block* out, std::string* error) {
  Block digest(20);
  uint32_t length = static_cast<uint32_t>(digest.size());
  const int32_t status =
      QM_Digest(digest.data(), &length, data.data(), static_cast<uint32_t>(data.size()), algId);
  if (status != ERR_OK) {
    *error = "the token's digest failed (" + StatusName(status) + ")";
    return false;
  }
  digest.resize(algId == CALG_MD5 ? 16 : 20);
  *out = digest;
  return true;
}

bool WriteAll(int fd, const Block& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t piece = std::min(bytes.size() - done, kPieceBytes);
    const auto wrote = write(fd, bytes.data() + done, static_cast<unsigned>(piece));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

#ifdef _WIN32
bool SyncFile(int fd) { return _commit(fd) == 0; }
#else
bool SyncFile(int fd) { return fsync(fd) == 0; }
#endif

// A device or a pipe named as the output: written in place (appended, for a
// file reached through /dev/stdout), every step checked.
bool WriteInPlace(const std::string& path, const Block& bytes, std::string* error) {
  Fd fd(open(path.c_str(), O_WRONLY | O_APPEND | O_BINARY | O_CLOEXEC | O_NOCTTY));
  if (fd.Get() < 0 || !WriteAll(fd.Get(), bytes)) {
    *error = "cannot write " + Quote(path) + ": " + ErrnoText();
    return false;
  }
  // Devices and pipes may not sync: that is no failure of the write.
  if (!SyncFile(fd.Get()) && errno != EINVAL && errno != EROFS && errno != ENOTSUP) {
    *error = "cannot write " + Quote(path) + ": " + ErrnoText();
    return false;
  }
  if (!fd.Close()) {
    *error = "cannot write " + Quote(path) + ": " + ErrnoText();
    return false;
  }
  return true;
}

#ifdef _WIN32
// No rename over an existing file here: the file is written directly, and
// removed again when any step fails.
bool WriteReplacing(const std::string& path, const Block& bytes, FileMode, std::string* error) {
  Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0600));
  const bool written = fd.Get() >= 0 && WriteAll(fd.Get(), bytes) && SyncFile(fd.Get());
  const int saved = errno;
  if (fd.Get() < 0) {
    *error = "cannot write " + Quote(path) + ": " + std::strerror(saved);
    return false;
  }
  if (!fd.Close() || !written) {
    *error = "cannot write " + Quote(path) + ": " + std::strerror(written ? errno : saved);
    std::remove(path.c_str());
    return false;
  }
  return true;
}
#else
// The folder of `path` ("." for a bare name).
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteReplacing(const std::string& given, const Block& bytes, FileMode mode,
                    std::string* error) {
  // A link is followed: the file it names is replaced, the link stays.
  std::string path = given;
  struct stat link {};
  if (lstat(given.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    if (char* real = realpath(given.c_str(), nullptr)) {
      path = real;
      std::free(real);
    }
  }
  const std::string folder = FolderOf(path);
  std::string temporary = folder + "/.marlinok-tool-XXXXXX";
  const int raw = mkstemp(&temporary[0]);  // created 0600
  if (raw < 0) {
    *error = "cannot write " + Quote(given) + ": " + ErrnoText();
    return false;
  }
  Fd fd(raw);
  int failure = 0;  // the first step's errno
  const auto step = [&failure](bool done) {
    if (!done && failure == 0) failure = errno != 0 ? errno : EIO;
  };
  if (mode == FileMode::kPublic) {
    const mode_t mask = umask(0);
    umask(mask);
    step(fchmod(fd.Get(), 0666 & ~mask) == 0);
  }
  if (failure == 0) step(WriteAll(fd.Get(), bytes));
  if (failure == 0) step(SyncFile(fd.Get()));
  step(fd.Close());
  if (failure == 0) step(rename(temporary.c_str(), path.c_str()) == 0);
  if (failure != 0) {
    *error = "cannot write " + Quote(given) + ": " + std::strerror(failure);
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const int dir = open(folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}
#endif

}  // namespace

bool ReadInput(const std::string& path, uint64_t limit, Block* out, std::string* error,
               const std::string& why) {
  struct stat info {};
  Fd fd(OpenInput(path, &info, error));
  if (fd.Get() < 0) return false;
  if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > limit) {
    *error = TooLarge(path, limit, why);
    return false;
  }
  out->clear();
  if (S_ISREG(info.st_mode)) out->reserve(static_cast<std::size_t>(info.st_size));
  if (!ReadUpTo(fd.Get(), path, limit + 1, out, error)) return false;
  if (out->size() > limit) {
    *error = TooLarge(path, limit, why);
    return false;
  }
  return true;
}

bool HashInput(const std::string& path, bool md5, bool sha1, Digests* out, std::string* error) {
  struct stat info {};
  Fd fd(OpenInput(path, &info, error));
  if (fd.Get() < 0) return false;
  *out = Digests{};
  Block piece;
  if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) <= kTokenDigestBytes) {
    if (!ReadUpTo(fd.Get(), path, kTokenDigestBytes + 1, &piece, error)) return false;
    if (piece.size() <= kTokenDigestBytes) {
      return (!md5 || TokenDigest(CALG_MD5, piece, &out->md5, error)) &&
             (!sha1 || TokenDigest(CALG_SHA1, piece, &out->sha1, error));
    }
    // The file grew while it was read: it is hashed as a stream.
  }
  StreamHash hash(md5, sha1);
  hash.Update(piece.data(), piece.size());
  for (;;) {
    piece.clear();
    if (!ReadUpTo(fd.Get(), path, kPieceBytes, &piece, error)) return false;
    if (piece.empty()) break;
    hash.Update(piece.data(), piece.size());
  }
  if (!hash.Finish(out)) {
    *error = "OpenSSL cannot hash " + Quote(path);
    return false;
  }
  return true;
}

bool WriteOutput(const std::string& path, const Block& bytes, FileMode mode, std::string* error) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      *error = "cannot write " + Quote(path) + ": it is a folder";
      return false;
    }
    // /dev/stdout and its kin may lead to a regular file, which the shell
    // opened: never replaced behind its back.
    const bool device = path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
    if (!S_ISREG(info.st_mode) || device) return WriteInPlace(path, bytes, error);
  }
  return WriteReplacing(path, bytes, mode, error);
}

int Emit(const std::string& path, const Block& bytes, FileMode mode) {
  if (path.empty()) {
    std::printf("%s\n", Hex(bytes.data(), bytes.size()).c_str());
    return kExitOk;
  }
  std::string error;
  if (!WriteOutput(path, bytes, mode, &error)) return Fail(error);
  return kExitOk;
}

}  // namespace marlinok::tool
