/*
 * The frame that telmif32 ordinal 2 sends to KIV's window: one WM_COPYDATA
 * whose dwData is telmifFrameTag and whose payload is a telmifFrameHeader
 * followed by exactly byteCount bytes.
 *
 * The tag has message number 0 (WM_NULL) in its upper 16 bits. A relay
 * request for WM_NULL would deliver nothing, so the relay never carries one,
 * and relay replies carry 2984 there: no relay frame can take this value.
 * Every header field is stored little-endian whatever the host.
 */
#ifndef TELMIF_FRAME_H
#define TELMIF_FRAME_H

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr std::uint32_t telmifFrameTag = 0x0000f32aU;
constexpr std::uint32_t telmifFrameMagic = 0x324d4c54U; /* "TLM2" */
/* Larger payloads are refused by both ends. */
constexpr std::uint32_t telmifMaxBytes = 1U << 20;

/* wParam of message 2074: the message number below, the message's own
 * wParam from bit 16 up (as many bits as WPARAM has left). */
constexpr unsigned telmifWrapShift = 16;

struct telmifFrameHeader {
    std::uint32_t magic;
    std::uint32_t message;
    std::uint64_t wParam;
    std::int32_t textMode;
    std::uint32_t byteCount;
};
constexpr std::size_t telmifHeaderSize = 24;

inline void telmifPut32(unsigned char* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline std::uint32_t telmifGet32(const unsigned char* at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

inline void telmifPutHeader(unsigned char* at, const telmifFrameHeader& header)
{
    telmifPut32(at, header.magic);
    telmifPut32(at + 4, header.message);
    telmifPut32(at + 8, static_cast<std::uint32_t>(header.wParam));
    telmifPut32(at + 12, static_cast<std::uint32_t>(header.wParam >> 32));
    telmifPut32(at + 16, static_cast<std::uint32_t>(header.textMode));
    telmifPut32(at + 20, header.byteCount);
}

/* False when the bytes cannot be a frame: too short, wrong magic, or a byte
 * count that disagrees with the size actually received. */
inline bool telmifGetHeader(const void* data, std::size_t size, telmifFrameHeader& header)
{
    if (data == nullptr || size < telmifHeaderSize)
        return false;
    const auto* at = static_cast<const unsigned char*>(data);
    header.magic = telmifGet32(at);
    header.message = telmifGet32(at + 4);
    header.wParam = telmifGet32(at + 8) | (static_cast<std::uint64_t>(telmifGet32(at + 12)) << 32);
    header.textMode = static_cast<std::int32_t>(telmifGet32(at + 16));
    header.byteCount = telmifGet32(at + 20);
    return header.magic == telmifFrameMagic && header.byteCount <= telmifMaxBytes &&
           header.byteCount == size - telmifHeaderSize;
}

#endif /* TELMIF_FRAME_H */
