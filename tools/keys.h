// Containers and the references of their pairs, as the tool names them.
#ifndef MARLINOK_TOOLS_KEYS_H
#define MARLINOK_TOOLS_KEYS_H

#include <cstdint>
#include <string>
#include <vector>

#include "marlinok.h"

namespace marlinok::tool {

// Names longer than this end the token's own container list.
constexpr std::size_t kMaxNameBytes = 49;

// Why the tool will not make a container of this name, or "" when it will:
// an empty name, '\' (a path separator), '|' (the separator of the token's
// name lists), a control character, or more than kMaxNameBytes bytes.
std::string NameProblem(const std::string& name);

// A key reference as the token hands it out: the NUL-terminated registry
// path of one record.
class KeyReference {
 public:
  const DataBlob* Blob() {
    blob_ = DataBlob{static_cast<uint32_t>(bytes_.size()), bytes_.data()};
    return &blob_;
  }
  std::string Path() const {
    const std::string text(bytes_.begin(), bytes_.end());
    return text.substr(0, text.find('\0'));
  }

 private:
  friend int32_t FindPair(const std::string&, bool, KeyReference*, KeyReference*);
  std::vector<uint8_t> bytes_;
  DataBlob blob_{};
};

// The references of a container's signature or exchange pair, from
// QM_FindContainerAndKeypair. ERR_FAILED when the container does not exist
// or does not hold that pair.
int32_t FindPair(const std::string& container, bool exchange, KeyReference* publicKey,
                 KeyReference* privateKey);

// "no exchange pair in container 'alpha'" and the like.
std::string NoPair(const std::string& container, bool exchange);

// Prints the containers with their pairs, as `list` does; a container whose
// name the tool would refuse is left out with a line on stderr. Returns the
// exit status.
int ListContainers(bool json);

}  // namespace marlinok::tool

#endif
