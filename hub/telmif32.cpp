// telmif32: carries connection-mode-2 traffic between a driver and KIV.
#include "telmif32.h"

#include "hubMessages.h"
#include "telmifFrame.h"

#include <memory>

namespace {

// Messages whose lParam is a pointer in the receiving process: a value that
// came from another process must never reach them.
bool carriesPointer(UINT message)
{
    switch (message) {
    case WM_CREATE:
    case WM_NCCREATE:
    case WM_COPYDATA:
    case msgCarried: // would only unwrap itself again
    case msgNSMessage:
    case msgTextMessage:
    case msgDatabaseChangeWide:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" LRESULT WINAPI telmifDeliver(HWND window, WPARAM wParam, LPARAM lParam)
{
    const UINT message = static_cast<UINT>(wParam & 0xffff);
    if (carriesPointer(message))
        return 0;
    return SendMessageA(window, message, wParam >> telmifWrapShift, lParam);
}

extern "C" LRESULT WINAPI telmifSend(HWND kivWindow, WORD message, WPARAM wParam,
                                     const void* data, int textMode, int byteCount)
{
    if (byteCount < 0 || static_cast<std::uint32_t>(byteCount) > telmifMaxBytes || (byteCount > 0 && data == nullptr))
        return 0;
    // Every command text of a generator fits the buffer on the stack; a
    // larger frame is made on the heap. Every byte is written below.
    const std::size_t size = telmifHeaderSize + static_cast<std::size_t>(byteCount);
    unsigned char small[2048];
    std::unique_ptr<unsigned char[]> large;
    unsigned char* frame = small;
    if (size > sizeof small) {
        large.reset(new unsigned char[size]);
        frame = large.get();
    }
    const telmifFrameHeader header{telmifFrameMagic, message, static_cast<std::uint64_t>(wParam),
                                   textMode, static_cast<std::uint32_t>(byteCount)};
    telmifPutHeader(frame, header);
    if (byteCount > 0)
        std::memcpy(frame + telmifHeaderSize, data, static_cast<std::size_t>(byteCount));

    COPYDATASTRUCT copyData;
    copyData.dwData = telmifFrameTag;
    copyData.cbData = static_cast<DWORD>(size);
    copyData.lpData = frame;
    // No window of the caller is known here; KIV answers through the result.
    return SendMessageA(kivWindow, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copyData));
}
