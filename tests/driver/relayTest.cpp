// The relay between two windows of this process: the wire format and the
// round trip of values and texts.
#include "driverTestSupport.h"
#include "telmwm32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// A window that hands WM_COPYDATA to the relay (or only records it) and
// answers every other message through a handler.
class relayPeer {
public:
    explicit relayPeer(bool relaying = true) : relaying(relaying)
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = procedure;
        windowClass.cbWndExtra = sizeof(relayPeer*);
        windowClass.lpszClassName = "relayPeer";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "relayPeer", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, this);
    }
    ~relayPeer() { DestroyWindow(window); }

    HWND window = nullptr;
    bool relaying;
    std::vector<COPYDATASTRUCT> frames;     // as received, when not relaying
    std::vector<std::vector<char>> payloads; // their bytes
    std::function<LRESULT(UINT, WPARAM, LPARAM)> onMessage;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_CREATE) {
            const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
            return 0;
        }
        auto* self = reinterpret_cast<relayPeer*>(GetWindowLongPtrA(window, 0));
        if (message == WM_COPYDATA && self != nullptr) {
            const auto* copyData = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (self->relaying) {
                relayReceive(window, reinterpret_cast<HWND>(static_cast<ULONG_PTR>(LOWORD(wParam))), copyData);
            } else {
                self->frames.push_back(*copyData);
                const char* bytes = static_cast<const char*>(copyData->lpData);
                self->payloads.emplace_back(bytes, bytes + copyData->cbData);
            }
            return 1;
        }
        // The window's own life is none of the handler's business.
        if (self == nullptr || message < WM_USER || !self->onMessage)
            return DefWindowProcA(window, message, wParam, lParam);
        return self->onMessage(message, wParam, lParam);
    }
};

class relay : public ::testing::Test {
protected:
    scopedDesktop desktop;
    relayPeer sender;
    relayPeer receiver;

    std::vector<char> textBuffer(const std::string& text, size_t size = RELAY_TEXT_BYTES)
    {
        std::vector<char> buffer(size, '\0');
        std::memcpy(buffer.data(), text.data(), std::min(text.size(), size));
        return buffer;
    }
};

TEST_F(relay, carriesATextRequestAsTheMessageNumberShiftedUpAnd512Bytes)
{
    relayPeer recorder(false);
    auto buffer = textBuffer("IR 1 2 'x' 0");
    relaySend(sender.window, recorder.window, 2123, 0, reinterpret_cast<LPARAM>(buffer.data()), 0, 1);
    ASSERT_EQ(recorder.frames.size(), 1u);
    EXPECT_EQ(recorder.frames[0].dwData, 2123u * 65536u);
    EXPECT_EQ(recorder.frames[0].cbData, 512u);
    EXPECT_STREQ(recorder.payloads[0].data(), "IR 1 2 'x' 0");
}

TEST_F(relay, carriesAValueAsEightHexDigitsAndZeroBytesInSixteen)
{
    relayPeer recorder(false);
    relaySend(sender.window, recorder.window, 2180, 0x12345, 255, 0, 0);
    ASSERT_EQ(recorder.frames.size(), 1u);
    EXPECT_EQ(recorder.frames[0].dwData, (2180u << 16) | 0x2345u);
    ASSERT_EQ(recorder.frames[0].cbData, 16u);
    const std::vector<char> expected = {'0', '0', '0', '0', '0', '0', 'f', 'f', 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(recorder.payloads[0], expected);
}

TEST_F(relay, deliversAValueAndReturnsTheLow16BitsOfTheResult)
{
    UINT seenMessage = 0;
    WPARAM seenWParam = 0;
    LPARAM seenValue = 0;
    receiver.onMessage = [&](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        seenMessage = message;
        seenWParam = wParam;
        seenValue = lParam;
        return 65537;
    };
    EXPECT_EQ(relaySend(sender.window, receiver.window, 2174, 0x10007, 0xdeadbeef, 0, 0), 1u);
    EXPECT_EQ(seenMessage, 2174u);
    EXPECT_EQ(seenWParam, 7u);
    EXPECT_EQ(static_cast<DWORD>(seenValue), 0xdeadbeefu);
}

TEST_F(relay, bringsBackTheTextTheReceiverRewrote)
{
    receiver.onMessage = [](UINT, WPARAM, LPARAM lParam) -> LRESULT {
        std::strcpy(reinterpret_cast<char*>(lParam), "answered");
        return 3;
    };
    auto buffer = textBuffer("question");
    EXPECT_EQ(relaySend(sender.window, receiver.window, 2189, 0, reinterpret_cast<LPARAM>(buffer.data()), 100, 1), 3u);
    EXPECT_STREQ(buffer.data(), "answered");
}

TEST_F(relay, leavesTheCallersBufferAloneWithReplyLengthZero)
{
    receiver.onMessage = [](UINT, WPARAM, LPARAM lParam) -> LRESULT {
        std::strcpy(reinterpret_cast<char*>(lParam), "answered");
        return 1;
    };
    auto buffer = textBuffer("question");
    relaySend(sender.window, receiver.window, 2189, 0, reinterpret_cast<LPARAM>(buffer.data()), 0, 1);
    EXPECT_STREQ(buffer.data(), "question");
}

TEST_F(relay, copiesBackAtMost512BytesWhateverTheReplyLength)
{
    receiver.onMessage = [](UINT, WPARAM, LPARAM lParam) -> LRESULT {
        std::memset(reinterpret_cast<char*>(lParam), 'r', 512);
        return 1;
    };
    auto buffer = textBuffer("", 1000);
    std::memset(buffer.data() + 512, 'k', 1000 - 512);
    relaySend(sender.window, receiver.window, 2189, 0, reinterpret_cast<LPARAM>(buffer.data()), 1000, 1, 1000);
    EXPECT_EQ(std::string(buffer.data(), 512), std::string(512, 'r'));
    EXPECT_EQ(std::string(buffer.data() + 512, 488), std::string(488, 'k'));
}

TEST_F(relay, deliversATextLongerThan512BytesWhole)
{
    std::string delivered;
    receiver.onMessage = [&](UINT, WPARAM, LPARAM lParam) -> LRESULT {
        delivered = reinterpret_cast<const char*>(lParam);
        return 1;
    };
    const std::string text(1024, 'x');
    auto buffer = textBuffer(text, text.size() + 1);
    EXPECT_EQ(relaySend(sender.window, receiver.window, 2187, 0, reinterpret_cast<LPARAM>(buffer.data()), 0, 1,
                        static_cast<DWORD>(buffer.size())),
              1u);
    EXPECT_EQ(delivered, text);
}

TEST_F(relay, returnsZeroAndCopiesNothingWhenNoAnswerComes)
{
    receiver.onMessage = [](UINT, WPARAM, LPARAM) -> LRESULT { return 9; };
    auto first = textBuffer("first");
    ASSERT_EQ(relaySend(sender.window, receiver.window, 2189, 0, reinterpret_cast<LPARAM>(first.data()), 0, 1), 9u);

    relayPeer silent(false);
    auto buffer = textBuffer("mine");
    EXPECT_EQ(relaySend(sender.window, silent.window, 2189, 0, reinterpret_cast<LPARAM>(buffer.data()), 512, 1), 0u);
    EXPECT_STREQ(buffer.data(), "mine");
}

TEST_F(relay, returnsZeroForADestinationThatIsNoWindow)
{
    HWND gone = receiver.window;
    DestroyWindow(gone);
    receiver.window = nullptr;
    EXPECT_EQ(relaySend(sender.window, gone, 2180, 0, 1, 0, 0), 0u);
}

TEST_F(relay, neverAnswersARequestThatCarriesTheReplyNumber)
{
    relayPeer recorder(false);
    int delivered = 0;
    receiver.onMessage = [&](UINT, WPARAM, LPARAM) -> LRESULT {
        ++delivered;
        return 5;
    };
    // The receiver takes 2984 for an answer: nothing is delivered and nothing answered.
    EXPECT_EQ(relaySend(recorder.window, receiver.window, RELAY_REPLY, 0, 0, 0, 0), 1u);
    EXPECT_EQ(delivered, 0);
    EXPECT_TRUE(recorder.frames.empty());
}

TEST_F(relay, answersToTheWindowNamedByTheLow16BitsOfTheSendersHandle)
{
    ASSERT_NE(reinterpret_cast<ULONG_PTR>(sender.window) >> 16, 0u) << "handles carry a reuse count above bit 16";
    receiver.onMessage = [](UINT, WPARAM, LPARAM) -> LRESULT { return 42; };
    EXPECT_EQ(relaySend(sender.window, receiver.window, 2181, 0, 0, 0, 0), 42u);
}

class hostileRelay : public relay {
protected:
    std::string deliveredText;
    size_t deliveredRoom = 0;

    void SetUp() override
    {
        receiver.onMessage = [this](UINT, WPARAM, LPARAM lParam) -> LRESULT {
            deliveredRoom = relayTextRoom(reinterpret_cast<const void*>(lParam));
            deliveredText = reinterpret_cast<const char*>(lParam);
            return 1;
        };
    }

    void sendRaw(ULONG_PTR dwData, const void* bytes, DWORD size)
    {
        COPYDATASTRUCT copyData{dwData, size, const_cast<void*>(bytes)};
        SendMessageA(receiver.window, WM_COPYDATA, reinterpret_cast<WPARAM>(sender.window),
                     reinterpret_cast<LPARAM>(&copyData));
    }
};

TEST_F(hostileRelay, deliversAShortUnterminatedTextFromAZeroedBufferOf512Bytes)
{
    sendRaw(2189u << 16, "abcde", 5);
    EXPECT_EQ(deliveredText, "abcde");
    EXPECT_GE(deliveredRoom, 512u);
}

TEST_F(hostileRelay, cutsA512ByteTextWithoutTerminatorAtItsEnd)
{
    const std::string full(512, 'z');
    sendRaw(2189u << 16, full.data(), 512);
    EXPECT_EQ(deliveredText, full);
}

TEST_F(hostileRelay, readsAValuePayloadThatIsNoNumberAsZero)
{
    LPARAM value = -1;
    receiver.onMessage = [&](UINT, WPARAM, LPARAM lParam) -> LRESULT {
        value = lParam;
        return 1;
    };
    const char junk[16] = {'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z'};
    sendRaw(2180u << 16, junk, 16);
    EXPECT_EQ(value, 0);
}

TEST_F(hostileRelay, ignoresAFrameWithBytesButNoData)
{
    bool delivered = false;
    receiver.onMessage = [&](UINT, WPARAM, LPARAM) -> LRESULT {
        delivered = true;
        return 1;
    };
    sendRaw(2189u << 16, nullptr, 512);
    EXPECT_FALSE(delivered);
}

TEST_F(hostileRelay, deliversAnEmptyTextForAnEmptyPayload)
{
    deliveredText = "unchanged";
    sendRaw(2189u << 16, nullptr, 0);
    EXPECT_EQ(deliveredText, "");
}

} // namespace
