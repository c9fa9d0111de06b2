/*
 * This process's window classes and windows, and how handles name them: a
 * handle's low 16 bits are its slot, the high ones tell windows of one slot
 * apart over time.
 */
#ifndef RKWINDOWTABLE_H
#define RKWINDOWTABLE_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "rkwin.h"

namespace rkwin {

struct WindowClass {
    std::string name;
    WNDPROC procedure = nullptr;
    int extraBytes = 0;
    ATOM atom = 0;
    int windows = 0;
};

struct Window {
    uint32_t handle = 0;
    std::shared_ptr<WindowClass> windowClass;
    std::vector<unsigned char> extra;
    LONG_PTR userData = 0;
    bool topLevel = false;
    bool destroying = false;
    std::string name;
};

/* Where a handle leads: a window of ours, or one in another process. */
struct Target {
    Window* local = nullptr;
    uint32_t handle = 0;
    pid_t pid = -1;
    bool fromCache = false;
};

/* The numeric value of a window handle; 0 for values that are no handle. */
uint32_t handleValue(HWND window);
HWND toHwnd(uint32_t handle);
/* Class names compare without regard to case. */
std::string classKey(const char* name);
inline uint32_t slotOf(uint32_t handle) { return handle & 0xffff; }
/* A handle given by its slot alone: high 16 bits 0 or 0xffff. */
inline bool isSlotOnly(uint32_t handle) { return (handle >> 16) == 0 || (handle >> 16) == 0xffff; }

constexpr uint32_t broadcastHandle = 0xffff;

struct WindowTable {
    std::map<std::string, std::shared_ptr<WindowClass>> classes; /* keyed by lower-case name */
    std::map<uint32_t, std::unique_ptr<Window>> windows;         /* keyed by slot */
    ATOM nextAtom = 0xC000;

    std::shared_ptr<WindowClass> findClass(LPCSTR nameOrAtom) const;
    /* The window of a handle, or of its slot alone. */
    Window* local(uint32_t handle) const;
    /* The window of exactly this handle. */
    Window* exactLocal(uint32_t handle) const;
};

} // namespace rkwin

#endif
