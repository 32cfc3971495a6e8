// SPDX-License-Identifier: Apache-2.0
#include "bench/game_data.h"

#include <cstring>
#include <random>
#include <string>

namespace emberfall::bench {
namespace {

// Vertex records: position, normal and texture coordinates as 32-bit floats,
// the position walking in small steps as along a model's surface.
test::Bytes MeshBytes(size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  test::Bytes out;
  float position[3] = {0, 0, 0};
  while (out.size() < size) {
    float record[8];
    for (int i = 0; i < 3; ++i) {
      position[i] += static_cast<float>(static_cast<int>(rng() % 64) - 32) / 256.0f;
      record[i] = position[i];
    }
    const int facing = static_cast<int>(rng() % 6);  // one of a cube's normals
    for (int i = 0; i < 3; ++i) record[3 + i] = facing / 2 == i ? (facing % 2 ? -1.0f : 1.0f) : 0.0f;
    record[6] = static_cast<float>(rng() % 1024) / 1024.0f;
    record[7] = static_cast<float>(rng() % 1024) / 1024.0f;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(record);
    out.insert(out.end(), bytes, bytes + sizeof record);
  }
  out.resize(size);
  return out;
}

// Rows of a data table as text: ids, names from a small set, numbers.
test::Bytes TableBytes(size_t size, std::uint32_t seed) {
  static constexpr const char* kNames[] = {"sword", "shield", "potion", "scroll", "ember", "ring"};
  std::mt19937 rng(seed);
  test::Bytes out;
  for (std::uint32_t id = 1000; out.size() < size; ++id) {
    const std::string row = std::to_string(id) + ";" + kNames[rng() % 6] + "_" +
                            std::to_string(rng() % 50) + ";" + std::to_string(rng() % 10000) +
                            ";" + std::to_string(rng() % 3) + "\r\n";
    out.insert(out.end(), row.begin(), row.end());
  }
  out.resize(size);
  return out;
}

}  // namespace

test::Bytes BinaryLikeBytes(size_t size, std::uint32_t seed) {
  static constexpr std::uint8_t kOpcodes[] = {0x48, 0x89, 0x8B, 0xE8, 0xFF, 0x0F, 0x83, 0xC3};
  std::mt19937 rng(seed);
  test::Bytes out;
  while (out.size() < size) {
    out.push_back(kOpcodes[rng() % 8]);
    const std::uint32_t roll = rng() % 4;
    if (roll == 0) out.insert(out.end(), rng() % 24, 0);  // padding
    if (roll == 1) {  // an address
      const std::uint32_t address = 0x401000 + rng() % 65536;
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    }
    if (roll >= 2) out.push_back(static_cast<std::uint8_t>(rng() % 128));  // an immediate
  }
  out.resize(size);
  return out;
}

test::Bytes GamePackBytes(size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  test::Bytes out;
  for (std::uint32_t entry = 0; out.size() < size; ++entry) {
    // Entries of 4 KiB to 1 MiB, smaller ones more often.
    const size_t length = (size_t{4096} << (rng() % 9)) / (1 + rng() % 4);
    const std::uint32_t entry_seed = seed * 7919 + entry;
    test::Bytes data;
    switch (rng() % 10) {
      case 0: case 1: data = test::TextBytes(length, entry_seed); break;
      case 2: data = BinaryLikeBytes(length, entry_seed); break;
      case 3: case 4: data = MeshBytes(length, entry_seed); break;
      case 5: data = TableBytes(length, entry_seed); break;
      default: data = test::FastRandomBytes(length, entry_seed); break;  // textures, sound
    }
    out.insert(out.end(), data.begin(), data.end());
    out.resize((out.size() + 4095) / 4096 * 4096, 0);
  }
  out.resize(size);
  return out;
}

}  // namespace emberfall::bench
