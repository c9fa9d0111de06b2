#include "rkCheck.h"

#include "rkwin.h"

#include <cstring>

#if defined(__GNUC__)
#define RK_KEEP __attribute__((used))
#else
#define RK_KEEP
#endif

namespace {

// Read by nobody, but it must stay in every binary that links the library.
RK_KEEP const char signature[] = "TELM_SIG,rkCheck,LIB,1.0.9.0,08/12/26,TELM,<<BUILD_URL>>";

std::string signedDecimal(uint32_t value) { return std::to_string(static_cast<int32_t>(value)); }

} // namespace

rkCheck::rkCheck(const char* name) : name(name != nullptr ? name : "") {}

rkCheck::~rkCheck() = default;

void rkCheck::setName(const char* newName) { name = newName != nullptr ? newName : ""; }

bool rkCheck::checkDevice(uint32_t device) const
{
    if (device == 0)
        return fails("Device Number of out range (less than 1)");
    if (device > maxDevices)
        return fails("Device Number of out range (> MAX_DEVICES)");
    return false;
}

bool rkCheck::checkIndex(uint32_t slot) const
{
    if (slot == 0)
        return fails("Index Number of out range (less than 1)");
    if (slot > maxSlots)
        return fails("Index Number of out range (> MAX_SLOTS)");
    return false;
}

bool rkCheck::checkSource(int32_t source) const
{
    // In 64 bits, so that the bound's negation cannot overflow.
    const int64_t bound = maxSource;
    if (source < -bound)
        return fails("Source Number of out range (less than -MAX_SLOTS)");
    if (source > bound)
        return fails("Source Number of out range (> MAX_SLOTS)");
    return false;
}

bool rkCheck::checkRange(uint32_t start, uint32_t end) const
{
    return start > end && fails("Invalid range (start>end)");
}

bool rkCheck::checkIndexRange(uint32_t start, uint32_t end) const
{
    const bool startBad = checkIndex(start);
    const bool endBad = checkIndex(end);
    return startBad || endBad || checkRange(start, end);
}

bool rkCheck::checkDatabaseRange(uint32_t start, uint32_t end) const
{
    return start > end && fails("Invalid DB range (start>end)");
}

bool rkCheck::checkDatabase(int32_t database, int32_t count) const
{
    return checkDatabaseAgainst(database, count);
}

bool rkCheck::checkDatabase(int32_t database) const
{
    return checkDatabaseAgainst(database, databaseCount);
}

// The count is compared in 64 bits, so that a count above INT32_MAX does not
// turn negative; the message prints it as "%d" would.
bool rkCheck::checkDatabaseAgainst(int32_t database, int64_t count) const
{
    if (database < 0)
        return fails("Invalid database (less than 0)");
    if (database >= count)
        return fails("Invalid database (" + std::to_string(database) + ">=" +
                     signedDecimal(static_cast<uint32_t>(count)) + ")");
    return false;
}

bool rkCheck::checkV1Database(int32_t database) const
{
    if (database < 0)
        return fails("Invalid V1 database (less than 0)");
    if (database > 1)
        return fails("Invalid V1 database (>1)");
    return false;
}

bool rkCheck::checkWorkstation(uint32_t workstation) const
{
    if (workstation == 0)
        return fails("Workstation number invalid (< 1): " + signedDecimal(workstation));
    if (workstation > maxWorkstations)
        return fails("Workstation number invalid (> MAX_WORKSTATIONS): " + signedDecimal(workstation));
    return false;
}

bool rkCheck::checkStringLength(const char* text) const
{
    const char* shown = text != nullptr ? text : "";
    return std::strlen(shown) >= maxStringLength && fails(std::string("Note: string exceeds maximum: ") + shown);
}

bool rkCheck::checkStringTooLong(const char* text, uint32_t maximum) const
{
    const char* shown = text != nullptr ? text : "";
    return std::strlen(shown) > maximum && fails(std::string("String too long: ") + shown);
}

void rkCheck::setMaxDevices(uint32_t value) { maxDevices = value; }

void rkCheck::setMaxSlots(uint32_t value) { maxSlots = value; }

void rkCheck::setDatabaseCount(uint32_t value) { databaseCount = value; }

void rkCheck::setMaxSource(int32_t value) { maxSource = value; }

void rkCheck::setMaxStringLength(uint32_t value)
{
    maxStringLength = value != 0 ? value : defaultMaxStringLength;
}

void rkCheck::report(const char* message) const
{
    const std::string line = name + ": " + (message != nullptr ? message : "") + "\n";
    OutputDebugStringA(line.c_str());
}

bool rkCheck::fails(const std::string& message) const
{
    report(message.c_str());
    return true;
}
