// Status values of the library. The exported calls return the first nine
// unchanged; Length, ModulusLength and NeedSeed stay inside the RSA engine and
// the random generator.
#ifndef MARLINOK_CORE_STATUS_H
#define MARLINOK_CORE_STATUS_H

#include <cstdint>

namespace marlinok {

enum class [[nodiscard]] Status : int32_t{
    Ok = 0,
    Failed = -1,
    Refused = 1,
    DecryptRejected = 0x84,
    WrapFailed = 0x86,
    StoreNotOpened = 1011,
    DataRange = 0x401,
    Length = 0x406,
    ModulusLength = 0x407,
    NeedSeed = 0x408,
    DesKey = static_cast<int32_t>(0x86000010u),
    BlockLength = static_cast<int32_t>(0x86000013u),
};

constexpr int32_t ToInt(Status s) { return static_cast<int32_t>(s); }

}  // namespace marlinok

#endif
