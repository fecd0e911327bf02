// marlinok-tool genkey: a new RSA pair in a container, with a spinner and the
// elapsed time on a terminal (2048-bit generation takes a while).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>

#include "cli.h"
#include "hive.h"
#include "keys.h"
#include "marlinok.h"

namespace marlinok::tool {
namespace {

int32_t Generate(const std::string& container, uint32_t bits, uint32_t exportable,
                 uint32_t pairType, std::string* publicRef, std::string* privateRef) {
  DataBlob pub{0, nullptr}, priv{0, nullptr};
  int32_t status = QM_GenAsymmetricKey(container.c_str(), &pub, &priv, bits, exportable, pairType);
  if (status != ERR_OK) return status;
  std::string pubPath(pub.length, '\0'), privPath(priv.length, '\0');
  pub.data = reinterpret_cast<uint8_t*>(&pubPath[0]);
  priv.data = reinterpret_cast<uint8_t*>(&privPath[0]);
  status = QM_GenAsymmetricKey(container.c_str(), &pub, &priv, bits, exportable, pairType);
  if (status != ERR_OK) return status;
  *publicRef = pubPath.c_str();
  *privateRef = privPath.c_str();
  return ERR_OK;
}

int RunGenkey(const Args& args) {
  if (args.operands.size() != 1) return UsageError(kGenkeyCommand, "one CONTAINER expected");
  const std::string& container = args.operands[0];
  uint32_t bits = 1024;
  if (args.Has("bits")) {
    const std::string value = args.Value("bits");
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
        value.size() > 5)
      return UsageError(kGenkeyCommand, "--bits takes a number");
    bits = static_cast<uint32_t>(std::stoul(value));
  }
  if (bits < 508 || bits > 2048) return UsageError(kGenkeyCommand, "--bits must be 508 to 2048");
  const uint32_t pairType =
      args.Chosen("pair") == "--exchange" ? MARLINOK_PAIR_EXCHANGE : MARLINOK_PAIR_SIGNATURE;
  const uint32_t exportable = args.Has("exportable") ? 1 : 0;
  // The pair's container is made when it does not exist yet.
  if (const std::string problem = NameProblem(container); !problem.empty())
    return Fail("cannot generate into '" + Printable(container) + "': " + problem);
  if (const int failed = RequireRegistry()) return failed;

  std::string publicRef, privateRef;
  const auto start = std::chrono::steady_clock::now();
  std::future<int32_t> work = std::async(std::launch::async, [&] {
    return Generate(container, bits, exportable, pairType, &publicRef, &privateRef);
  });
  const bool terminal = isatty(STDERR_FILENO) != 0;
  static const char kSpinner[] = "|/-\\";
  for (unsigned turn = 0;
       work.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready; ++turn) {
    if (!terminal) continue;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "\rgenerating a %u-bit key %c %.1f s", bits, kSpinner[turn % 4], seconds);
    std::fflush(stderr);
  }
  const int32_t status = work.get();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (terminal) std::fprintf(stderr, "\r%40s\r", "");
  if (status != ERR_OK) return Fail("key generation into '" + container + "' failed", status);
  std::printf("%u-bit %s pair in '%s' (%.2f s)\npublic:  %s\nprivate: %s\n", bits,
              pairType == MARLINOK_PAIR_EXCHANGE ? "exchange" : "signature", container.c_str(),
              seconds, publicRef.c_str(), privateRef.c_str());
  return kExitOk;
}

}  // namespace

const Command kGenkeyCommand{
    "genkey",
    "generates an RSA key pair into a container",
    "CONTAINER [--bits N (508..2048, default 1024)] [--exchange|--signature] [--exportable]\n"
    "  (a private key leaves the token with export --format private-blob only when it was\n"
    "  generated --exportable)\n"
    "  example: marlinok-tool genkey alpha --bits 2048",
    RunGenkey,
    {{"--bits", "N", "bits"},
     {"--exchange", nullptr, "pair"},
     {"--signature", nullptr, "pair"},
     {"--exportable", nullptr, "exportable"}}};

}  // namespace marlinok::tool
