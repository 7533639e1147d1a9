// The block loop shared by the vector converters: whole steps through the
// instruction set's step functions, the meter folded from its lanes, and the
// rest of the block through the scalar reference.
//
// Each converter file includes this inside its own target region, so the
// loop is compiled for that instruction set; everything here has internal
// linkage, so copies built for different processors never merge at link time.
//
// Isa provides: Vec, Meter, kStep (samples per step), splat(gain),
// start(peak) -> Meter, gain_and_meter<Track>(in, vgain, Meter &) -> Vec,
// store<SampleType, BigEndian>(out, Vec), take_clips(Meter &) (returns the
// lane counts and clears them) and peak(const Meter &).
#pragma once

#include "sample_convert.h"

namespace wfm {

namespace {

// Lane counters take at most one per step; fold them before they can wrap.
constexpr uint64_t kStepsPerFold = uint64_t{1} << 30;

template <class Isa, int SampleType, bool BigEndian, bool Track>
void drive(const float *in, uint64_t n, uint8_t *out, float gain, float *peak, uint64_t *clip) {
    constexpr uint64_t kOutStep = Isa::kStep * 2 * ELEM[SampleType];
    const typename Isa::Vec vgain = Isa::splat(gain);
    const uint64_t steps = n / Isa::kStep;
    typename Isa::Meter m = Isa::start(*peak);
    uint64_t clips = *clip;
    for (uint64_t done = 0; done < steps;) {
        const uint64_t chunk_end = steps - done > kStepsPerFold ? done + kStepsPerFold : steps;
        for (; done < chunk_end; done++) {
            const typename Isa::Vec g =
                Isa::template gain_and_meter<Track>(in + 2 * Isa::kStep * done, vgain, m);
            Isa::template store<SampleType, BigEndian>(out + kOutStep * done, g);
        }
        if constexpr (Track) clips += Isa::take_clips(m);
    }
    float pk = Isa::peak(m);
    CONVERT_BLOCK_SCALAR[SampleType](in + 2 * Isa::kStep * steps, n - Isa::kStep * steps,
                                     out + kOutStep * steps, BigEndian, gain, Track, &pk, &clips);
    *peak = pk;
    if (Track && is_integer_type(SampleType)) *clip = clips;
}

template <class Isa, int SampleType>
void drive_block(const float *in, uint64_t n, uint8_t *out, bool big_endian, float gain,
                 bool track, float *peak, uint64_t *clip) {
    constexpr bool kCounts = is_integer_type(SampleType);
    if (big_endian) {
        if (kCounts && track) drive<Isa, SampleType, true, kCounts>(in, n, out, gain, peak, clip);
        else drive<Isa, SampleType, true, false>(in, n, out, gain, peak, clip);
    } else {
        if (kCounts && track) drive<Isa, SampleType, false, kCounts>(in, n, out, gain, peak, clip);
        else drive<Isa, SampleType, false, false>(in, n, out, gain, peak, clip);
    }
}

}  // namespace

}  // namespace wfm
