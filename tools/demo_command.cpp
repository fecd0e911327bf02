// marlinok-tool demo: the token at work, one line per step with its time.
#include <chrono>
#include <cstdio>

#include "cli.h"
#include "marlinok.h"

namespace marlinok::tool {
namespace {

class Step {
 public:
  Step() : start_(std::chrono::steady_clock::now()) {}
  void Done(const std::string& what) {
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
            .count();
    std::printf("%9.2f ms  %s\n", ms, what.c_str());
    std::fflush(stdout);
    start_ = std::chrono::steady_clock::now();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

int RunDemo(const std::vector<std::string>& args) {
  if (args.size() > 1) return UsageError(kDemoCommand, "too many arguments");
  Step step;
  // The file given, or a well-known sentence.
  std::string subject = "\"The quick brown fox jumps over the lazy dog\"";
  std::vector<uint8_t> data(subject.begin() + 1, subject.end() - 1);
  if (args.size() == 1) {
    std::string error;
    if (!ReadFile(args[0], &data, &error)) return Fail(error);
    subject = "'" + args[0] + "'";
  }
  const uint8_t* bytes = data.data();
  const uint32_t length = static_cast<uint32_t>(data.size());

  uint8_t digest[20];
  uint32_t digestLength = sizeof digest;
  int32_t status = QM_Digest(digest, &digestLength, bytes, length, CALG_MD5);
  if (status != ERR_OK) return Fail("MD5 failed", status);
  step.Done("MD5 of " + subject + ": " + Hex(digest, 16));

  digestLength = sizeof digest;
  status = QM_Digest(digest, &digestLength, bytes, length, CALG_SHA1);
  if (status != ERR_OK) return Fail("SHA-1 failed", status);
  step.Done("SHA-1 of the same: " + Hex(digest, 20));

  uint8_t random[16];
  DataBlob blob{sizeof random, random};
  status = QM_GenRandom(&blob);
  if (status != ERR_OK) return Fail("random generator failed", status);
  step.Done("16 random bytes from the clock-seeded generator: " + Hex(random, 16));
  return kExitOk;
}

}  // namespace

const Command kDemoCommand{"demo", "shows the token at work, step by step",
                           "[FILE]\n  example: marlinok-tool demo README.md", RunDemo};

}  // namespace marlinok::tool
