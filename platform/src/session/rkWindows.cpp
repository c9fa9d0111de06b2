/*
 * Window classes, windows and their extra memory. A window lives in the
 * process that created it; the window station only knows its handle,
 * class, name and whether it is top-level.
 */
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "session/rkSession.h"
#include "rkwin.h"

using rkwin::Session;
using rkwin::Window;
using rkwin::WindowClass;

namespace {

/* Larger extra memory than any window of the family needs is taken for a mistake. */
constexpr int maxExtraBytes = 1024;

bool isName(LPCSTR nameOrAtom) { return reinterpret_cast<uintptr_t>(nameOrAtom) > 0xffff; }

LRESULT callProcedure(uint32_t handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window* window = Session::instance().windows().exactLocal(handle);
    if (!window)
        return 0;
    return rkwin::callProcedure(*window, message, wParam, lParam, ISMEX_NOSEND);
}

void releaseWindow(uint32_t handle)
{
    Session& session = Session::instance();
    auto found = session.windows().windows.find(rkwin::slotOf(handle));
    if (found == session.windows().windows.end() || found->second->handle != handle)
        return;
    found->second->windowClass->windows -= 1;
    session.windows().windows.erase(found);
    session.purgePosted(handle);
    rkwire::StationAnswer answer;
    session.station().request({rkwire::Kind::Destroy, handle}, answer);
}

uint32_t registerWithStation(LPCSTR className, LPCSTR windowName, bool topLevel)
{
    rkwire::StationAnswer answer;
    if (!Session::instance().station().request({rkwire::Kind::Create, 0, topLevel, className, windowName}, answer) ||
        answer.status != rkwire::Status::Ok)
        return 0;
    return answer.window;
}

/* The window's own extra memory, or null with the last error set. */
Window* ownWindow(HWND hwnd)
{
    uint32_t handle = rkwin::handleValue(hwnd);
    if (Window* window = Session::instance().windows().local(handle))
        return window;
    SetLastError(IsWindow(hwnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

bool extraRange(const Window& window, int index, size_t width)
{
    if (index >= 0 && static_cast<size_t>(index) + width <= window.extra.size())
        return true;
    SetLastError(ERROR_INVALID_INDEX);
    return false;
}

template <typename Value>
Value exchangeLong(HWND hwnd, int index, const Value* replacement)
{
    Window* window = ownWindow(hwnd);
    if (!window)
        return 0;
    if (index == GWLP_USERDATA) {
        Value previous = static_cast<Value>(window->userData);
        if (replacement)
            window->userData = *replacement;
        return previous;
    }
    if (!extraRange(*window, index, sizeof(Value)))
        return 0;
    Value previous;
    std::memcpy(&previous, window->extra.data() + index, sizeof previous);
    if (replacement)
        std::memcpy(window->extra.data() + index, replacement, sizeof *replacement);
    return previous;
}

} // namespace

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass)
{
    if (!windowClass || !windowClass->lpfnWndProc || !isName(windowClass->lpszClassName) ||
        !*windowClass->lpszClassName || windowClass->cbWndExtra < 0 || windowClass->cbWndExtra > maxExtraBytes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Session& session = Session::instance();
    std::string key = rkwin::classKey(windowClass->lpszClassName);
    if (session.windows().classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    if (session.windows().nextAtom == 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    auto entry = std::make_shared<WindowClass>();
    entry->name = windowClass->lpszClassName;
    entry->procedure = windowClass->lpfnWndProc;
    entry->extraBytes = windowClass->cbWndExtra;
    entry->atom = session.windows().nextAtom++;
    session.windows().classes[key] = entry;
    return entry->atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE)
{
    Session& session = Session::instance();
    std::shared_ptr<WindowClass> entry = session.windows().findClass(className);
    if (!entry) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (entry->windows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    session.windows().classes.erase(rkwin::classKey(entry->name.c_str()));
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    Session& session = Session::instance();
    std::shared_ptr<WindowClass> entry = session.windows().findClass(className);
    if (!entry) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    /* Only top-level and message-only windows exist here. */
    if (parent && parent != HWND_MESSAGE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool topLevel = parent == nullptr;
    const char* name = windowName ? windowName : "";
    uint32_t handle = registerWithStation(entry->name.c_str(), name, topLevel);
    if (handle == 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto window = std::make_unique<Window>();
    window->handle = handle;
    window->windowClass = entry;
    window->extra.assign(static_cast<size_t>(entry->extraBytes), 0);
    window->topLevel = topLevel;
    window->name = name;
    entry->windows += 1;
    session.windows().windows[rkwin::slotOf(handle)] = std::move(window);

    CREATESTRUCTA create{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                         name, entry->name.c_str(), exStyle};
    LPARAM createParam = reinterpret_cast<LPARAM>(&create);
    if (!callProcedure(handle, WM_NCCREATE, 0, createParam)) {
        callProcedure(handle, WM_NCDESTROY, 0, 0);
        releaseWindow(handle);
        return nullptr;
    }
    if (callProcedure(handle, WM_CREATE, 0, createParam) == -1) {
        DestroyWindow(rkwin::toHwnd(handle));
        return nullptr;
    }
    /* The procedure may have destroyed its window already. */
    return session.windows().exactLocal(handle) ? rkwin::toHwnd(handle) : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hwnd)
{
    uint32_t handle = rkwin::handleValue(hwnd);
    Window* window = Session::instance().windows().local(handle);
    if (!window || window->destroying) {
        SetLastError(!window && IsWindow(hwnd) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    window->destroying = true;
    handle = window->handle;
    callProcedure(handle, WM_DESTROY, 0, 0);
    callProcedure(handle, WM_NCDESTROY, 0, 0);
    releaseWindow(handle);
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    default:
        return 0;
    }
}

BOOL WINAPI IsWindow(HWND hwnd)
{
    uint32_t handle = rkwin::handleValue(hwnd);
    if (rkwin::slotOf(handle) == 0 || rkwin::slotOf(handle) == rkwin::broadcastHandle)
        return FALSE;
    rkwin::Target target;
    return Session::instance().resolve(handle, false, target);
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName)
{
    Session& session = Session::instance();
    std::string classText;
    if (className && !isName(className)) {
        std::shared_ptr<WindowClass> entry = session.windows().findClass(className);
        if (!entry)
            return nullptr;
        classText = entry->name;
    } else if (className) {
        classText = className;
    }
    rkwire::StationRequest find{rkwire::Kind::Find};
    if (className)
        find.className = classText;
    if (windowName)
        find.windowName = windowName;
    rkwire::StationAnswer answer;
    if (!session.station().request(find, answer) || answer.status != rkwire::Status::Ok)
        return nullptr;
    return rkwin::toHwnd(answer.window);
}

LONG WINAPI SetWindowLongA(HWND hwnd, int index, LONG value) { return exchangeLong<LONG>(hwnd, index, &value); }

LONG WINAPI GetWindowLongA(HWND hwnd, int index) { return exchangeLong<LONG>(hwnd, index, nullptr); }

LONG_PTR WINAPI SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value)
{
    return exchangeLong<LONG_PTR>(hwnd, index, &value);
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hwnd, int index) { return exchangeLong<LONG_PTR>(hwnd, index, nullptr); }

DWORD WINAPI GetWindowThreadProcessId(HWND hwnd, DWORD* processId)
{
    rkwin::Target target;
    if (!Session::instance().resolve(rkwin::handleValue(hwnd), false, target)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    /* One thread per process owns windows: its id is the process id. */
    DWORD owner = static_cast<DWORD>(target.local ? getpid() : target.pid);
    if (processId)
        *processId = owner;
    return owner;
}

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text ? text : "");
    std::fflush(stderr);
    return IDOK;
}
