#include "store/registry_layout.h"

#include <cstring>

namespace marlinok::store {

bool IsValidContainerName(const char* name) {
  return name != nullptr && name[0] != '\0' && std::strchr(name, '\\') == nullptr;
}

std::string ContainerPath(const char* name) {
  std::string path(kContainerRoot);
  path += '\\';
  path += name;
  return path;
}

uint32_t KeyReferenceLength(const char* name) {
  // root + '\' + name + '\' + six-character value name + NUL
  return static_cast<uint32_t>(sizeof kContainerRoot - 1 + 1 + std::strlen(name) + 1 + 6 + 1);
}

void FillKeyReference(DataBlob* ref, const std::string& containerPath, const char* valueName) {
  const std::size_t valueLength = std::strlen(valueName);
  ref->length = static_cast<uint32_t>(containerPath.size() + 1 + valueLength + 1);
  if (ref->data == nullptr) return;
  std::memcpy(ref->data, containerPath.data(), containerPath.size());
  ref->data[containerPath.size()] = '\\';
  std::memcpy(ref->data + containerPath.size() + 1, valueName, valueLength + 1);
}

Status SplitKeyReference(const DataBlob* reference, SplitReference* out) {
  if (reference == nullptr || reference->data == nullptr || reference->length == 0)
    return Status::Failed;
  const auto* text = reinterpret_cast<const char*>(reference->data);
  const void* nul = std::memchr(text, '\0', reference->length);
  if (nul == nullptr) return Status::Failed;
  const std::size_t pathLength = static_cast<std::size_t>(static_cast<const char*>(nul) - text);
  const char* lastBackslash = nullptr;
  for (std::size_t i = 0; i < pathLength; ++i) {
    if (text[i] == '\\') lastBackslash = text + i;
  }
  if (lastBackslash == nullptr) return Status::Failed;
  out->keyPath.assign(text, static_cast<std::size_t>(lastBackslash - text));
  out->valueName.assign(lastBackslash + 1, text + pathLength);
  return Status::Ok;
}

namespace {

// Equal as the registry compares names: ASCII letters fold to one case.
bool SameName(const std::string& a, const char* b) {
  const std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool IsRecordValueName(const std::string& name) {
  for (const PairValueNames* kind : {&kExchangePair, &kSignaturePair}) {
    if (SameName(name, kind->privateRecord) || SameName(name, kind->publicRecord)) return true;
  }
  return false;
}

}  // namespace

Status SplitRecordReference(const DataBlob* reference, SplitReference* out) {
  SplitReference split;
  if (SplitKeyReference(reference, &split) != Status::Ok) return Status::Failed;
  constexpr std::size_t kRootLength = sizeof kContainerRoot - 1;
  const std::string& path = split.keyPath;
  if (path.size() <= kRootLength + 1 || path[kRootLength] != '\\') return Status::Failed;
  if (!SameName(path.substr(0, kRootLength), kContainerRoot)) return Status::Failed;
  if (path.find('\\', kRootLength + 1) != std::string::npos) return Status::Failed;
  if (!IsRecordValueName(split.valueName)) return Status::Failed;
  *out = std::move(split);
  return Status::Ok;
}

Status KeyAlgorithm(const DataBlob* keyRef, uint32_t* algId) {
  SplitReference split;
  if (SplitKeyReference(keyRef, &split) != Status::Ok) return Status::Failed;
  const std::string& name = split.valueName;
  uint32_t answer = 0;
  if (name.find("PukExh") != std::string::npos || name.find("PvkExh") != std::string::npos)
    answer = CALG_RSA_KEYX;
  if (name.find("PukSig") != std::string::npos || name.find("PvkSig") != std::string::npos)
    answer = CALG_RSA_SIGN;
  *algId = answer;
  return Status::Ok;
}

}  // namespace marlinok::store
