// The drivers registered at the stand-in hub.
#ifndef HUB_REGISTRY_H
#define HUB_REGISTRY_H

#include "rkwin.h"

#include <functional>
#include <map>
#include <vector>

struct hubDriver {
    unsigned long device = 0;
    HWND window = nullptr;
    int mode = 0;   // 1 relay, 2 telmif32
    long state = 0; // as KIV holds it: 1, 2, or 3 (state 2 asked for with the flag)
};

class hubRegistry {
public:
    void add(const hubDriver& driver) { m_drivers[driver.device] = driver; }
    hubDriver* find(unsigned long device);
    bool remove(unsigned long device) { return m_drivers.erase(device) > 0; }
    std::size_t removeWindow(HWND window);
    // Removes every driver for which isAlive fails; returns the devices freed.
    std::vector<unsigned long> sweep(const std::function<bool(HWND)>& isAlive);

    std::size_t size() const { return m_drivers.size(); }
    bool empty() const { return m_drivers.empty(); }
    // A copy: sending to drivers may change the registry under the caller.
    std::vector<hubDriver> snapshot() const;

private:
    std::map<unsigned long, hubDriver> m_drivers;
};

#endif
