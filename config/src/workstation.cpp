/*
 * This workstation's number. The first non-zero answer of the chain wins:
 * RK_WORKSTATION (rooted layout; ends the search when set), telm_system.ini
 * (rooted layout), kiv.ini, then ostrel.ini.
 */
#include "rkConfig.h"

#include "configText.h"

int getWorkstation()
{
    if (hasSystemEnvironment()) {
        const std::optional<std::string> fromEnvironment = readEnvironment("RK_WORKSTATION");
        if (fromEnvironment)
            return parseLeadingInt(*fromEnvironment);
        const int fromSystemFile =
            getConfigInt("config\\system\\telm_system.ini", "Network", "Workstation", 0, false);
        if (fromSystemFile != 0)
            return fromSystemFile;
    }
    const int fromHub = getConfigInt("kiv.ini", "Network", "Workstation", 0, false);
    if (fromHub != 0)
        return fromHub;
    return getConfigInt("ostrel.ini", "System", "Workstation", 0, false);
}
