#include "configTestSupport.h"

#include <rkConfig.h>
#include <rkwin.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <rkhost.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

class IniEngine : public IniFileTest
{
protected:
    IniEngine() : IniFileTest("engine.ini") {}

#ifndef _WIN32
    std::vector<std::string> keysLostToRewritesOfAnotherSection(const std::function<void()>& rewrite);
#endif
};

#ifndef _WIN32
/*
 * A child process runs the rewrite of section B over and over while this
 * process adds keys to section A with profile writes; the keys of A the
 * file lacks afterwards.
 */
std::vector<std::string> IniEngine::keysLostToRewritesOfAnotherSection(const std::function<void()>& rewrite)
{
    writeFile(iniFile, "[A]\n[B]\nstale=1\n");
    const std::string stopFile = testDirectory + "/stop";
    const pid_t child = fork();
    if (child < 0) {
        ADD_FAILURE() << "cannot start the rewriting process";
        return {};
    }
    if (child == 0) {
        while (!std::filesystem::exists(stopFile))
            rewrite();
        _exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (readMap("B").count("stale") != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(readMap("B").count("stale"), 0u) << "the rewriting process never rewrote the file";
    const int keyCount = 200;
    for (int i = 0; i < keyCount; ++i)
        WritePrivateProfileStringA("A", ("key" + std::to_string(i)).c_str(), "1", iniFile.c_str());
    std::ofstream(stopFile).close();
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const SettingsMap written = readMap("A");
    std::vector<std::string> lost;
    for (int i = 0; i < keyCount; ++i) {
        if (written.count("key" + std::to_string(i)) == 0)
            lost.push_back("key" + std::to_string(i));
    }
    return lost;
}
#endif

#ifndef _WIN32
/*
 * Runs the rewrite in a child process that is killed the moment its new copy
 * of the file reaches sizeLimit bytes: the file size limit raises SIGXFSZ in
 * the middle of the write, and the child dies of SIGKILL there. Whether it
 * died so.
 */
bool killedMidWrite(const std::function<void()>& rewrite, rlim_t sizeLimit)
{
    const pid_t child = fork();
    if (child == 0) {
        umask(022);
        signal(SIGXFSZ, [](int) { raise(SIGKILL); });
        const rlimit limit{sizeLimit, sizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        rewrite();
        _exit(0);
    }
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child > 0 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}
#endif

using SectionReader = IniEngine;
using SectionLister = IniEngine;
using SectionWriter = IniEngine;
using DeleteConfigKey = IniEngine;

TEST_F(SectionReader, ReadsOnlyTheNamedSectionWithoutRegardToCase)
{
    writeFile(iniFile, "top=0\n[Main]\nA=1\n[Other]\nB=2\n[MAIN]\nC=3\n");
    EXPECT_EQ(readMap("main"), (SettingsMap{{"A", "1"}, {"C", "3"}}));
}

TEST_F(SectionReader, IgnoresTextBehindTheClosingBracket)
{
    writeFile(iniFile, "[Main] remark\nA=1\n");
    EXPECT_EQ(readMap("Main"), (SettingsMap{{"A", "1"}}));
}

TEST_F(SectionReader, KeepsTheFirstValueAndEntriesAlreadyHeld)
{
    writeFile(iniFile, "[Main]\nName=a\nName=b\nname=c\nHeld=file\n");
    SettingsMap settings{{"Held", "before"}};
    readSection(iniFile, "Main", settings);
    EXPECT_EQ(settings, (SettingsMap{{"Held", "before"}, {"Name", "a"}, {"name", "c"}}));
}

TEST_F(SectionReader, TrimsBlanksAroundKeysAndValues)
{
    writeFile(iniFile, "[Main]\n Name \t= a=b \x1a\n\v=empty key\n");
    EXPECT_EQ(readMap("Main"), (SettingsMap{{"Name", "a=b"}, {"", "empty key"}}));
}

TEST_F(SectionReader, OnlyLinesWithEqualsCarryData)
{
    writeFile(iniFile, "[Main]\nno data here\n\n;note=1\nx=2\n");
    EXPECT_EQ(readMap("Main"), (SettingsMap{{";note", "1"}, {"x", "2"}}));
}

TEST_F(SectionReader, FindsHeadersAsTheProfileFunctionsDo)
{
    writeFile(iniFile, "\xEF\xBB\xBF[First]\nf=1\n  [ main ]  \nm=2\n[Other]\no=3\n");
    EXPECT_EQ(readMap("First"), (SettingsMap{{"f", "1"}}));
    EXPECT_EQ(readMap("Main"), (SettingsMap{{"m", "2"}}));
}

TEST_F(SectionReader, AcceptsCrLfAndALastLineWithoutEnd)
{
    writeFile(iniFile, "[Main]\r\nA=1\r\nB=2");
    EXPECT_EQ(readMap("Main"), (SettingsMap{{"A", "1"}, {"B", "2"}}));
}

TEST_F(SectionReader, MissingFileLeavesTheMapAsItWas)
{
    SettingsMap settings{{"k", "v"}};
    readSection(iniFile, "Main", settings);
    EXPECT_EQ(settings, (SettingsMap{{"k", "v"}}));
}

TEST_F(SectionReader, ReadsFilesWrittenByTheProfileFunctions)
{
    WritePrivateProfileStringA("Main", "Key", "value", iniFile.c_str());
    WritePrivateProfileStringA("Main", "Other", "2", iniFile.c_str());
    EXPECT_EQ(readMap("Main"), (SettingsMap{{"Key", "value"}, {"Other", "2"}}));
}

TEST_F(SectionLister, ListsNamesInFileOrderWithDuplicates)
{
    writeFile(iniFile, "[A]\nx=1\n[ b ]\n[Main] remark\n[no end\n [indented]\n[A]\n");
    EXPECT_EQ(listAll(), (SectionList{"A", "b", "Main", "indented", "A"}));
}

TEST_F(SectionLister, AppendsToTheList)
{
    writeFile(iniFile, "[B]\n");
    SectionList sections{"first"};
    listSections(iniFile, sections);
    listSections(windowsDirectory + "\\missing.ini", sections);
    EXPECT_EQ(sections, (SectionList{"first", "B"}));
}

TEST_F(SectionWriter, ReplacesTheSectionWithTheMapInKeyOrder)
{
    writeFile(iniFile, "[Top]\nt=1\n[Main]\nA=0\nremark\n\n[Tail]\nz=9\n");
    writeSection(iniFile, "main", SettingsMap{{"b", "2"}, {"A", "1"}});
    EXPECT_EQ(readFile(iniFile), "[Top]\nt=1\n[main]\nA=1\nb=2\n\n[Tail]\nz=9\n");
}

TEST_F(SectionWriter, AppendsAMissingSectionAfterAnEmptyLine)
{
    writeFile(iniFile, "[Top]\nt=1\n");
    writeSection(iniFile, "Main", SettingsMap{{"k", "v"}});
    EXPECT_EQ(readFile(iniFile), "[Top]\nt=1\n\n[Main]\nk=v\n");
}

TEST_F(SectionWriter, ReplacesEveryOccurrence)
{
    writeFile(iniFile, "[Main]\nA=0\n[X]\nx=1\n[MAIN]\nB=0\n");
    writeSection(iniFile, "Main", SettingsMap{{"k", "v"}});
    EXPECT_EQ(readFile(iniFile), "[Main]\nk=v\n\n[X]\nx=1\n[Main]\nk=v\n\n");
}

TEST_F(SectionWriter, EmptyMapLeavesTheHeaderAndAnEmptyLine)
{
    writeFile(iniFile, "[Main]\nA=0\n[X]\n");
    writeSection(iniFile, "Main", SettingsMap{});
    EXPECT_EQ(readFile(iniFile), "[Main]\n\n[X]\n");
}

TEST_F(SectionWriter, ReplacesAHeaderWithARemarkThatTheReaderFinds)
{
    writeFile(iniFile, "[Main] remark\nA=old\n[X]\n");
    writeSection(iniFile, "Main", SettingsMap{{"A", "new"}});
    EXPECT_EQ(readMap("Main"), (SettingsMap{{"A", "new"}}));
    EXPECT_EQ(listAll(), (SectionList{"Main", "X"}));
}

TEST_F(SectionWriter, ReplacesIndentedAndMarkedHeaders)
{
    writeFile(iniFile, "\xEF\xBB\xBF[Main]\nA=0\n  [ main ]\nB=0\n");
    writeSection(iniFile, "Main", SettingsMap{{"k", "v"}});
    EXPECT_EQ(readFile(iniFile), "\xEF\xBB\xBF[Main]\nk=v\n\n[Main]\nk=v\n\n");
}

TEST_F(SectionWriter, NeverCreatesAMissingFileNorLeavesATemporaryOne)
{
    const auto before = treeEntries();
    writeSection(iniFile, "Main", SettingsMap{{"k", "v"}});
    writeSection(place("nowhere\\engine.ini"), "Main", SettingsMap{{"k", "v"}});
    EXPECT_EQ(treeEntries(), before);
}

TEST_F(SectionWriter, LeavesNoTemporaryFileBehind)
{
    writeFile(iniFile, "[Main]\n");
    const auto before = treeEntries();
    for (int i = 0; i < 5; ++i)
        writeSection(iniFile, "Main", SettingsMap{{"i", std::to_string(i)}});
    EXPECT_EQ(treeEntries(), before);
    EXPECT_EQ(readMap("Main"), (SettingsMap{{"i", "4"}}));
}

/* A file size limit makes the new contents fail to reach the disk. */
TEST_F(SectionWriter, KeepsTheFileWhenTheNewContentsCannotBeWritten)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs a file size limit, which this host lacks";
#else
    writeFile(iniFile, "[Main]\nA=1\n");
    const auto before = treeEntries();
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit tiny{8, saved.rlim_max};
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tiny);
    writeSection(iniFile, "Main", SettingsMap{{"A", "2"}, {"B", "3"}});
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(readFile(iniFile), "[Main]\nA=1\n");
    EXPECT_EQ(treeEntries(), before);
#endif
}

/* No one opens the new copy whom the old file would have refused, not even before the rename. */
TEST_F(SectionWriter, NewCopyHasTheOldModeBeforeItHoldsAByte)
{
#ifdef _WIN32
    GTEST_SKIP() << "needs file modes and a file size limit, which this host lacks";
#else
    writeFile(iniFile, "[Main]\nA=1\n");
    const std::string hostFile = rkHostPath(iniFile);
    chmod(hostFile.c_str(), 0640);
    const auto before = treeEntries();
    const SettingsMap large{{"pad", std::string(20000, 'p')}};
    ASSERT_TRUE(killedMidWrite([&] { writeSection(iniFile, "Main", large); }, 4096));
    EXPECT_EQ(readFile(iniFile), "[Main]\nA=1\n");
    std::vector<std::string> copies;
    for (const auto& entry : std::filesystem::directory_iterator(rkHostPath(windowsDirectory))) {
        if (entry.path() != std::filesystem::path(hostFile))
            copies.push_back(entry.path().string());
    }
    ASSERT_EQ(copies.size(), 1u) << "the killed writer left no copy behind";
    struct stat copy {};
    ASSERT_EQ(stat(copies[0].c_str(), &copy), 0);
    EXPECT_GT(copy.st_size, 0);
    EXPECT_EQ(copy.st_mode & 07777, 0640u);
    writeSection(iniFile, "Main", SettingsMap{{"A", "2"}});
    EXPECT_EQ(readFile(iniFile), "[Main]\nA=2\n\n");
    EXPECT_EQ(treeEntries(), before) << "the next writer left the dead one's copy";
#endif
}

TEST_F(SectionWriter, RewritesALinkedFileThroughTheLink)
{
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need privileges on this host";
#else
    const std::string target = place("elsewhere\\target.ini");
    writeFile(target, "[Main]\nA=1\n");
    std::filesystem::create_symlink(rkHostPath(target), rkHostPath(iniFile));
    const auto before = treeEntries();
    writeSection(iniFile, "Main", SettingsMap{{"A", "2"}});
    EXPECT_TRUE(std::filesystem::is_symlink(rkHostPath(iniFile)));
    EXPECT_EQ(readFile(target), "[Main]\nA=2\n\n");
    EXPECT_EQ(treeEntries(), before);
#endif
}

TEST_F(SectionWriter, FollowsTheFileLineEndsAndCopiesOtherLinesByteForByte)
{
    writeFile(iniFile, "[Top]\r\nt=1\r\nodd\rline\n[Main]\r\nA=0\r\n");
    writeSection(iniFile, "Main", SettingsMap{{"A", "1"}});
    EXPECT_EQ(readFile(iniFile), "[Top]\r\nt=1\r\nodd\rline\n[Main]\r\nA=1\r\n\r\n");
}

TEST_F(SectionWriter, LeavesOutEntriesThatWouldBreakTheLineForm)
{
    writeFile(iniFile, "[Main]\n[Other]\nsafe=1\n");
    writeSection(iniFile, "Main",
                 SettingsMap{{"ok", "1"}, {"v", "x\n[Other]\nsafe=0"}, {"[Other]", "x"},
                             {"a=b", "c"}, {"cr\r", "1"}, {" [x", "1"}});
    EXPECT_EQ(readMap("Main"), (SettingsMap{{"ok", "1"}}));
    EXPECT_EQ(readMap("Other"), (SettingsMap{{"safe", "1"}}));
}

TEST_F(SectionWriter, ConcurrentWritersEachLeaveAWholeFile)
{
    writeFile(iniFile, "[Keep]\nk=1\n[Main]\n");
    const auto before = treeEntries();
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([this, w] {
            const SettingsMap mine{{"writer", std::to_string(w)}, {"pad", std::string(5000, 'a' + w)}};
            for (int i = 0; i < 50; ++i)
                writeSection(iniFile, "Main", mine);
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    const int last = std::stoi(readMap("Main").at("writer"));
    EXPECT_EQ(readFile(iniFile), "[Keep]\nk=1\n[Main]\npad=" + std::string(5000, 'a' + last) +
                                     "\nwriter=" + std::to_string(last) + "\n\n");
    EXPECT_EQ(treeEntries(), before);
}

TEST_F(SectionWriter, KeepsKeysThatProfileWritesAddMeanwhile)
{
#ifdef _WIN32
    GTEST_SKIP() << "Win32's profile functions share no lock with the library";
#else
    const auto rewrite = [this] { writeSection(iniFile, "B", SettingsMap{{"fresh", "1"}}); };
    EXPECT_EQ(keysLostToRewritesOfAnotherSection(rewrite), std::vector<std::string>{});
#endif
}

TEST_F(SectionWriter, RefusesASectionNameThatCannotBeFoundAgain)
{
    writeFile(iniFile, "[Main]\nA=1\n");
    for (const char* name : {"a]b", "Main]", "x\n[Main", "cr\r", " Main", "Main\t"})
        writeSection(iniFile, name, SettingsMap{{"A", "2"}});
    EXPECT_EQ(readFile(iniFile), "[Main]\nA=1\n");
}

TEST_F(SectionWriter, WritesWhatTheProfileFunctionsRead)
{
    writeFile(iniFile, "[Main]\n");
    writeSection(iniFile, "Main", SettingsMap{{"Key", "value"}});
    char value[64];
    GetPrivateProfileStringA("main", "key", "", value, sizeof value, iniFile.c_str());
    EXPECT_STREQ(value, "value");
}

TEST_F(DeleteConfigKey, RemovesEveryCaseVariantAndSortsTheRest)
{
    writeFile(iniFile, "[Main]\nz=1\nName=a\nname=b\nA=2\n[Other]\nName=c\n");
    deleteConfigKey("engine.ini", "Main", "NAME");
    EXPECT_EQ(readFile(iniFile), "[Main]\nA=2\nz=1\n\n[Other]\nName=c\n");
}

TEST_F(DeleteConfigKey, AppendsAnEmptySectionThatTheFileLacks)
{
    writeFile(iniFile, "[Other]\nk=1\n");
    deleteConfigKey("engine.ini", "Main", "k");
    EXPECT_EQ(readFile(iniFile), "[Other]\nk=1\n\n[Main]\n");
}

TEST_F(DeleteConfigKey, KeepsKeysThatProfileWritesAddMeanwhile)
{
#ifdef _WIN32
    GTEST_SKIP() << "Win32's profile functions share no lock with the library";
#else
    const auto rewrite = [] { deleteConfigKey("engine.ini", "B", "stale"); };
    EXPECT_EQ(keysLostToRewritesOfAnotherSection(rewrite), std::vector<std::string>{});
#endif
}

TEST_F(IniEngine, SystemFilesLieInTheSystemDirectoryOnlyWhenRooted)
{
    writeFile(windowsDirectory + "\\s.ini", "[S]\nflat=1\n");
    writeFile(rootedConfig + "\\system\\s.ini", "[S]\nrooted=1\n");
    SettingsMap flat;
    readSystemSection("s.ini", "S", flat);
    EXPECT_EQ(flat, (SettingsMap{{"flat", "1"}}));
    useRootedLayout();
    SettingsMap rooted;
    readSystemSection("s.ini", "S", rooted);
    EXPECT_EQ(rooted, (SettingsMap{{"rooted", "1"}}));
    writeSystemSection("s.ini", "S", SettingsMap{{"w", "1"}});
    EXPECT_EQ(readFile(rootedConfig + "\\system\\s.ini"), "[S]\nw=1\n\n");
    SectionList sections;
    listSystemSections("s.ini", sections);
    EXPECT_EQ(sections, (SectionList{"S"}));
}

TEST_F(IniEngine, NamedAndDeviceFormsUseTheirOwnFiles)
{
    useRootedLayout();
    writeFile(rootedConfig + "\\n.ini", "[N]\nn=1\n");
    writeFile(rootedConfig + "\\system\\dev_-07.ini", "[D]\nd=1\n");
    writeConfigSection("n.ini", "N", SettingsMap{{"n", "2"}});
    writeDeviceSection(-7, "D", SettingsMap{{"d", "2"}});
    SettingsMap named;
    SettingsMap device;
    readConfigSection("n.ini", "N", named);
    readDeviceSection(-7, "D", device);
    EXPECT_EQ(named, (SettingsMap{{"n", "2"}}));
    EXPECT_EQ(device, (SettingsMap{{"d", "2"}}));
    SectionList sections;
    listConfigSections("n.ini", sections);
    listDeviceSections(-7, sections);
    EXPECT_EQ(sections, (SectionList{"N", "D"}));
}

TEST(CaseFolding, LowersOnlyAsciiCapitalsInPlace)
{
    char text[] = "AbZ[\xC4]";
    EXPECT_EQ(toLower(text), text);
    EXPECT_STREQ(text, "abz[\xC4]");
    EXPECT_EQ(toLower(nullptr), nullptr);
    EXPECT_EQ(toLowerCopy("MiXeD@Z"), "mixed@z");
    EXPECT_EQ(toLowerCopy(""), "");
}
