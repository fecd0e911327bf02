// Containers: the keys below the container root that hold a caller's pairs.
// Each operation takes the container store lock around its registry work;
// `name` is a valid container name (IsValidContainerName).
#ifndef MARLINOK_STORE_CONTAINERS_H
#define MARLINOK_STORE_CONTAINERS_H

#include "core/status.h"
#include "marlinok.h"

namespace marlinok::store {

// Ok when the container key was created; Failed when it exists already or
// cannot be created.
Status CreateContainer(const char* name);

// Fills the references of the pairs the container holds (a pair is present
// when both its records exist and are non-empty). Failed, nothing written,
// when the container is missing, holds no pair, or a reference the pair
// needs was not given.
Status FindContainerAndKeypair(const char* name, DataBlob* sigPublic, DataBlob* sigPrivate,
                               DataBlob* exPublic, DataBlob* exPrivate);

// Deletes the container key with its values; Failed when it is missing or
// has subkeys.
Status DestroyContainer(const char* name);

}  // namespace marlinok::store

#endif
