// The snapshot a patch run publishes and the window draws.
#ifndef EMBERFALL_ENGINE_PROGRESS_STATE_H_
#define EMBERFALL_ENGINE_PROGRESS_STATE_H_

#include <cstdint>
#include <string>

namespace emberfall {

// Where a run is; the numbers are those of the window's contract.
enum class PatchStage : std::uint32_t {
  Verify = 0,
  Download = 1,
  Unpack = 2,
  Done = 3,
  Failed = 4,
};

struct ProgressState {
  PatchStage stage = PatchStage::Verify;
  std::u16string statusText;       // stage title, or the localized failure message
  std::u16string detailText;       // verification count, bytes, or the final summary
  std::u16string barText;          // download speed ("1.5 MB/s")
  std::u16string noteText;         // the file being verified or downloaded
  std::uint32_t overallPercent = 0;
  std::uint32_t filePercent = 0;
  std::int64_t bytesDone = 0;
  std::int64_t bytesTotal = 0;
  std::int32_t filesDone = 0;
  std::int32_t filesTotal = 0;
  // What the run's installed and attempted files cost, set in the Done
  // snapshot: bytes received over the network (payloads and chunk ranges,
  // failed attempts included), bytes of chunks taken from the player's old
  // files, and bytes of payloads not fetched again because a kept part held them.
  std::int64_t bytesFetched = 0;
  std::int64_t bytesReused = 0;
  std::int64_t bytesResumed = 0;
  bool ready = false;              // the run succeeded: the game may start
  std::u16string runPath = u"emb.bin";
  std::u16string errorText;        // English failure message after a failure
};

// A run's last snapshot: it succeeded or failed (a cancelled run has none).
inline bool IsFinal(PatchStage stage) {
  return stage == PatchStage::Done || stage == PatchStage::Failed;
}

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_PROGRESS_STATE_H_
