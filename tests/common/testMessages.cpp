#include "testHost.h"

#include "rkwin.h"

#include <algorithm>
#include <chrono>

void dispatchPendingMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool pumpMessagesUntil(const std::function<bool()>& done, int milliseconds)
{
    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        dispatchPendingMessages();
        if (done())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0)
            return done();
        waitForMessages(static_cast<int>(std::min<long long>(left, 20)));
    }
}
