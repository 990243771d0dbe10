#include "core/Logger.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

#include <algorithm>
#include <ctime>
#include <regex>

using namespace vistrel;
using namespace testsupport;

TEST(Logger, LineFormatFileNameAndAppending)
{
    TempDir dir("log");
    Logger& log = Logger::instance();

    auto captured = std::make_unique<CapturedOutput>();
    log.info("before init goes to the console only");
    log.init((dir / "logs").string(), "render");
    log.info("Starting Vistrel.");
    log.warn("中文 名称");
    log.error("bad");
    log.log(Logger::Debug, "debug");
    log.log(7, "odd");
    const std::string console = captured->text();

    const fs::path file = log.filePath();
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.parent_path(), dir / "logs");
    EXPECT_TRUE(std::regex_match(file.filename().string(), std::regex(R"(render_\d{8}_\d{6}\.log)")))
        << file.filename();

    const std::regex linePattern(R"(\[\d{8}_\d{6}\]\[(INFO|WARN|ERROR|DEBUG|UNKNOWN)\] .*)");
    const auto lines = readLines(file);
    ASSERT_EQ(lines.size(), 5u);
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, linePattern)) << line;
    }
    EXPECT_NE(lines[0].find("][INFO] Starting Vistrel."), std::string::npos);
    EXPECT_NE(lines[1].find("][WARN] 中文 名称"), std::string::npos);
    EXPECT_NE(lines[2].find("][ERROR] bad"), std::string::npos);
    EXPECT_NE(lines[3].find("][DEBUG] debug"), std::string::npos);
    EXPECT_NE(lines[4].find("][UNKNOWN] odd"), std::string::npos);
    // The console saw every line, including the one before init.
    EXPECT_EQ(countOccurrences(console, "\n"), 6);
    EXPECT_NE(console.find("before init goes to the console only"), std::string::npos);
    EXPECT_NE(console.find("中文 名称"), std::string::npos);

    log.shutdown();

    // A run started in the same second as an earlier one appends to its file.
    // Pre-create the files of this second and the next two with an old line.
    std::vector<fs::path> earlier;
    const std::time_t now = std::time(nullptr);
    for (int offset = 0; offset < 3; ++offset) {
        std::time_t t = now + offset;
        std::tm local{};
        localtime_r(&t, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &local);
        earlier.push_back(dir / "again" / (std::string("render_") + stamp + ".log"));
        writeFile(earlier.back(), "old line\n");
    }
    log.init((dir / "again").string(), "render");
    captured = std::make_unique<CapturedOutput>();
    log.info("second run");
    captured->text();
    const fs::path reused = log.filePath();
    ASSERT_NE(std::find(earlier.begin(), earlier.end(), reused), earlier.end()) << reused;
    const auto after = readLines(reused);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0], "old line");
    EXPECT_NE(after[1].find("][INFO] second run"), std::string::npos);
    log.shutdown();
}

TEST(Logger, UncreatableFolderThrows)
{
    TempDir dir("log");
    writeFile(dir / "blocker", "a file where the folder should be");
    EXPECT_THROW(Logger::instance().init((dir / "blocker" / "logs").string(), "render"),
                 std::filesystem::filesystem_error);
}

TEST(Logger, ControlBytesCannotStartALineOfTheirOwn)
{
    // A frame name with a newline would otherwise forge a progress line.
    CapturedOutput captured;
    Logger::instance().info("FRAME_PROGRESS frame=1 name=a\nIMAGE_PROGRESS image=999 success=1\r\t\x01\x7f 名");
    const std::string console = captured.text();
    EXPECT_EQ(countOccurrences(console, "\n"), 1);
    EXPECT_NE(console.find("name=a\\nIMAGE_PROGRESS image=999 success=1\\r\\t\\x01\\x7F 名"), std::string::npos)
        << console;
}
