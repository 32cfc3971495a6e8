// The first bytes of an interrupted payload download, kept beside the target
// so that a later attempt, or a later run, asks the server for the rest
// only. "<target>.emb-part" holds the bytes as they arrived and
// "<target>.emb-part-key" names the payload they belong to: its URL, the
// crclist CRC and size of the file it decodes to, and the length the server
// announced. A part of any other payload is discarded, never resumed.
//
// The part is a shortcut, not a trust: a resumed payload goes through the
// same decoding and checksums as any other, and a failure there discards the
// part. Everything here is best effort: nothing throws, a part that cannot
// be read or written is simply not there, and a link on the way is neither
// followed nor written through (GameFolder, exclusive creation).
#ifndef EMBERFALL_ENGINE_PAYLOAD_PART_H_
#define EMBERFALL_ENGINE_PAYLOAD_PART_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/game_folder.h"
#include "net/http_session.h"

namespace emberfall {

inline constexpr std::u16string_view kPartSuffix = u".emb-part";

// The most bytes the payload of a file of |size| decoded bytes may take on
// the wire, and so its part on disk: the size plus the worst-case growth of
// an LZO1X stream and the container header. Sizes outside 0 ..
// kMaxDecodedSize count as the nearer bound, which keeps the sum in range.
std::int64_t PayloadLimit(std::int64_t size);
inline constexpr std::u16string_view kPartKeySuffix = u".emb-part-key";

// Which payload a part belongs to.
struct PayloadIdentity {
  std::u16string url;
  std::uint32_t crc = 0;   // of the decoded file, from the crclist
  std::int64_t size = 0;   // of the decoded file, from the crclist
};

class PayloadPart {
 public:
  // The part of |target| (a relative path below |root|) for the payload
  // |identity|, whose length may not exceed |limit| bytes. |root| must
  // outlive this.
  PayloadPart(const GameFolder& root, std::u16string target, PayloadIdentity identity,
              std::int64_t limit);

  // The bytes kept for this payload, and in |total| its announced length
  // (larger than their count); empty, with any part there removed, when
  // none is kept for this payload or it cannot be read whole.
  std::vector<std::uint8_t> Load(std::int64_t& total) const;

  // Keeps |bytes|, the first bytes of the payload, of |total| bytes in all,
  // in place of any earlier part. Keeps nothing (and removes what was there)
  // when |bytes| is empty, or when |total| is unknown (< 1), beyond the limit
  // or not larger than the count of |bytes|.
  void Save(const std::vector<std::uint8_t>& bytes, std::int64_t total) const;

  void Remove() const;

 private:
  const GameFolder& root_;
  std::u16string target_;
  PayloadIdentity identity_;
  std::int64_t limit_;
};

// The sweep of a run over its listed files: removes the part of |name| in
// |folder| unless it belongs to |identity| (a part of another release).
void RemoveForeignPart(const HeldFolder& folder, std::u16string_view name,
                       const PayloadIdentity& identity);

// One attempt's transfer of the payload at |url| into |payload| over |http|.
// When |part| holds the payload's first bytes, asks for the rest with a range
// request; a server that does not honour it (or now announces another
// length) gets the part discarded and the whole payload fetched, in the same
// call. What arrived is kept in |part| while the transfer runs (from 1 MiB
// on, each time it doubled; whole-payload requests only) and when it breaks
// off, unless |stopped| then says the run is stopping: a stopped run writes
// nothing more. |progress| gets the bytes this transfer received over the
// network so far and how many it asks for in all (-1 unknown): the rest of
// the payload when a part is resumed, so a progress line shows what is
// really fetched. It runs on this thread. |resumed| gets how many of
// |payload|'s first bytes came from the part rather than the network (0 when
// none was kept or it was discarded). Returns as HttpSession::Get does,
// |http|'s last_error() telling why.
bool TransferPayload(HttpSession& http, const std::u16string& url, const PayloadPart& part,
                     const RequestOptions& options, const ProgressFn& progress,
                     const std::function<bool()>& stopped, std::vector<std::uint8_t>& payload,
                     std::int64_t& resumed);

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_PAYLOAD_PART_H_
