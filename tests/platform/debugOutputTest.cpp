#include "basicsSupport.h"
#include "rkhost.h"
#include "rkwin.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace {

// What body, run in a child process, writes on stderr; nothing when the
// child fails.
template <typename Body> std::optional<std::string> stderrOf(Body body)
{
    TemporaryDirectory directory;
    const std::string log = directory.file("stderr.txt");
    const int exitStatus = inChildProcess([&] {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd < 0 || dup2(fd, STDERR_FILENO) < 0)
            return false;
        body();
        return true;
    });
    if (exitStatus != 0)
        return std::nullopt;
    return readBytes(log);
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(DebugOutput, SinkReceivesEachTextExactlyAsGiven)
{
    DebugCapture capture;
    OutputDebugStringA("no line end");
    OutputDebugStringA("two\nlines\n");
    OutputDebugStringA("");
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"no line end", "two\nlines\n", ""}));
}

TEST(DebugOutput, NullTextIsIgnored)
{
    DebugCapture capture;
    OutputDebugStringA(nullptr);
    EXPECT_TRUE(capture.texts().empty());
}

TEST(DebugOutput, EachCallBecomesOneStderrLine)
{
    const std::optional<std::string> written = stderrOf([] {
        OutputDebugStringA("first");
        OutputDebugStringA("second\n");
        OutputDebugStringA("");
    });
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(*written, "first\nsecond\n\n");
}

TEST(DebugOutput, RemovingTheSinkRestoresStderr)
{
    const std::optional<std::string> written = stderrOf([] {
        DebugCapture* capture = new DebugCapture;
        OutputDebugStringA("captured");
        delete capture;
        OutputDebugStringA("written");
    });
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(*written, "written\n");
}

TEST(DebugOutput, MegabyteTextIsWrittenWhole)
{
    const std::string text(1 << 20, 'x');
    const std::optional<std::string> written = stderrOf([&] { OutputDebugStringA(text.c_str()); });
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(*written, text + "\n");
}

TEST(DebugOutput, LinesOfConcurrentProcessesDoNotInterleave)
{
    TemporaryDirectory directory;
    const std::string log = directory.file("stderr.txt");
    constexpr int writers = 4;
    constexpr int linesPerWriter = 300;
    std::vector<pid_t> children;
    for (int writer = 0; writer < writers; ++writer) {
        const pid_t child = fork();
        if (child == 0) {
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(fd, STDERR_FILENO);
            const std::string line(2000, static_cast<char>('a' + writer));
            for (int i = 0; i < linesPerWriter; ++i)
                OutputDebugStringA(line.c_str());
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children)
        ASSERT_EQ(waitForChild(child), 0);
    const std::vector<std::string> lines = linesOf(readBytes(log));
    ASSERT_EQ(lines.size(), static_cast<size_t>(writers * linesPerWriter));
    for (const std::string& line : lines) {
        ASSERT_EQ(line.size(), 2000u);
        ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos);
    }
}
