// QM_GenAsymmetricKey: a new pair with e = 65537 from a clock-seeded pool of
// the call's own, stored into a container as its exchange or signature pair.
#include "core/wipe.h"
#include "frame/export_guard.h"
#include "marlinok.h"
#include "random/random_pool.h"
#include "rsa/key_generation.h"
#include "store/key_record_store.h"
#include "store/registry_layout.h"

namespace marlinok::rsa {
namespace {

Status GenAsymmetricKey(const char* containerName, DataBlob* publicRef, DataBlob* privateRef,
                        uint32_t modulusBits, uint32_t exportable, uint32_t pairType) {
  if (publicRef->data == nullptr || privateRef->data == nullptr) {
    // Both references name six-character values: "\PukExh", "\PvkSig", ...
    const uint32_t length = store::KeyReferenceLength(containerName);
    publicRef->length = length;
    privateRef->length = length;
    return Status::Ok;
  }

  PublicKeyRecord publicRecord{};
  PrivateKeyRecord privateRecord{};
  WipeOnExit<PrivateKeyRecord> wipePrivate(privateRecord);
  {
    RandomPool pool{};
    WipeOnExit<RandomPool> wipePool(pool);
    DataBlob poolBlob{sizeof pool, reinterpret_cast<uint8_t*>(&pool)};
    (void)SeedPoolFromClock(&poolBlob);
    const KeyPairParams params{modulusBits, 1};
    // A refused length or a failed prime search stores nothing, so a pair of
    // this kind already in the container survives.
    if (GenerateRsaKeyPair(&publicRecord, &privateRecord, &params, &pool) != Status::Ok)
      return Status::Failed;
  }

  const DataBlob publicBlob{sizeof publicRecord.bytes, publicRecord.bytes};
  const DataBlob privateBlob{sizeof privateRecord.bytes, privateRecord.bytes};
  return store::StoreKeyPair(containerName, pairType, exportable, &publicBlob, &privateBlob,
                             publicRef, privateRef)
             ? Status::Ok
             : Status::Failed;
}

}  // namespace
}  // namespace marlinok::rsa

extern "C" MARLINOK_API int32_t MARLINOK_CALL
QM_GenAsymmetricKey(const char* containerName, DataBlob* publicRef, DataBlob* privateRef,
                    uint32_t modulusBits, uint32_t exportable, uint32_t pairType) {
  using namespace marlinok;
  if (!store::IsValidContainerName(containerName) || publicRef == nullptr || privateRef == nullptr)
    return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    return ToInt(rsa::GenAsymmetricKey(containerName, publicRef, privateRef, modulusBits,
                                       exportable, pairType));
  });
}
