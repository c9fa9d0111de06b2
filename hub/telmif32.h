/*
 * telmif32: the carrier of connection mode 2 between a driver and KIV.
 *
 * On Windows the functions are exported and imported by ordinal only
 * (telmif32.def): ordinal 1 is telmifDeliver, ordinal 2 is telmifSend.
 * Elsewhere they are plain C symbols of libtelmif32.so.
 */
#ifndef TELMIF32_H
#define TELMIF32_H

#include "rkwin.h"

#ifdef TELMIF32_BUILD
#define TELMIF32_API __declspec(dllexport)
#elif defined(_WIN32)
#define TELMIF32_API __declspec(dllimport)
#else
#define TELMIF32_API
#endif
#ifndef _WIN32
#undef TELMIF32_API
#define TELMIF32_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Ordinal 1. The message window hands every message 2074 to this function
 * unchanged: wParam is the message number to deliver, lParam its value. The
 * message is delivered to the window and its answer returned.
 */
TELMIF32_API LRESULT WINAPI telmifDeliver(HWND window, WPARAM wParam, LPARAM lParam);

/*
 * Ordinal 2. Sends a message with wParam and byteCount bytes at data to the
 * window of KIV and returns KIV's answer unchanged. textMode is 1 for text.
 */
TELMIF32_API LRESULT WINAPI telmifSend(HWND kivWindow, WORD message, WPARAM wParam,
                                       const void* data, int textMode, int byteCount);

#ifdef __cplusplus
}
#endif

#endif /* TELMIF32_H */
