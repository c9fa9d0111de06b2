/*
 * The one place where this layer runs user code: window procedures. A
 * procedure may send, wait and so be called again before it returns, so
 * calls nest here; each keeps what InSendMessageEx answers and which send
 * of another process it may still reply to, and leaves the outer call's
 * as it found them. Nothing below this calls a procedure.
 */
#ifndef RKPROCEDURECALLS_H
#define RKPROCEDURECALLS_H

#include "session/rkPeers.h"
#include "session/rkWindowTable.h"
#include "rkwin.h"

namespace rkwin {

class ProcedureCalls {
public:
    explicit ProcedureCalls(Peers& peers) : peers_(peers) {}

    /*
     * Calls the procedure of a window of this process. Until it returns,
     * InSendMessageEx answers sendFlags: ISMEX_SEND for a message that
     * another process sent, ISMEX_NOSEND for one of this thread.
     */
    LRESULT call(const Window& window, UINT message, WPARAM wParam, LPARAM lParam, DWORD sendFlags);
    DWORD sendFlags() const { return sendFlags_; }

    /* Runs the procedure for a send of another process to window (null: none such) and answers the sender. */
    void answer(const Peer& peer, rkwire::Frame& frame, Window* window);
    /*
     * Answers the send of another process that the innermost call handles,
     * before the procedure returns; false for any other message or one
     * answered already.
     */
    bool replyEarly(LRESULT result);

private:
    /* A send of another process whose procedure runs */
    struct IncomingSend {
        Peer peer;
        rkwire::FrameHeader answer;
        bool replied = false;
    };
    LRESULT callForPeer(const Window& window, rkwire::Frame& frame);
    void replyWith(IncomingSend& incoming, LRESULT result);

    Peers& peers_;
    DWORD sendFlags_ = ISMEX_NOSEND;
    IncomingSend* incoming_ = nullptr; /* the innermost one */
};

} // namespace rkwin

#endif
