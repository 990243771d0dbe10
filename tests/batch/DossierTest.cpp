// The dossier sheets of the sample city: A4 pages that hold the parcel's
// code, attributes and labelled views, taken over by a resumed run, and a
// sheet that names the views it cannot show.
#include "SampleRun.h"

#include "app/HtmlReport.h"
#include "core/CameraAngle.h"
#include "support/OutputProbes.h"

#include <gtest/gtest.h>

#include <regex>
#include <vector>

using namespace batchtest;
using namespace testsupport;

namespace {

std::string pdfTool(const std::string& tool, const std::vector<std::string>& args, const fs::path& dir)
{
    const ProcessResult run = runProcess("/usr/bin/" + tool, args, dir);
    EXPECT_EQ(run.exitCode, 0) << tool << ": " << run.err;
    return run.out;
}

std::vector<fs::path> sheetsBelow(const fs::path& root)
{
    std::vector<fs::path> sheets;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 11 && name.compare(name.size() - 11, 11, "_照片.pdf") == 0) {
            sheets.push_back(entry.path());
        }
    }
    std::sort(sheets.begin(), sheets.end());
    return sheets;
}

// Checks every page is A4 portrait; returns the page count.
int a4Pages(const fs::path& pdf)
{
    const std::string info = pdfTool("pdfinfo", {"-f", "1", "-l", "99", pdf.string()}, pdf.parent_path());
    std::smatch pages;
    EXPECT_TRUE(std::regex_search(info, pages, std::regex("Pages: +([0-9]+)"))) << info;
    const std::regex size("Page +[0-9]+ size: +([0-9.]+) x ([0-9.]+) pts");
    int sized = 0;
    for (auto it = std::sregex_iterator(info.begin(), info.end(), size); it != std::sregex_iterator(); ++it, ++sized) {
        EXPECT_EQ((*it)[1].str() + " x " + (*it)[2].str(), "595 x 842") << pdf;
    }
    EXPECT_EQ(sized, std::stoi(pages[1].str()));
    return sized;
}

int jpegImages(const fs::path& pdf)
{
    const std::string list = pdfTool("pdfimages", {"-list", pdf.string()}, pdf.parent_path());
    return static_cast<int>(linesWith(list, " jpeg ").size());
}

const nlohmann::json& truthFrame(const std::string& name)
{
    for (const auto& frame : truth().at("frames")) {
        if (frame.at("name") == name) {
            return frame;
        }
    }
    throw std::runtime_error("no frame " + name);
}

}  // namespace

TEST(Dossier, SheetsHoldTheParcelAndItsViewsAndAResumeTakesThemOver)
{
    TempDir dir("dossier");
    const std::vector<std::string> angles = {"top", "se45", "north"};
    nlohmann::json config = smallConfig({{"angles", angles},
                                         {"width", 640},
                                         {"height", 360},
                                         {"preview_limit", 2},
                                         {"html_report", true},
                                         {"dossier", true},
                                         {"dossier_book", true},
                                         {"dossier_fields", {"FWBH", "NAME"}}});
    const SampleRun first = runVistrel(dir, config);
    ASSERT_EQ(first.process.exitCode, 0) << first.log();
    const std::vector<fs::path> sheets = sheetsBelow(first.outputDir);
    ASSERT_EQ(sheets.size(), 2u);
    const std::string csv = readFile(first.outputDir / "render_report.csv");
    const std::string page = readFile(first.outputDir / "render_report.html");
    EXPECT_NE(csv.find(",照片页\n"), std::string::npos);
    for (const fs::path& sheet : sheets) {
        const std::string name = sheet.filename().string();
        const nlohmann::json& frame = truthFrame(name.substr(0, name.size() - 11));
        EXPECT_EQ(a4Pages(sheet), 1);
        EXPECT_EQ(jpegImages(sheet), 3) << "one JPEG per view";
        const std::string text = pdfTool("pdftotext", {sheet.string(), "-"}, dir.path());
        for (const std::string& word :
             {frame.at("name").get<std::string>(), frame.at("attributes").at("FWBH").get<std::string>(),
              frame.at("attributes").at("NAME").get<std::string>(), std::string("面积")}) {
            EXPECT_NE(text.find(word), std::string::npos) << word << " in " << text;
        }
        for (const std::string& angle : angles) {
            EXPECT_NE(text.find(vistrel::angleLabel(angle)), std::string::npos) << angle;
        }
        EXPECT_NE(csv.find("," + name + "\n"), std::string::npos) << "the CSV names " << name;
        EXPECT_NE(page.find(vistrel::relativeUrl(sheet.string(), first.outputDir.string())), std::string::npos);
    }
    EXPECT_EQ(a4Pages(first.outputDir / "照片册.pdf"), 1 + 2) << "a contents page and one page per parcel";

    // A resumed run takes the sheets over as they are.
    const std::string before = readFile(sheets[0]);
    const auto written = fs::last_write_time(sheets[0]);
    config["resume"] = true;
    const SampleRun second = runVistrel(dir, config);
    ASSERT_EQ(second.process.exitCode, 0) << second.log();
    EXPECT_NE(second.log().find("Resumed " + sheets[0].string()), std::string::npos) << second.log();
    EXPECT_EQ(readFile(sheets[0]), before);
    EXPECT_EQ(fs::last_write_time(sheets[0]), written);
}

TEST(Dossier, ASheetNamesTheViewsItCannotShow)
{
    // PDF pictures taken over cannot be read back: the sheet made anew says so.
    TempDir dir("dossier-missing");
    nlohmann::json config =
        smallConfig({{"angles", {"top", "se45"}}, {"output_format", "pdf"}, {"preview_limit", 1}, {"dossier", true}});
    const SampleRun first = runVistrel(dir, config);
    ASSERT_EQ(first.process.exitCode, 0) << first.log();
    const std::vector<fs::path> sheets = sheetsBelow(first.outputDir);
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(jpegImages(sheets[0]), 2);
    fs::remove(sheets[0]);

    config["resume"] = true;
    const SampleRun second = runVistrel(dir, config);
    ASSERT_EQ(second.process.exitCode, 0) << second.log();
    EXPECT_NE(second.log().find("Wrote " + sheets[0].string()), std::string::npos) << second.log();
    EXPECT_EQ(jpegImages(sheets[0]), 0);
    const std::string text = pdfTool("pdftotext", {sheets[0].string(), "-"}, dir.path());
    EXPECT_NE(text.find("缺少视图"), std::string::npos) << text;
    EXPECT_NE(text.find(vistrel::angleLabel("se45")), std::string::npos) << text;
}
