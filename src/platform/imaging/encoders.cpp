// The encoder list. Only the PNG encoder encodes; BMP and JPEG stand before
// it, as in the platform library's list, so a lookup must really walk the
// list. The strings and signature bytes live in the caller's buffer after
// the array, and the byte size covers them all.
#include <cstring>

#include "platform/imaging/encoders.h"
#include "platform/common/platform_state.h"

namespace {

struct Entry {
    CLSID clsid;
    GUID format;
    const char16_t* codecName;
    const char16_t* description;
    const char16_t* extensions;
    const char16_t* mimeType;
    const uint8_t* signature;
    DWORD signatureSize;
};

constexpr uint8_t kBmpSignature[] = {'B', 'M'};
constexpr uint8_t kJpegSignature[] = {0xFF, 0xD8};
constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// The platform library's published encoder and format ids.
constexpr GUID kGdiEncoderBase = {0x557CF400, 0x1A04, 0x11D3,
                                  {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
constexpr GUID kGdiFormatBase = {0xB96B3CAB, 0x0728, 0x11D3,
                                 {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

constexpr GUID WithData1(GUID id, uint32_t data1)
{
    id.Data1 = data1;
    return id;
}

const Entry kEntries[] = {
    {WithData1(kGdiEncoderBase, 0x557CF400), WithData1(kGdiFormatBase, 0xB96B3CAB),
     u"Built-in BMP encoder", u"BMP", u"*.BMP;*.DIB;*.RLE", u"image/bmp", kBmpSignature,
     sizeof kBmpSignature},
    {WithData1(kGdiEncoderBase, 0x557CF401), WithData1(kGdiFormatBase, 0xB96B3CAE),
     u"Built-in JPEG encoder", u"JPEG", u"*.JPG;*.JPEG;*.JPE;*.JFIF", u"image/jpeg",
     kJpegSignature, sizeof kJpegSignature},
    {kPngEncoderClsid, WithData1(kGdiFormatBase, 0xB96B3CAF), u"Built-in PNG encoder", u"PNG",
     u"*.PNG", u"image/png", kPngSignature, sizeof kPngSignature},
};
constexpr UINT kEntryCount = sizeof kEntries / sizeof kEntries[0];

// ImageCodecInfo flags: an encoder of bitmaps, built in.
constexpr DWORD kEncoderFlags = 0x1 | 0x4 | 0x10000;

size_t StringBytes(const char16_t* text)
{
    return (std::char_traits<char16_t>::length(text) + 1) * sizeof(char16_t);
}

// Bytes after the array: strings first (2-byte aligned), then signatures.
size_t TailBytes(const Entry& entry)
{
    return StringBytes(entry.codecName) + StringBytes(entry.description) +
           StringBytes(entry.extensions) + StringBytes(entry.mimeType) + 2 * entry.signatureSize;
}

UINT ListBytes()
{
    size_t total = kEntryCount * sizeof(ImageCodecInfo);
    for (const Entry& entry : kEntries)
        total += TailBytes(entry);
    return static_cast<UINT>(total);
}

}  // namespace

GpStatus WINAPI GdipGetImageEncodersSize(UINT* count, UINT* size)
{
    ++Counters().encoderSizeQueries;
    if (count == nullptr || size == nullptr)
        return InvalidParameter;
    const bool empty = Counters().encoderListEmpty;
    *count = empty ? 0 : kEntryCount;
    *size = empty ? 0 : ListBytes();
    return Ok;
}

GpStatus WINAPI GdipGetImageEncoders(UINT count, UINT size, ImageCodecInfo* encoders)
{
    ++Counters().encoderListQueries;
    const bool empty = Counters().encoderListEmpty;
    if (count != (empty ? 0 : kEntryCount) || size != (empty ? 0 : ListBytes()))
        return GenericError;
    if (empty)
        return Ok;
    if (encoders == nullptr)
        return InvalidParameter;
    auto* tail = reinterpret_cast<uint8_t*>(encoders + kEntryCount);
    auto place = [&tail](const void* bytes, size_t n) {
        std::memcpy(tail, bytes, n);
        const uint8_t* at = tail;
        tail += n;
        return at;
    };
    for (UINT i = 0; i < kEntryCount; ++i) {
        const Entry& entry = kEntries[i];
        ImageCodecInfo& info = encoders[i];
        info = ImageCodecInfo{};
        info.Clsid = entry.clsid;
        info.FormatID = entry.format;
        info.CodecName = reinterpret_cast<const WCHAR*>(
            place(entry.codecName, StringBytes(entry.codecName)));
        info.DllName = nullptr;  // built in
        info.FormatDescription = reinterpret_cast<const WCHAR*>(
            place(entry.description, StringBytes(entry.description)));
        info.FilenameExtension = reinterpret_cast<const WCHAR*>(
            place(entry.extensions, StringBytes(entry.extensions)));
        info.MimeType = reinterpret_cast<const WCHAR*>(
            place(entry.mimeType, StringBytes(entry.mimeType)));
        info.Flags = kEncoderFlags;
        info.Version = 1;
        info.SigCount = 1;
        info.SigSize = entry.signatureSize;
        info.SigPattern = place(entry.signature, entry.signatureSize);
        // Every signature byte is compared in full.
        info.SigMask = tail;
        std::memset(tail, 0xFF, entry.signatureSize);
        tail += entry.signatureSize;
    }
    return Ok;
}
