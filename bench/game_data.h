// SPDX-License-Identifier: Apache-2.0
// Synthetic game data for the benchmarks: the same bytes on every run.
#ifndef EMBERFALL_BENCH_GAME_DATA_H_
#define EMBERFALL_BENCH_GAME_DATA_H_

#include <cstddef>
#include <cstdint>

#include "tests/support/test_corpus.h"

namespace emberfall::bench {

// Machine-code-like: opcodes, small immediates, addresses, zero padding.
test::Bytes BinaryLikeBytes(size_t size, std::uint32_t seed);

// A game's archive file: entries of scripts (text), code, meshes (vertex
// records of slowly changing floats), compressed media (random bytes) and
// tables, each padded with zeros to a 4 KiB boundary, as packers lay them out.
test::Bytes GamePackBytes(size_t size, std::uint32_t seed);

}  // namespace emberfall::bench

#endif  // EMBERFALL_BENCH_GAME_DATA_H_
