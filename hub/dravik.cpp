// dravik: publishes the window of the stand-in hub to drivers.
#include "rkwin.h"

#ifdef _WIN32
#define DRAVIK_API __declspec(dllexport)
#else
#define DRAVIK_API __attribute__((visibility("default")))
#endif

extern "C" DRAVIK_API HWND kivHwnd(void)
{
    return FindWindowA("kivstandin", nullptr);
}
