#include "keys.h"

#include "cli.h"

namespace marlinok::tool {

std::string NameProblem(const std::string& name) {
  if (name.empty()) return "a container name cannot be empty";
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') return "a container name cannot hold '\\'";
    if (c == '|') return "a container name cannot hold '|' (it separates the token's name lists)";
    if (byte < 0x20 || byte == 0x7f) return "a container name cannot hold control characters";
  }
  if (name.size() > kMaxNameBytes)
    return "a container name is at most " + std::to_string(kMaxNameBytes) +
           " bytes long (this is " + std::to_string(name.size()) + ")";
  return "";
}

int32_t FindPair(const std::string& container, bool exchange, KeyReference* publicKey,
                 KeyReference* privateKey) {
  // A size query first: the call writes whole references without a length check.
  DataBlob refs[4] = {};
  int32_t status =
      QM_FindContainerAndKeypair(container.c_str(), &refs[0], &refs[1], &refs[2], &refs[3]);
  if (status != ERR_OK) return status;
  const int first = exchange ? 2 : 0;
  if (refs[first].length == 0 || refs[first + 1].length == 0) return ERR_FAILED;
  std::vector<uint8_t> storage[4];
  for (int i = 0; i < 4; ++i) {
    storage[i].assign(refs[i].length + 1, 0);  // + 1: a NUL even past a short answer
    refs[i].data = storage[i].data();
  }
  status = QM_FindContainerAndKeypair(container.c_str(), &refs[0], &refs[1], &refs[2], &refs[3]);
  if (status != ERR_OK) return status;
  if (refs[first].length == 0 || refs[first + 1].length == 0) return ERR_FAILED;
  storage[first].resize(refs[first].length);
  storage[first + 1].resize(refs[first + 1].length);
  publicKey->bytes_ = storage[first];
  privateKey->bytes_ = storage[first + 1];
  return ERR_OK;
}

std::string NoPair(const std::string& container, bool exchange) {
  return std::string("no ") + (exchange ? "exchange" : "signature") + " pair in container '" +
         Printable(container) + "'";
}

}  // namespace marlinok::tool
