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

// The locked frame's pixels as BGRA into |still|; false when its layout does
// not fit |size|.
bool ConvertFrame(const LockedFrame& frame, const FrameSize& size, bool rgb, StillFrame* still) {
  const std::size_t planeRows = rgb ? size.codedHeight : size.codedHeight + size.codedHeight / 2;
  std::int64_t pitch = frame.pitch();
  if (pitch == 0) {
    pitch = frame.length() % planeRows == 0 ? frame.length() / planeRows : 0;
  }
  const std::int64_t rowBytes = rgb ? std::int64_t{size.codedWidth} * 4 : size.codedWidth;
  // A negative pitch is a bottom-up picture, whose first row Lock2D still
  // points at; only ever seen for RGB.
  if (std::abs(pitch) < rowBytes || (!rgb && pitch < 0)) return false;
  if (frame.pitch() == 0 && static_cast<std::uint64_t>(pitch) * planeRows > frame.length()) {
    return false;
  }
  still->width = size.width;
  still->height = size.height;
  still->pixels.resize(std::size_t{still->width} * still->height * 4);
  const std::uint32_t outStride = still->width * 4;
  if (!rgb) {
    Nv12ToBgra(frame.data(), frame.data() + pitch * size.codedHeight,
               static_cast<std::uint32_t>(pitch), still->width, still->height,
               still->pixels.data(), outStride);
    return true;
  }
  for (std::uint32_t y = 0; y < still->height; ++y) {
    std::uint8_t* out = still->pixels.data() + std::size_t{y} * outStride;
    std::memcpy(out, frame.data() + pitch * y, outStride);
    // The fourth byte of RGB32 is padding: opaque here.
    for (std::uint32_t x = 3; x < outStride; x += 4) out[x] = 255;
  }
  return true;
}

}  // namespace

VideoReader::VideoReader() = default;

VideoReader::~VideoReader() = default;

bool VideoReader::Open(const std::u16string& path) {
  reader_ = OpenVideoReader(path, &rgb_);
  const std::optional<FrameSize> size = reader_ ? ReadFrameSize(reader_.get()) : std::nullopt;
  if (!size) {
    reader_.reset();
    return false;
  }
  codedWidth_ = size->codedWidth;
  codedHeight_ = size->codedHeight;
  width_ = size->width;
  height_ = size->height;
  return true;
}

VideoReader::Read VideoReader::Next(StillFrame* frame, std::int64_t* time) {
  if (!reader_) return Read::Failed;
  // A few empty reads (stream ticks, format changes) are passed over.
  for (int read = 0; read < 8; ++read) {
    DWORD flags = 0;
    LONGLONG stamp = 0;
    ComPtr<IMFSample> sample;
    if (FAILED(reader_->ReadSample(static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM), 0,
                                   nullptr, &flags, &stamp, sample.put())) ||
        (flags & MF_SOURCE_READERF_ERROR)) {
      return Read::Failed;
    }
    if (flags & MF_SOURCE_READERF_ENDOFSTREAM) return Read::End;
    if (!sample) continue;
    const LockedFrame locked(sample.get());
    *time = stamp;
    const FrameSize size{codedWidth_, codedHeight_, width_, height_};
    return locked.data() != nullptr && ConvertFrame(locked, size, rgb_, frame) ? Read::Frame
                                                                               : Read::Failed;
  }
  return Read::Failed;
}

bool VideoReader::Rewind() {
  if (!reader_) return false;
  PROPVARIANT start;
  PropVariantInit(&start);
  start.vt = VT_I8;
  start.hVal.QuadPart = 0;
  return SUCCEEDED(reader_->SetCurrentPosition(GUID_NULL, start));
}

std::optional<StillFrame> DecodeFirstFrame(const std::u16string& path) {
  VideoReader reader;
  StillFrame still;
  std::int64_t time = 0;
  if (!reader.Open(path) || reader.Next(&still, &time) != VideoReader::Read::Frame) {
    return std::nullopt;
  }
  return still;
}

}  // namespace emberfall
