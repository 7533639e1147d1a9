// Declarations shared by the BLUE files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wfm {

inline constexpr uint64_t kBlueBlock = 512;
// Header fields patched at close.
inline constexpr long kBlueExtStartOffset = 24;
inline constexpr long kBlueDataSizeOffset = 40;
inline constexpr long kBlueKeyLengthOffset = 160;
inline constexpr size_t kMainKwCap = 92;

// Bytes per sample of a BLUE format code ("CF" 8, ...); 0 for other codes.
uint64_t blue_bytes_per_sample(const char *format);

// "FREQ=%.17g" in the C locale's spelling whatever the current locale; out
// receives the text and a NUL.  Returns the text length (at most 29).
inline constexpr size_t kFreqTextCap = 40;
size_t blue_freq_text(char (&out)[kFreqTextCap], double fc);

}  // namespace wfm

struct WfmWriter;

namespace wfm {

// Files a non-zero fc of a new capture in both keyword stores.
void blue_record_freq(WfmWriter *w);

}  // namespace wfm
