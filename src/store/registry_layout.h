// Where the token keeps its state below HKEY_LOCAL_MACHINE, and the key
// reference: the NUL-terminated registry path of one record value,
// "Software\Quillmar\SoftContainerSimulator\<container>\<value>", whose
// length counts the NUL.
#ifndef MARLINOK_STORE_REGISTRY_LAYOUT_H
#define MARLINOK_STORE_REGISTRY_LAYOUT_H

#include <cstdint>
#include <string>

#include "core/status.h"
#include "marlinok.h"

namespace marlinok::store {

constexpr char kContainerRoot[] = "Software\\Quillmar\\SoftContainerSimulator";
constexpr char kExportableKeyRoot[] = "Software\\Quillmar\\ExportableKey";
constexpr char kCertificateStoreRoot[] = "Software\\Quillmar\\SoftStoreSimulator";

// Values of the container root and of an exportable-key entry.
constexpr char kPinValue[] = "Passwd";
constexpr char kExportableKeyValue[] = "Pvk";

// The pair-type bits callers name a kind of pair with: bit 0 the exchange
// pair, which wins when both are set, else bit 1 the signature pair.
constexpr uint32_t kExchangePairBit = 1;
constexpr uint32_t kSignaturePairBit = 2;

// The two kinds of pair a container holds, and the values of each.
struct PairValueNames {
  const char* privateRecord;
  const char* publicRecord;
  const char* property;
  const char* exportFlag;
  uint32_t algId;
};
constexpr PairValueNames kExchangePair{"PvkExh", "PukExh", "ExProperty", "ExExport", CALG_RSA_KEYX};
constexpr PairValueNames kSignaturePair{"PvkSig", "PukSig", "SigProperty", "SigExport",
                                        CALG_RSA_SIGN};

// A container name is the last component of its key path: an empty name
// would address the root (the PIN and every container), and a backslash would
// reach into another key, so both are refused.
bool IsValidContainerName(const char* name);

// "Software\Quillmar\SoftContainerSimulator\<name>".
std::string ContainerPath(const char* name);

// The length a key reference to a six-character value of container `name`
// has: the path's characters plus the NUL.
uint32_t KeyReferenceLength(const char* name);

// Sets ref->length to the reference length and, where ref->data is non-null,
// writes the NUL-terminated path of `valueName` in the container there.
void FillKeyReference(DataBlob* ref, const std::string& containerPath, const char* valueName);

// A key reference split at its last backslash.
struct SplitReference {
  std::string keyPath;
  std::string valueName;
};

// Splits a caller's key reference. Refuses (Failed) a null blob or data, a
// path that is not NUL-terminated within `length` bytes, and a path without a
// backslash; nothing past `length` bytes is read.
Status SplitKeyReference(const DataBlob* reference, SplitReference* out);

// A reference a record may be read through, the form the token hands out:
// the container root, a backslash, one non-empty container name, a backslash
// and one of PvkSig, PukSig, PvkExh, PukExh, compared as the registry compares
// names (ASCII letters in either case), NUL-terminated within `length` bytes.
// Failed for anything else (the PIN, a guarded key's value, a deeper key),
// which must be treated as unreadable.
Status SplitRecordReference(const DataBlob* reference, SplitReference* out);

// The algorithm of the pair a key reference names, from its value name alone:
// CALG_RSA_KEYX for "PukExh"/"PvkExh", CALG_RSA_SIGN for "PukSig"/"PvkSig"
// (tested last, so it wins when both appear), else 0. Failed for a malformed
// reference.
Status KeyAlgorithm(const DataBlob* keyRef, uint32_t* algId);

}  // namespace marlinok::store

#endif
