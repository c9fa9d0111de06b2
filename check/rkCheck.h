/*
 * rkCheck: bounds of the numbers and texts a driver hands to the hub.
 *
 * Every check returns true when the value is bad, after writing one line
 * "<name>: <message>\n" to the debugger output, and false when it is good.
 * No check changes the object or corrects the value; the caller abandons
 * what it was doing.
 */
#ifndef RKCHECK_H
#define RKCHECK_H

#include <cstdint>
#include <string>

class rkCheck {
public:
    explicit rkCheck(const char* name);
    virtual ~rkCheck();
    rkCheck(const rkCheck&) = delete;
    rkCheck& operator=(const rkCheck&) = delete;

    void setName(const char* name);

    bool checkDevice(uint32_t device) const;
    bool checkIndex(uint32_t slot) const;
    bool checkSource(int32_t source) const;
    bool checkRange(uint32_t start, uint32_t end) const;
    bool checkIndexRange(uint32_t start, uint32_t end) const;
    bool checkDatabaseRange(uint32_t start, uint32_t end) const;
    bool checkDatabase(int32_t database, int32_t count) const;
    bool checkDatabase(int32_t database) const;
    bool checkV1Database(int32_t database) const;
    bool checkWorkstation(uint32_t workstation) const;
    bool checkStringLength(const char* text) const;
    bool checkStringTooLong(const char* text, uint32_t maximum) const;

    void setMaxDevices(uint32_t value);
    void setMaxSlots(uint32_t value);
    void setDatabaseCount(uint32_t value);
    void setMaxSource(int32_t value);
    void setMaxStringLength(uint32_t value); // 0 restores the default

    void report(const char* message) const;

protected:
    static constexpr uint32_t defaultMaxDevices = 4094;
    static constexpr uint32_t defaultMaxSlots = 4096;
    static constexpr uint32_t defaultDatabaseCount = 10;
    static constexpr int32_t defaultMaxSource = 4096;
    static constexpr uint32_t defaultMaxStringLength = 256;
    static constexpr uint32_t maxWorkstations = 999;

    std::string name;
    uint32_t maxDevices = defaultMaxDevices;
    uint32_t maxSlots = defaultMaxSlots;
    uint32_t databaseCount = defaultDatabaseCount;
    int32_t maxSource = defaultMaxSource;
    uint32_t maxStringLength = defaultMaxStringLength;

private:
    bool checkDatabaseAgainst(int32_t database, int64_t count) const;
    bool fails(const std::string& message) const;
};

#endif /* RKCHECK_H */
