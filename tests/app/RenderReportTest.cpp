#include "app/RenderReport.h"
#include "support/FileSizeLimit.h"
#include "support/OutputProbes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vistrel;
using namespace testsupport;

namespace {

PolygonFrame reportFrame(int index, const std::string& name)
{
    PolygonFrame frame;
    frame.index = index;
    frame.name = frame.uniqueName = name;
    frame.minX = 38512345.6789;
    frame.minZ = -0.5;
    frame.centerZ = 12.3456;
    return frame;
}

std::string writeReport(const RenderConfig& config, const std::vector<PolygonFrame>& frames,
                        const ResultsTable& results)
{
    CapturedOutput captured;
    writeRenderReport(config, NameTemplate(config), frames, results);
    return captured.text();
}

}  // namespace

TEST(RenderReport, ColumnsAndRows)
{
    TempDir dir("report");
    RenderConfig config;
    config.output_dir = dir.path().string();
    config.angles = {"north", "top"};
    config.output_top_range = true;
    const std::string reason = "正射图斑范围内疑似无有效模型或图像异常";
    ResultsTable results(2);
    results[0]["north"] = {true, false, config.output_dir + "/12,3/north.png", 1.23456, 0.25, 47.5, ""};
    results[0]["top"] = {false, false, config.output_dir + "/12,3/top.png", 2.0, 0.0, 90.0, "boom"};
    results[0]["top_range"] = {true, false, config.output_dir + "/12,3/top_range.png", 0.5, 0.0, 90.0, ""};
    results[1]["north"] = {false, true, "", 0.0004, 0.0, 0.0, reason};
    results[1]["top"] = {false, true, "", 0.0001, 0.0, 0.0, reason};
    results[1]["top_range"] = {false, true, "", 0.0, 0.0, 0.0, reason};
    // The measures: a frame over the model, and one with none under it
    // (no heights, no shares: empty cells, not made-up numbers).
    results[0]["north"].visibleShare = 0.25;
    PolygonFrame measured = reportFrame(1, "12,3");
    measured.hasModelHeights = true;
    measured.modelShare = 0.5;

    const std::string log = writeReport(config, {measured, reportFrame(2, "房\"屋")}, results);
    const fs::path report = dir / "render_report.csv";
    EXPECT_NE(log.find("[INFO] Wrote CSV report: " + report.string()), std::string::npos) << log;

    const std::string text = readFile(report);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    const auto lines = readLines(report);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(text.size(), lines[0].size() + lines[1].size() + lines[2].size() + 3);  // LF after each
    EXPECT_EQ(lines[0],
              "\xEF\xBB\xBF序号,图斑编号,文件夹名称,输出文件夹,最小X,最小Y,最大X,最大Y,最低高程,最高高程,中心高程,"
              "北侧图片,北侧结果,北侧耗时秒,北侧遮挡评分,北侧相机角度,北侧备注,"
              "正射图片,正射结果,正射耗时秒,正射遮挡评分,正射相机角度,正射备注,"
              "范围线正射图片,范围线正射结果,范围线正射耗时秒,北侧可见比例,正射可见比例,正射模型覆盖比例");
    EXPECT_EQ(lines[1], "1,\"12,3\",\"12,3\",\"" + config.output_dir + "/12,3\"" +
                            ",\t38512345.679,\t0.000,\t0.000,\t0.000,\t-0.500,\t0.000,\t12.346,"
                            "north.png,成功,1.235,0.250,47.500,,top.png,失败,2.000,0.000,90.000,boom,"
                            "top_range.png,成功,0.500,0.250,,0.500");
    const std::string skipped = ",跳过,0.000,0.000,0.000," + reason;
    EXPECT_EQ(lines[2], "2,\"房\"\"屋\",\"房\"\"屋\"," + config.output_dir +
                            "/房_屋,\t38512345.679,\t0.000,\t0.000,\t0.000,,,," + skipped + "," + skipped +
                            ",,跳过,0.000,,,");
}

TEST(RenderReport, UnwritableReportIsAnErrorAndKeepsEarlierOne)
{
    TempDir dir("report3");
    RenderConfig config;
    config.angles = {"north"};
    const std::vector<PolygonFrame> frames(20, reportFrame(1, "a"));
    const ResultsTable results(20);

    // A folder in the way of the report's name, then output_dir being a file.
    config.output_dir = (dir / "blocked").string();
    fs::create_directories(dir / "blocked/render_report.csv");
    std::string log = writeReport(config, frames, results);
    EXPECT_NE(
        log.find("[ERROR] Failed to write CSV report: " + config.output_dir + "/render_report.csv: Is a directory"),
        std::string::npos)
        << log;
    EXPECT_EQ(log.find("Wrote"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "blocked"), fs::directory_iterator()), 1);
    writeFile(dir / "plain", "x");
    config.output_dir = (dir / "plain").string();
    EXPECT_NE(writeReport(config, frames, results).find("[ERROR] Failed to write CSV report: "), std::string::npos);

    // A read-only folder, and no room for the file (which stops root as well).
    config.output_dir = (dir / "earlier").string();
    writeFile(dir / "earlier/render_report.csv", "earlier report");
    fs::permissions(dir / "earlier", fs::perms::owner_read | fs::perms::owner_exec);
    {
        testsupport::FileSizeLimit limit(512);  // room for the captured log line only
        log = writeReport(config, frames, results);
    }
    fs::permissions(dir / "earlier", fs::perms::owner_all);
    EXPECT_NE(log.find("[ERROR] Failed to write CSV report: "), std::string::npos) << log;
    EXPECT_NE(log.find(": File too large"), std::string::npos) << log;
    EXPECT_EQ(readFile(dir / "earlier/render_report.csv"), "earlier report");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "earlier"), fs::directory_iterator()), 1);

    EXPECT_NE(writeReport(config, frames, results).find("[INFO] Wrote CSV report: "), std::string::npos);
    EXPECT_EQ(readLines(dir / "earlier/render_report.csv").size(), 21u);
}

TEST(RenderReport, TextThatASpreadsheetWouldRunStaysText)
{
    TempDir dir("report4");
    RenderConfig config;
    config.output_dir = dir.path().string();
    config.angles = {"top"};
    ResultsTable results(4);
    results[0]["top"] = {false, false, "", 0, 0, 0, "=1+2"};
    const std::vector<PolygonFrame> frames = {reportFrame(1, "=HYPERLINK(\"http://x\",\"y\")"), reportFrame(2, "+86"),
                                              reportFrame(3, "-3"), reportFrame(4, "@SUM(A1)")};
    writeReport(config, frames, results);
    const auto rows = parseCsv(readFile(dir / "render_report.csv"));
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1][1], "\t=HYPERLINK(\"http://x\",\"y\")");
    EXPECT_EQ(rows[1][2], rows[1][1]);
    EXPECT_EQ(rows[1][16], "\t=1+2");  // the remark
    EXPECT_EQ(rows[2][1], "\t+86");
    EXPECT_EQ(rows[3][1], "\t-3");
    EXPECT_EQ(rows[4][1], "\t@SUM(A1)");
    EXPECT_EQ(rows[2][12], "未完成");  // images the run never came to
}
