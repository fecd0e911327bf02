#include "pkcs11/rsa_mechanisms.h"

#include <cstring>

#include "core/constant_time.h"
#include "core/wipe.h"
#include "pkcs11/digests.h"
#include "pkcs11/os_random.h"
#include "rsa/key_record.h"
#include "token/key_operation.h"

namespace marlinok::pkcs11 {
namespace {

struct MechanismShape {
  CK_MECHANISM_TYPE mechanism;
  CK_MECHANISM_TYPE hash;  // hashed inside the mechanism, else CKM_VENDOR_DEFINED
  bool pss, oaep, raw;
  bool signs, encrypts;
};

constexpr CK_MECHANISM_TYPE kNone = CKM_VENDOR_DEFINED;

const MechanismShape kShapes[] = {
    {CKM_RSA_PKCS, kNone, false, false, false, true, true},
    {CKM_RSA_X_509, kNone, false, false, true, true, true},
    {CKM_RSA_PKCS_OAEP, kNone, false, true, false, false, true},
    {CKM_RSA_PKCS_PSS, kNone, true, false, false, true, false},
    {CKM_MD5_RSA_PKCS, CKM_MD5, false, false, false, true, false},
    {CKM_SHA1_RSA_PKCS, CKM_SHA_1, false, false, false, true, false},
    {CKM_SHA224_RSA_PKCS, CKM_SHA224, false, false, false, true, false},
    {CKM_SHA256_RSA_PKCS, CKM_SHA256, false, false, false, true, false},
    {CKM_SHA384_RSA_PKCS, CKM_SHA384, false, false, false, true, false},
    {CKM_SHA512_RSA_PKCS, CKM_SHA512, false, false, false, true, false},
    {CKM_SHA1_RSA_PKCS_PSS, CKM_SHA_1, true, false, false, true, false},
    {CKM_SHA224_RSA_PKCS_PSS, CKM_SHA224, true, false, false, true, false},
    {CKM_SHA256_RSA_PKCS_PSS, CKM_SHA256, true, false, false, true, false},
    {CKM_SHA384_RSA_PKCS_PSS, CKM_SHA384, true, false, false, true, false},
    {CKM_SHA512_RSA_PKCS_PSS, CKM_SHA512, true, false, false, true, false},
};

const MechanismShape* ShapeOf(CK_MECHANISM_TYPE mechanism) {
  for (const MechanismShape& s : kShapes)
    if (s.mechanism == mechanism) return &s;
  return nullptr;
}

bool Mgf1(CK_MECHANISM_TYPE hash, const uint8_t* seed, std::size_t seedLength, uint8_t* mask,
          std::size_t maskLength) {
  const std::size_t h = DigestSize(hash);
  if (h == 0) return false;
  Bytes block(h);
  for (uint32_t counter = 0, done = 0; done < maskLength; ++counter) {
    auto hasher = NewHasher(hash);
    hasher->Update(seed, seedLength);
    const uint8_t c[4] = {static_cast<uint8_t>(counter >> 24), static_cast<uint8_t>(counter >> 16),
                          static_cast<uint8_t>(counter >> 8), static_cast<uint8_t>(counter)};
    hasher->Update(c, 4);
    hasher->Final(block.data());
    const std::size_t part = maskLength - done < h ? maskLength - done : h;
    for (std::size_t i = 0; i < part; ++i) mask[done + i] ^= block[i];
    done += static_cast<uint32_t>(part);
  }
  return true;
}

// EMSA-PKCS1-v1_5 / type 1: 00 01 FF.. 00 T into k bytes.
CK_RV EncodeType1(const Bytes& t, std::size_t k, Bytes* block) {
  if (t.size() + 11 > k) return CKR_DATA_LEN_RANGE;
  block->assign(k, 0xff);
  (*block)[0] = 0x00;
  (*block)[1] = 0x01;
  (*block)[k - t.size() - 1] = 0x00;
  std::memcpy(block->data() + k - t.size(), t.data(), t.size());
  return CKR_OK;
}

// EMSA-PSS-ENCODE into k bytes (a leading zero byte when emBits leaves one).
CK_RV EncodePss(const Bytes& mHash, CK_MECHANISM_TYPE hash, CK_MECHANISM_TYPE mgfHash,
                std::size_t saltLength, uint32_t modulusBits, std::size_t k, Bytes* block) {
  const std::size_t h = DigestSize(hash);
  const uint32_t emBits = modulusBits - 1;
  const std::size_t emLength = (emBits + 7) / 8;
  if (mHash.size() != h) return CKR_DATA_LEN_RANGE;
  if (emLength < h + saltLength + 2) return CKR_KEY_SIZE_RANGE;
  Bytes salt(saltLength);
  if (!OsRandom(salt.data(), salt.size())) return CKR_DEVICE_ERROR;
  Bytes hashed(h);
  {
    auto hasher = NewHasher(hash);
    const uint8_t zeros[8] = {};
    hasher->Update(zeros, 8);
    hasher->Update(mHash.data(), mHash.size());
    hasher->Update(salt.data(), salt.size());
    hasher->Final(hashed.data());
  }
  Bytes em(emLength, 0);
  const std::size_t dbLength = emLength - h - 1;
  em[dbLength - saltLength - 1] = 0x01;
  std::memcpy(em.data() + dbLength - saltLength, salt.data(), saltLength);
  if (!Mgf1(mgfHash, hashed.data(), h, em.data(), dbLength)) return CKR_MECHANISM_PARAM_INVALID;
  em[0] &= static_cast<uint8_t>(0xff >> (8 * emLength - emBits));
  std::memcpy(em.data() + dbLength, hashed.data(), h);
  em[emLength - 1] = 0xbc;
  block->assign(k - emLength, 0);
  block->insert(block->end(), em.begin(), em.end());
  return CKR_OK;
}

// EMSA-PSS-VERIFY over the k-byte result of the public operation.
bool VerifyPss(const Bytes& mHash, const Bytes& block, CK_MECHANISM_TYPE hash,
               CK_MECHANISM_TYPE mgfHash, std::size_t saltLength, uint32_t modulusBits) {
  const std::size_t h = DigestSize(hash);
  const uint32_t emBits = modulusBits - 1;
  const std::size_t emLength = (emBits + 7) / 8;
  if (mHash.size() != h || emLength < h + saltLength + 2) return false;
  for (std::size_t i = 0; i < block.size() - emLength; ++i)
    if (block[i] != 0) return false;
  Bytes em(block.end() - static_cast<std::ptrdiff_t>(emLength), block.end());
  if (em[emLength - 1] != 0xbc) return false;
  const std::size_t dbLength = emLength - h - 1;
  const uint8_t topMask = static_cast<uint8_t>(0xff << (8 - (8 * emLength - emBits)));
  if ((8 * emLength - emBits) != 0 && (em[0] & topMask) != 0) return false;
  const Bytes hashed(em.begin() + static_cast<std::ptrdiff_t>(dbLength),
                     em.begin() + static_cast<std::ptrdiff_t>(dbLength + h));
  if (!Mgf1(mgfHash, hashed.data(), h, em.data(), dbLength)) return false;
  em[0] &= static_cast<uint8_t>(0xff >> (8 * emLength - emBits));
  const std::size_t padding = emLength - h - saltLength - 2;
  for (std::size_t i = 0; i < padding; ++i)
    if (em[i] != 0) return false;
  if (em[padding] != 0x01) return false;
  Bytes expected(h);
  auto hasher = NewHasher(hash);
  const uint8_t zeros[8] = {};
  hasher->Update(zeros, 8);
  hasher->Update(mHash.data(), mHash.size());
  hasher->Update(em.data() + padding + 1, saltLength);
  hasher->Final(expected.data());
  return expected == hashed;
}

CK_RV EncodeOaep(const Bytes& message, CK_MECHANISM_TYPE hash, CK_MECHANISM_TYPE mgfHash,
                 const Bytes& label, std::size_t k, Bytes* block) {
  const std::size_t h = DigestSize(hash);
  if (k < 2 * h + 2 || message.size() > k - 2 * h - 2) return CKR_DATA_LEN_RANGE;
  block->assign(k, 0);
  uint8_t* seed = block->data() + 1;
  uint8_t* db = seed + h;
  const std::size_t dbLength = k - h - 1;
  const Bytes labelHash = Digest(hash, label.data(), label.size());
  std::memcpy(db, labelHash.data(), h);
  db[dbLength - message.size() - 1] = 0x01;
  if (!message.empty()) std::memcpy(db + dbLength - message.size(), message.data(), message.size());
  if (!OsRandom(seed, h)) return CKR_DEVICE_ERROR;
  if (!Mgf1(mgfHash, seed, h, db, dbLength) || !Mgf1(mgfHash, db, dbLength, seed, h))
    return CKR_MECHANISM_PARAM_INVALID;
  return CKR_OK;
}

CK_RV DecodeOaep(Bytes block, CK_MECHANISM_TYPE hash, CK_MECHANISM_TYPE mgfHash, const Bytes& label,
                 Bytes* message) {
  const std::size_t h = DigestSize(hash);
  const std::size_t k = block.size();
  if (k < 2 * h + 2) return CKR_ENCRYPTED_DATA_INVALID;
  uint8_t* seed = block.data() + 1;
  uint8_t* db = seed + h;
  const std::size_t dbLength = k - h - 1;
  if (!Mgf1(mgfHash, db, dbLength, seed, h) || !Mgf1(mgfHash, seed, h, db, dbLength))
    return CKR_ENCRYPTED_DATA_INVALID;
  const Bytes labelHash = Digest(hash, label.data(), label.size());
  // Every check is made before any is acted on.
  unsigned bad = block[0];
  bad |= EqualInConstantTime(db, labelHash.data(), h) ? 0u : 1u;
  std::size_t separator = 0;
  unsigned found = 0;
  for (std::size_t i = h; i < dbLength; ++i) {
    const unsigned isOne = db[i] == 0x01 ? 1u : 0u;
    const unsigned isZero = db[i] == 0x00 ? 1u : 0u;
    if (!found && isOne) separator = i;
    bad |= (!found && !isOne && !isZero) ? 1u : 0u;
    found |= isOne;
  }
  SecureWipe(block.data(), 1 + h);
  if (bad != 0 || found == 0) {
    SecureWipe(block.data(), block.size());
    return CKR_ENCRYPTED_DATA_INVALID;
  }
  message->assign(db + separator + 1, db + dbLength);
  SecureWipe(block.data(), block.size());
  return CKR_OK;
}

// The private uses read the pair's private record through its reference;
// the public ones take the public record itself.
CK_RV RunOperation(token::KeyUse use, const ObjectRef* pair, const rsa::PublicKeyRecord& record,
                   const Bytes& input, Bytes* output) {
  std::string reference;
  DataBlob blob{static_cast<uint32_t>(sizeof record.bytes), const_cast<uint8_t*>(record.bytes)};
  if (token::UsesPrivateKey(use)) {
    reference = RecordReference(*pair, true);
    blob = DataBlob{static_cast<uint32_t>(reference.size() + 1),
                    reinterpret_cast<uint8_t*>(const_cast<char*>(reference.c_str()))};
  }
  token::OperationKey operationKey;
  if (token::LoadOperationKey(use, blob, &operationKey) != Status::Ok)
    return CKR_KEY_HANDLE_INVALID;
  const uint32_t k = operationKey.OutputBytes();
  if (input.size() != k) return CKR_DATA_LEN_RANGE;
  output->assign(k, 0);
  uint32_t produced = 0;
  const Status status =
      token::RunKeyOperation(operationKey, output->data(), &produced, input.data(), k, [] {});
  if (status == Status::DataRange) return CKR_DATA_INVALID;
  if (status != Status::Ok || produced != k) return CKR_FUNCTION_FAILED;
  return CKR_OK;
}

struct Parameters {
  CK_MECHANISM_TYPE hash = kNone;     // PSS / OAEP hash
  CK_MECHANISM_TYPE mgfHash = kNone;  // MGF1's hash
  std::size_t saltLength = 0;
  Bytes label;
};

class RsaOperation : public Operation {
 public:
  RsaOperation(OperationKind kind, const MechanismShape& shape, const Parameters& parameters,
               const ObjectRef& key, const rsa::PublicKeyRecord& publicRecord)
      : kind_(kind),
        shape_(shape),
        parameters_(parameters),
        key_(key),
        publicRecord_(publicRecord),
        bits_(rsa::ReadModulusBits(publicRecord.bytes)),
        k_(rsa::ModulusBytes(bits_)) {
    if (shape.hash != kNone) hasher_ = NewHasher(shape.hash);
  }
  ~RsaOperation() override { SecureWipe(buffer_.data(), buffer_.size()); }

  bool MultiPart() const override {
    return kind_ == OperationKind::Sign || kind_ == OperationKind::Verify;
  }

  CK_RV Update(const uint8_t* data, std::size_t length, Bytes*) override {
    if (hasher_ != nullptr) {
      hasher_->Update(data, length);
    } else {
      if (buffer_.size() + length > k_) {
        tooLong_ = true;
        return CKR_OK;
      }
      buffer_.insert(buffer_.end(), data, data + length);
    }
    return CKR_OK;
  }

  CK_RV Final(Bytes* output) override {
    switch (kind_) {
      case OperationKind::Sign: {
        Bytes block;
        if (const CK_RV rv = SignatureBlock(&block); rv != CKR_OK) return rv;
        const CK_RV rv = RunOperation(token::KeyUse::Sign, &key_, publicRecord_, block, output);
        return rv == CKR_DATA_LEN_RANGE ? CKR_DATA_INVALID : rv;
      }
      case OperationKind::Encrypt:
        return Encrypt(output);
      case OperationKind::Decrypt:
        return Decrypt(output);
      default:
        return CKR_FUNCTION_FAILED;
    }
  }

  CK_RV Verify(const uint8_t* signature, std::size_t length) override {
    if (tooLong_) return CKR_DATA_LEN_RANGE;
    if (length != k_) return CKR_SIGNATURE_LEN_RANGE;
    Bytes recovered;
    const CK_RV rv = RunOperation(token::KeyUse::Verify, nullptr, publicRecord_,
                                  Bytes(signature, signature + length), &recovered);
    if (rv == CKR_DATA_INVALID) return CKR_SIGNATURE_INVALID;
    if (rv != CKR_OK) return rv;
    if (shape_.pss) {
      return VerifyPss(MessageHash(), recovered, parameters_.hash, parameters_.mgfHash,
                       parameters_.saltLength, bits_)
                 ? CKR_OK
                 : CKR_SIGNATURE_INVALID;
    }
    Bytes expected;
    if (shape_.raw) {
      expected.assign(k_ - buffer_.size(), 0);
      expected.insert(expected.end(), buffer_.begin(), buffer_.end());
    } else if (const CK_RV encoded = SignatureBlock(&expected); encoded != CKR_OK) {
      return encoded;
    }
    return expected == recovered ? CKR_OK : CKR_SIGNATURE_INVALID;
  }

 private:
  // The hash the mechanism made, or the caller's input for the bare ones.
  Bytes MessageHash() {
    if (hasher_ == nullptr) return buffer_;
    if (!hashed_) {
      digest_.assign(hasher_->Size(), 0);
      hasher_->Final(digest_.data());
      hashed_ = true;
    }
    return digest_;
  }

  CK_RV SignatureBlock(Bytes* block) {
    if (tooLong_) return CKR_DATA_LEN_RANGE;
    if (shape_.raw) {
      block->assign(k_ - buffer_.size(), 0);
      block->insert(block->end(), buffer_.begin(), buffer_.end());
      return CKR_OK;
    }
    if (shape_.pss)
      return EncodePss(MessageHash(), parameters_.hash, parameters_.mgfHash, parameters_.saltLength,
                       bits_, k_, block);
    Bytes t;
    if (shape_.hash != kNone) {
      t = DigestInfoPrefix(shape_.hash);
      const Bytes h = MessageHash();
      t.insert(t.end(), h.begin(), h.end());
    } else {
      t = buffer_;
    }
    return EncodeType1(t, k_, block);
  }

  CK_RV Encrypt(Bytes* output) {
    if (tooLong_) return CKR_DATA_LEN_RANGE;
    Bytes block;
    CK_RV rv;
    if (shape_.raw) {
      block.assign(k_ - buffer_.size(), 0);
      block.insert(block.end(), buffer_.begin(), buffer_.end());
      rv = CKR_OK;
    } else if (shape_.oaep) {
      rv =
          EncodeOaep(buffer_, parameters_.hash, parameters_.mgfHash, parameters_.label, k_, &block);
    } else {
      rv = EncodePkcs1Type2(buffer_.data(), buffer_.size(), k_, &block);
    }
    if (rv != CKR_OK) return rv;
    rv = RunOperation(token::KeyUse::Encrypt, nullptr, publicRecord_, block, output);
    SecureWipe(block.data(), block.size());
    return rv;
  }

  CK_RV Decrypt(Bytes* output) {
    if (tooLong_ || buffer_.size() != k_) return CKR_ENCRYPTED_DATA_LEN_RANGE;
    Bytes block;
    CK_RV rv = RunOperation(token::KeyUse::Decrypt, &key_, publicRecord_, buffer_, &block);
    if (rv == CKR_DATA_INVALID) return CKR_ENCRYPTED_DATA_INVALID;
    if (rv != CKR_OK) return rv;
    if (shape_.raw) {
      *output = std::move(block);
      return CKR_OK;
    }
    rv = shape_.oaep
             ? DecodeOaep(block, parameters_.hash, parameters_.mgfHash, parameters_.label, output)
             : DecodePkcs1Type2(block, output);
    SecureWipe(block.data(), block.size());
    return rv;
  }

  OperationKind kind_;
  MechanismShape shape_;
  Parameters parameters_;
  ObjectRef key_;
  rsa::PublicKeyRecord publicRecord_;
  uint32_t bits_;
  std::size_t k_;
  std::unique_ptr<Hasher> hasher_;
  Bytes buffer_;
  Bytes digest_;
  bool hashed_ = false;
  bool tooLong_ = false;
};

}  // namespace

bool IsRsaMechanism(CK_MECHANISM_TYPE mechanism, OperationKind kind) {
  const MechanismShape* shape = ShapeOf(mechanism);
  if (shape == nullptr) return false;
  if (kind == OperationKind::Sign || kind == OperationKind::Verify) return shape->signs;
  if (kind == OperationKind::Encrypt || kind == OperationKind::Decrypt) return shape->encrypts;
  return false;
}

CK_RV NewRsaOperation(OperationKind kind, const CK_MECHANISM& mechanism, const ObjectRef& key,
                      const rsa::PublicKeyRecord& publicRecord, std::unique_ptr<Operation>* out) {
  const uint32_t modulusBits = rsa::ReadModulusBits(publicRecord.bytes);
  const MechanismShape* shape = ShapeOf(mechanism.mechanism);
  if (shape == nullptr || !IsRsaMechanism(mechanism.mechanism, kind)) return CKR_MECHANISM_INVALID;
  Parameters parameters;
  if (shape->pss) {
    if (mechanism.pParameter == nullptr ||
        mechanism.ulParameterLen != sizeof(CK_RSA_PKCS_PSS_PARAMS))
      return CKR_MECHANISM_PARAM_INVALID;
    const auto* pss = static_cast<const CK_RSA_PKCS_PSS_PARAMS*>(mechanism.pParameter);
    parameters.hash = pss->hashAlg;
    parameters.mgfHash = MgfDigest(pss->mgf);
    parameters.saltLength = pss->sLen;
    if (DigestSize(parameters.hash) == 0 || parameters.hash == CKM_MD5 ||
        parameters.mgfHash == kNone || (shape->hash != kNone && shape->hash != parameters.hash))
      return CKR_MECHANISM_PARAM_INVALID;
    const std::size_t emLength = (modulusBits - 1 + 7) / 8;
    if (emLength < DigestSize(parameters.hash) + parameters.saltLength + 2)
      return CKR_MECHANISM_PARAM_INVALID;
  } else if (shape->oaep) {
    if (mechanism.pParameter == nullptr ||
        mechanism.ulParameterLen != sizeof(CK_RSA_PKCS_OAEP_PARAMS))
      return CKR_MECHANISM_PARAM_INVALID;
    const auto* oaep = static_cast<const CK_RSA_PKCS_OAEP_PARAMS*>(mechanism.pParameter);
    parameters.hash = oaep->hashAlg;
    parameters.mgfHash = MgfDigest(oaep->mgf);
    if (DigestSize(parameters.hash) == 0 || parameters.hash == CKM_MD5 ||
        parameters.mgfHash == kNone)
      return CKR_MECHANISM_PARAM_INVALID;
    if (oaep->source != 0 && oaep->source != CKZ_DATA_SPECIFIED) return CKR_MECHANISM_PARAM_INVALID;
    if (oaep->ulSourceDataLen != 0) {
      if (oaep->pSourceData == nullptr) return CKR_MECHANISM_PARAM_INVALID;
      const auto* label = static_cast<const uint8_t*>(oaep->pSourceData);
      parameters.label.assign(label, label + oaep->ulSourceDataLen);
    }
  }
  *out = std::make_unique<RsaOperation>(kind, *shape, parameters, key, publicRecord);
  return CKR_OK;
}

CK_RV EncodePkcs1Type2(const uint8_t* message, std::size_t length, std::size_t k, Bytes* block) {
  if (length + 11 > k) return CKR_DATA_LEN_RANGE;
  block->assign(k, 0);
  (*block)[1] = 0x02;
  const std::size_t padding = k - length - 3;
  if (!OsRandomNonZero(block->data() + 2, padding)) return CKR_DEVICE_ERROR;
  if (length != 0) std::memcpy(block->data() + k - length, message, length);
  return CKR_OK;
}

CK_RV DecodePkcs1Type2(const Bytes& block, Bytes* message) {
  const std::size_t k = block.size();
  unsigned bad = (k < 11 ? 1u : 0u) | block[0] | (block[1] ^ 0x02u);
  std::size_t separator = 0;
  unsigned found = 0;
  for (std::size_t i = 2; i < k; ++i) {
    const unsigned isZero = block[i] == 0 ? 1u : 0u;
    if (!found && isZero) separator = i;
    found |= isZero;
  }
  bad |= (found == 0 || separator < 10) ? 1u : 0u;
  if (bad != 0) return CKR_ENCRYPTED_DATA_INVALID;
  message->assign(block.begin() + static_cast<std::ptrdiff_t>(separator + 1), block.end());
  return CKR_OK;
}

CK_RV PrivateOperation(const ObjectRef& key, const Bytes& input, Bytes* output) {
  const rsa::PublicKeyRecord none{};
  return RunOperation(token::KeyUse::Decrypt, &key, none, input, output);
}

CK_RV PublicOperation(const rsa::PublicKeyRecord& key, const Bytes& input, Bytes* output) {
  return RunOperation(token::KeyUse::Encrypt, nullptr, key, input, output);
}

}  // namespace marlinok::pkcs11
