// SPDX-License-Identifier: Apache-2.0
// Writes three versions of a synthetic game for the chunked-update benchmark
// (bench/chunk_update.sh), the same bytes on every run:
//   v1: data/main.pak of PACK_MIB (bench/game_data.h's archive content) and
//       500 small files;
//   v2: 100 edits in main.pak (overwrites, insertions and deletions of 1 to
//       256 KiB, so that everything after an insertion or deletion moves),
//       20 small files changed and 10 added;
//   v3: v2 with one byte inserted at the start of main.pak.
// Then prints what changed from v1 to v2 as "key value" lines: the bytes the
// edits touch, the new bytes they bring, and those new bytes compressed with
// core's LZO1X compressor at LEVEL, each edit and each file on its own, as a
// payload would be.
//
//   make_update OUT_DIR [PACK_MIB=1024] [LEVEL=1|999]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "bench/game_data.h"
#include "core/lzo1x_compress.h"
#include "tests/support/test_corpus.h"

namespace {

namespace fs = std::filesystem;
using emberfall::test::Bytes;

constexpr int kSmallFiles = 500;
constexpr int kEdits = 100;
constexpr size_t kBlock = size_t{16} << 20;  // generated and written a block at a time

enum class EditKind { kOverwrite, kInsert, kDelete };

struct Edit {
  size_t offset;  // in v1's pack
  size_t size;
  EditKind kind;
  std::uint32_t seed;
};

void Write(std::ofstream& out, const Bytes& data, size_t from = 0, size_t count = SIZE_MAX) {
  count = std::min(count, data.size() - from);
  out.write(reinterpret_cast<const char*>(data.data() + from), static_cast<std::streamsize>(count));
}

void WriteFile(const fs::path& path, const Bytes& data) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  Write(out, data);
}

Bytes SmallFile(int index, std::uint32_t generation) {
  const size_t size = 512 + (static_cast<size_t>(index) * 7919 + generation * 104729) % (48 * 1024);
  const std::uint32_t seed = static_cast<std::uint32_t>(index) * 31 + generation * 1000003;
  switch (index % 3) {
    case 0: return emberfall::test::TextBytes(size, seed);
    case 1: return emberfall::bench::BinaryLikeBytes(size, seed);
    default: return emberfall::bench::GamePackBytes(size, seed);
  }
}

// One edit per hundredth of the pack, so that no two overlap and the bytes
// they touch add up exactly; kinds in turn, sizes and places at random.
std::vector<Edit> PlanEdits(size_t pack_size) {
  std::mt19937 rng(20261208);
  std::vector<Edit> edits;
  const size_t span = pack_size / kEdits;
  for (int i = 0; i < kEdits; ++i) {
    Edit edit;
    edit.size = 1024 + rng() % (256 * 1024 - 1024 + 1);
    edit.offset = i * span + rng() % (span - edit.size);
    edit.kind = static_cast<EditKind>(i % 3);
    edit.seed = 5000 + static_cast<std::uint32_t>(i);
    edits.push_back(edit);
  }
  return edits;
}

// Content of a changed stretch: the archive's own mix, from another seed.
Bytes EditBytes(const Edit& edit) { return emberfall::bench::GamePackBytes(edit.size, edit.seed); }

void WritePackV1(const fs::path& path, size_t pack_size) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  for (size_t at = 0, block = 0; at < pack_size; at += kBlock, ++block) {
    Write(out, emberfall::bench::GamePackBytes(std::min(kBlock, pack_size - at),
                                               static_cast<std::uint32_t>(1 + block)));
  }
}

// Streams v1's pack through the edits into v2's and, with one byte in
// front, v3's.
void WritePacksV2V3(const fs::path& v1, const fs::path& v2, const fs::path& v3,
                    const std::vector<Edit>& edits) {
  fs::create_directories(v2.parent_path());
  fs::create_directories(v3.parent_path());
  std::ifstream in(v1, std::ios::binary);
  std::ofstream out2(v2, std::ios::binary);
  std::ofstream out3(v3, std::ios::binary);
  out3.put('\x7f');
  Bytes buffer(kBlock);
  auto copy = [&](size_t count) {
    while (count > 0) {
      const size_t n = std::min(count, buffer.size());
      in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(n));
      Write(out2, buffer, 0, n);
      Write(out3, buffer, 0, n);
      count -= n;
    }
  };
  size_t at = 0;
  for (const Edit& edit : edits) {
    copy(edit.offset - at);
    at = edit.offset;
    if (edit.kind != EditKind::kDelete) {
      const Bytes data = EditBytes(edit);
      Write(out2, data);
      Write(out3, data);
    }
    if (edit.kind != EditKind::kInsert) {
      in.seekg(static_cast<std::streamoff>(edit.size), std::ios::cur);
      at += edit.size;
    }
  }
  const size_t rest = static_cast<size_t>(fs::file_size(v1)) - at;
  copy(rest);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_update OUT_DIR [PACK_MIB] [LEVEL]\n");
    return 2;
  }
  const fs::path out = argv[1];
  const size_t pack_size = static_cast<size_t>(argc > 2 ? std::atoll(argv[2]) : 1024) << 20;
  const emberfall::Lzo1xLevel level = argc > 3 && std::atoi(argv[3]) == 999
                                          ? emberfall::Lzo1xLevel::Best
                                          : emberfall::Lzo1xLevel::Fast;
  if (pack_size < (size_t{32} << 20)) {
    std::fprintf(stderr, "make_update: PACK_MIB must be at least 32\n");
    return 2;
  }
  const std::vector<Edit> edits = PlanEdits(pack_size);
  const fs::path pak = fs::path("data") / "main.pak";
  WritePackV1(out / "v1" / pak, pack_size);
  WritePacksV2V3(out / "v1" / pak, out / "v2" / pak, out / "v3" / pak, edits);

  size_t edit_bytes = 0, edit_new_bytes = 0, edit_lzo = 0;
  // The same new bytes compressed in pieces of 16 and 64 KiB, as chunks of
  // about those sizes are: what cutting costs the compression.
  size_t edit_lzo_pieces[2] = {0, 0};
  size_t counts[3] = {0, 0, 0};
  for (const Edit& edit : edits) {
    edit_bytes += edit.size;
    ++counts[static_cast<int>(edit.kind)];
    if (edit.kind == EditKind::kDelete) continue;
    const Bytes data = EditBytes(edit);
    edit_new_bytes += data.size();
    edit_lzo += emberfall::Lzo1xCompress(data, level).size();
    for (int p = 0; p < 2; ++p) {
      const size_t piece = size_t{16} << (10 + 2 * p);
      for (size_t at = 0; at < data.size(); at += piece) {
        const size_t n = std::min(piece, data.size() - at);
        edit_lzo_pieces[p] += emberfall::Lzo1xCompress(std::span(data).subspan(at, n), level).size();
      }
    }
  }

  size_t file_bytes = 0, file_lzo = 0;
  for (int i = 0; i < kSmallFiles + 10; ++i) {
    const fs::path name = fs::path("small") / ("d" + std::to_string(i % 20)) /
                          ("f" + std::to_string(i) + ".dat");
    const bool added = i >= kSmallFiles;
    const bool changed = !added && i % 25 == 0;  // 20 of the 500
    if (!added) WriteFile(out / "v1" / name, SmallFile(i, 0));
    const Bytes now = SmallFile(i, changed ? 1 : 0);
    WriteFile(out / "v2" / name, now);
    WriteFile(out / "v3" / name, now);
    if (changed || added) {
      file_bytes += now.size();
      file_lzo += emberfall::Lzo1xCompress(now, level).size();
    }
  }

  std::printf("pack_bytes %zu\n", pack_size);
  std::printf("edits %d (%zu overwrites, %zu insertions, %zu deletions)\n", kEdits, counts[0],
              counts[1], counts[2]);
  std::printf("edit_bytes %zu\n", edit_bytes);
  std::printf("edit_new_bytes %zu\n", edit_new_bytes);
  std::printf("edit_new_lzo %zu\n", edit_lzo);
  std::printf("edit_new_lzo_in_16k_pieces %zu\n", edit_lzo_pieces[0]);
  std::printf("edit_new_lzo_in_64k_pieces %zu\n", edit_lzo_pieces[1]);
  std::printf("small_changed_bytes %zu\n", file_bytes);
  std::printf("small_changed_lzo %zu\n", file_lzo);
  std::printf("changed_bytes %zu\n", edit_bytes + file_bytes);
  std::printf("changed_lzo %zu\n", edit_lzo + file_lzo);
  return 0;
}
