/*
 * A child process for multi-process tests, on either host: its standard
 * input and output are pipes to the test, its standard error goes to a
 * file. A child still running when the object goes is killed.
 */
#ifndef TEST_PROCESS_H
#define TEST_PROCESS_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

class testProcess {
public:
    // Throws std::runtime_error when the program cannot be started.
    testProcess(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& stderrFile);
    ~testProcess();
    testProcess(const testProcess&) = delete;
    testProcess& operator=(const testProcess&) = delete;

    // False when the bytes could not all be written.
    bool writeInput(const std::string& bytes);
    void closeInput();
    // The output that has arrived, without waiting; empty when none.
    std::string readOutput();
    // The exit code once the process has ended, without waiting.
    std::optional<int> exitCode();
    void kill();
    // Sends a POSIX signal; false where the host has no signals to send.
    bool signal(int number);
    unsigned long id() const;

private:
    struct host;
    std::unique_ptr<host> state;
};

#endif
