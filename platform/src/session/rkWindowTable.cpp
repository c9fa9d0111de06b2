#include "session/rkWindowTable.h"

#include <cctype>

namespace rkwin {

uint32_t handleValue(HWND window)
{
    const uintptr_t raw = reinterpret_cast<uintptr_t>(window);
    if (window == HWND_MESSAGE)
        return 0;
    /* Handles sign-extended from 32 bits are the same handles. */
    if (raw > 0xffffffffu && (raw >> 32) != 0xffffffffu)
        return 0;
    return static_cast<uint32_t>(raw);
}

HWND toHwnd(uint32_t handle) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(handle)); }

std::string classKey(const char* name)
{
    std::string key(name);
    for (char& c : key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

std::shared_ptr<WindowClass> WindowTable::findClass(LPCSTR nameOrAtom) const
{
    const uintptr_t raw = reinterpret_cast<uintptr_t>(nameOrAtom);
    if (raw == 0)
        return nullptr;
    if (raw <= 0xffff) {
        for (auto& entry : classes)
            if (entry.second->atom == raw)
                return entry.second;
        return nullptr;
    }
    auto found = classes.find(classKey(nameOrAtom));
    return found == classes.end() ? nullptr : found->second;
}

Window* WindowTable::local(uint32_t handle) const
{
    auto found = windows.find(slotOf(handle));
    if (found == windows.end())
        return nullptr;
    return isSlotOnly(handle) || found->second->handle == handle ? found->second.get() : nullptr;
}

Window* WindowTable::exactLocal(uint32_t handle) const
{
    Window* window = local(handle);
    return window && window->handle == handle ? window : nullptr;
}

} // namespace rkwin
