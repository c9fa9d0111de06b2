#include "session/rkProcedureCalls.h"

#include "wire/rkPointerMessages.h"

namespace rkwin {

using rkwire::Frame;
using rkwire::FrameHeader;
using rkwire::Kind;
using rkwire::Status;

LRESULT ProcedureCalls::call(const Window& window, UINT message, WPARAM wParam, LPARAM lParam, DWORD sendFlags)
{
    const DWORD outer = sendFlags_;
    sendFlags_ = sendFlags;
    const LRESULT result = window.windowClass->procedure(toHwnd(window.handle), message, wParam, lParam);
    sendFlags_ = outer;
    return result;
}

void ProcedureCalls::answer(const Peer& peer, Frame& frame, Window* window)
{
    FrameHeader answer = rkwire::makeHeader(Kind::Reply, frame.header.window, frame.header.message);
    answer.sequence = frame.header.sequence;
    answer.status = static_cast<uint16_t>(Status::NoWindow);
    if (window && rkwire::carriesPointer(frame.header.message)) {
        /* A number from another process where the procedure expects an address of ours: refused, unseen. */
        answer.status = static_cast<uint16_t>(Status::Refused);
    } else if (window) {
        IncomingSend incoming{peer, answer};
        IncomingSend* const outer = incoming_;
        incoming_ = &incoming;
        const LRESULT result = callForPeer(*window, frame);
        incoming_ = outer;
        if (!incoming.replied)
            replyWith(incoming, result);
        return;
    }
    peers_.reply(peer, answer);
}

LRESULT ProcedureCalls::callForPeer(const Window& window, Frame& frame)
{
    const auto wParam = static_cast<WPARAM>(frame.header.wParam);
    if (frame.header.message != WM_COPYDATA)
        return call(window, frame.header.message, wParam, static_cast<LPARAM>(frame.header.lParam), ISMEX_SEND);
    COPYDATASTRUCT copy{static_cast<ULONG_PTR>(frame.header.lParam), frame.header.length,
                        frame.payload.empty() ? nullptr : frame.payload.data()};
    return call(window, WM_COPYDATA, wParam, reinterpret_cast<LPARAM>(&copy), ISMEX_SEND);
}

/* Inside a call of this process's own, sendFlags says ISMEX_NOSEND, whatever send lies further out. */
bool ProcedureCalls::replyEarly(LRESULT result)
{
    if (!incoming_ || (sendFlags_ & (ISMEX_SEND | ISMEX_REPLIED)) != ISMEX_SEND)
        return false;
    sendFlags_ |= ISMEX_REPLIED;
    replyWith(*incoming_, result);
    return true;
}

void ProcedureCalls::replyWith(IncomingSend& incoming, LRESULT result)
{
    incoming.replied = true;
    FrameHeader answer = incoming.answer;
    answer.status = static_cast<uint16_t>(Status::Ok);
    answer.lParam = result;
    peers_.reply(incoming.peer, answer);
}

} // namespace rkwin
