#include "ui/still_frame.h"

#include <cstdlib>
#include <cstring>

#include "core/win/com_ptr.h"
#include "core/win/wide.h"
#include "core/win/windows_include.h"
#include "ui/video_file.h"

// After windows.h, which they need.
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>

namespace emberfall {
namespace {

using win::ComPtr;

// The frame's pixels and their rows' distance, locked for reading: through
// IMF2DBuffer where the buffer has it (its pitch is the truth), else as one
// contiguous block.
class LockedFrame {
 public:
  explicit LockedFrame(IMFSample* sample) {
    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(sample->GetBufferByIndex(0, buffer.put()))) return;
    if (SUCCEEDED(buffer->QueryInterface(IID_IMF2DBuffer, twoD_.put_void()))) {
      BYTE* scan0 = nullptr;
      LONG pitch = 0;
      if (SUCCEEDED(twoD_->Lock2D(&scan0, &pitch))) {
        data_ = scan0;
        pitch_ = pitch;
        return;
      }
      twoD_.reset();
    }
    if (FAILED(sample->ConvertToContiguousBuffer(buffer_.put()))) return;
    BYTE* data = nullptr;
    DWORD length = 0;
    if (SUCCEEDED(buffer_->Lock(&data, nullptr, &length))) {
      data_ = data;
      length_ = length;
    } else {
      buffer_.reset();
    }
  }
  ~LockedFrame() {
    if (data_ == nullptr) return;
    if (twoD_) twoD_->Unlock2D();
    if (buffer_) buffer_->Unlock();
  }
  LockedFrame(const LockedFrame&) = delete;
  LockedFrame& operator=(const LockedFrame&) = delete;

  const std::uint8_t* data() const { return data_; }
  // 0 when only the length is known.
  LONG pitch() const { return pitch_; }
  DWORD length() const { return length_; }

 private:
  ComPtr<IMF2DBuffer> twoD_;
  ComPtr<IMFMediaBuffer> buffer_;
  const std::uint8_t* data_ = nullptr;
  LONG pitch_ = 0;
  DWORD length_ = 0;
};

bool AskFor(IMFSourceReader* reader, const GUID& subtype) {
  ComPtr<IMFMediaType> type;
  if (FAILED(MFCreateMediaType(type.put()))) return false;
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, subtype);
  return SUCCEEDED(reader->SetCurrentMediaType(
      static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM), nullptr, type.get()));
}

// The first sample that carries a picture; a few empty reads (stream ticks,
// format changes) are passed over.
ComPtr<IMFSample> FirstSample(IMFSourceReader* reader) {
  ComPtr<IMFSample> sample;
  for (int read = 0; read < 8 && !sample; ++read) {
    DWORD flags = 0;
    if (FAILED(reader->ReadSample(static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM), 0,
                                  nullptr, &flags, nullptr, sample.put())) ||
        (flags & (MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_ENDOFSTREAM))) {
      return {};
    }
  }
  return sample;
}


// The file's first video stream, asked for RGB32 (*|rgb|) or else NV12.
ComPtr<IMFSourceReader> OpenVideoReader(const std::u16string& path, bool* rgb) {
  ComPtr<IMFAttributes> attributes;
  if (FAILED(MFCreateAttributes(attributes.put(), 1))) return {};
  // Windows converts to RGB32 for us; Wine's reader gives only what its
  // decoder does (NV12), converted here.
  attributes->SetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, TRUE);
  ComPtr<IMFSourceReader> reader;
  const std::wstring file = win::ToWinString(path);
  if (FAILED(MFCreateSourceReaderFromURL(file.c_str(), attributes.get(), reader.put()))) {
    return {};
  }
  reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE);
  reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM), TRUE);
  *rgb = AskFor(reader.get(), MFVideoFormat_RGB32);
  if (!*rgb && !AskFor(reader.get(), MFVideoFormat_NV12)) return {};
  return reader;
}

// The picture's size as decoded (whole macroblocks) and as shown.
struct FrameSize {
  std::uint32_t codedWidth = 0;
  std::uint32_t codedHeight = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

std::optional<FrameSize> ReadFrameSize(IMFSourceReader* reader) {
  ComPtr<IMFMediaType> type;
  UINT64 packedSize = 0;
  if (FAILED(reader->GetCurrentMediaType(static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM),
                                         type.put())) ||
      FAILED(type->GetUINT64(MF_MT_FRAME_SIZE, &packedSize))) {
    return std::nullopt;
  }
  FrameSize size;
  size.codedWidth = static_cast<std::uint32_t>(packedSize >> 32);
  size.codedHeight = static_cast<std::uint32_t>(packedSize);
  if (size.codedWidth == 0 || size.codedHeight == 0 || size.codedWidth > 8192 ||
      size.codedHeight > 8192) {
    return std::nullopt;
  }
  // Decoders round the picture up to whole macroblocks; the aperture is the
  // part that is picture.
  size.width = size.codedWidth;
  size.height = size.codedHeight;
  MFVideoArea aperture{};
  if (SUCCEEDED(type->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&aperture),
                              sizeof(aperture), nullptr)) &&
      aperture.Area.cx > 0 && aperture.Area.cy > 0 &&
      static_cast<std::uint32_t>(aperture.Area.cx) <= size.codedWidth &&
      static_cast<std::uint32_t>(aperture.Area.cy) <= size.codedHeight) {
    size.width = static_cast<std::uint32_t>(aperture.Area.cx);
    size.height = static_cast<std::uint32_t>(aperture.Area.cy);
  }
  return size;
}

// The locked frame's pixels as BGRA; nothing when its layout does not fit
// |size|.
std::optional<StillFrame> ConvertFrame(const LockedFrame& frame, const FrameSize& size, bool rgb) {
  const std::size_t planeRows = rgb ? size.codedHeight : size.codedHeight + size.codedHeight / 2;
  std::int64_t pitch = frame.pitch();
  if (pitch == 0) {
    pitch = frame.length() % planeRows == 0 ? frame.length() / planeRows : 0;
  }
  const std::int64_t rowBytes = rgb ? std::int64_t{size.codedWidth} * 4 : size.codedWidth;
  // A negative pitch is a bottom-up picture, whose first row Lock2D still
  // points at; only ever seen for RGB.
  if (std::abs(pitch) < rowBytes || (!rgb && pitch < 0)) return std::nullopt;
  if (frame.pitch() == 0 && static_cast<std::uint64_t>(pitch) * planeRows > frame.length()) {
    return std::nullopt;
  }
  StillFrame still{size.width, size.height, {}};
  still.pixels.resize(std::size_t{still.width} * still.height * 4);
  const std::uint32_t outStride = still.width * 4;
  if (!rgb) {
    Nv12ToBgra(frame.data(), frame.data() + pitch * size.codedHeight,
               static_cast<std::uint32_t>(pitch), still.width, still.height, still.pixels.data(),
               outStride);
    return still;
  }
  for (std::uint32_t y = 0; y < still.height; ++y) {
    std::uint8_t* out = still.pixels.data() + std::size_t{y} * outStride;
    std::memcpy(out, frame.data() + pitch * y, outStride);
    // The fourth byte of RGB32 is padding: opaque here.
    for (std::uint32_t x = 3; x < outStride; x += 4) out[x] = 255;
  }
  return still;
}

}  // namespace

std::optional<StillFrame> DecodeFirstFrame(const std::u16string& path) {
  bool rgb = false;
  const ComPtr<IMFSourceReader> reader = OpenVideoReader(path, &rgb);
  if (!reader) return std::nullopt;
  const std::optional<FrameSize> size = ReadFrameSize(reader.get());
  if (!size) return std::nullopt;
  const ComPtr<IMFSample> sample = FirstSample(reader.get());
  if (!sample) return std::nullopt;
  const LockedFrame frame(sample.get());
  if (frame.data() == nullptr) return std::nullopt;
  return ConvertFrame(frame, *size, rgb);
}

}  // namespace emberfall
