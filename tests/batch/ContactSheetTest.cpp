// The contact sheet of the sample city: every written image linked with a
// small thumbnail, every skip reason shown, nothing from elsewhere.
#include "SampleRun.h"

#include "app/HtmlReport.h"
#include "support/OutputProbes.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

using namespace batchtest;
using namespace testsupport;

namespace {

std::set<std::string> attributeValues(const std::string& page, const std::string& attribute)
{
    std::set<std::string> values;
    const std::regex pattern(" " + attribute + "=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), pattern); it != std::sregex_iterator(); ++it) {
        values.insert((*it)[1].str());
    }
    return values;
}

}  // namespace

TEST(ContactSheet, LinksEveryWrittenImageAndShowsEverySkipReason)
{
    TempDir dir("sheet");
    const SampleRun run = runVistrel(dir, smallConfig({{"angles", {"top", "se45"}},
                                                       {"output_top_range", true},
                                                       {"html_report", true},
                                                       {"width", 640},
                                                       {"height", 360}}));
    ASSERT_EQ(run.process.exitCode, 0) << run.log();
    const std::string page = readFile(run.outputDir / "render_report.html");
    EXPECT_NE(run.log().find("[INFO] Wrote HTML report: " + (run.outputDir / "render_report.html").string()),
              std::string::npos);

    std::set<std::string> written;
    for (const auto& line : linesWith(run.log(), "] Wrote /")) {
        written.insert(vistrel::relativeUrl(line.substr(line.find("Wrote ") + 6), run.outputDir.string()));
    }
    ASSERT_EQ(written.size(), 54u);
    EXPECT_EQ(attributeValues(page, "href"), written);

    const auto thumbnails = attributeValues(page, "src");
    EXPECT_EQ(thumbnails.size(), written.size());
    for (const auto& src : thumbnails) {
        EXPECT_EQ(src.rfind("render_report_files/", 0), 0u) << src;
        int width = 0;
        int height = 0;
        ASSERT_TRUE(jpegSize(run.outputDir / src, width, height)) << src;
        EXPECT_LE(width, 320) << src;
        EXPECT_NEAR(static_cast<double>(height) / width, 360.0 / 640.0, 0.01) << src;
    }
    EXPECT_EQ(countOccurrences(readFile(run.outputDir / "render_report.csv"), "\n"), 21);

    // Each angle of a skipped frame and its outline image show the reason.
    std::map<std::string, int> reasons;
    for (const auto& line : linesWith(run.log(), "SKIP_FRAME ")) {
        reasons[line.substr(line.find(" reason=") + 8)] += 3;
    }
    ASSERT_FALSE(reasons.empty());
    for (const auto& [reason, cells] : reasons) {
        EXPECT_EQ(countOccurrences(page, vistrel::htmlText(reason)), cells) << reason;
    }
    // Nothing is fetched from elsewhere.
    for (const char* outside : {"http:", "https:", "<script", "@import", "url("}) {
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
    }
}

TEST(ContactSheet, UrlsAndTextAreEscaped)
{
    EXPECT_EQ(vistrel::relativeUrl("/out/房屋 1/#a.png", "/out"), "%E6%88%BF%E5%B1%8B%201/%23a.png");
    EXPECT_EQ(vistrel::htmlText("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
}
