// Limits shared by the keyword stores and the record codec.
#pragma once

#include <cstdint>

namespace wfm {

// A record and its value stay below 2^31 bytes (the int32 length field).
inline constexpr uint64_t kKwRecordLimit = uint64_t{1} << 31;
inline constexpr uint64_t kKwMaxTag = 255;

// Largest element count whose value bytes stay below kKwRecordLimit.
uint64_t kw_max_count(uint64_t elem_size);

}  // namespace wfm
