#include "hubRegistry.h"

hubDriver* hubRegistry::find(unsigned long device)
{
    const auto it = m_drivers.find(device);
    return it == m_drivers.end() ? nullptr : &it->second;
}

std::size_t hubRegistry::removeWindow(HWND window)
{
    std::size_t removed = 0;
    for (auto it = m_drivers.begin(); it != m_drivers.end();) {
        if (it->second.window == window) {
            it = m_drivers.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}

std::vector<unsigned long> hubRegistry::sweep(const std::function<bool(HWND)>& isAlive)
{
    std::vector<unsigned long> freed;
    for (auto it = m_drivers.begin(); it != m_drivers.end();) {
        if (isAlive(it->second.window)) {
            ++it;
            continue;
        }
        freed.push_back(it->first);
        it = m_drivers.erase(it);
    }
    return freed;
}

std::vector<hubDriver> hubRegistry::snapshot() const
{
    std::vector<hubDriver> drivers;
    drivers.reserve(m_drivers.size());
    for (const auto& entry : m_drivers)
        drivers.push_back(entry.second);
    return drivers;
}
