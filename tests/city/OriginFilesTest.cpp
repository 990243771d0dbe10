// Both copies of the model tell where they stand: city/ through
// metadata.xml, city_dsm/ through the last position-like pair of doubles in
// Data.dsm.
#include "CitySample.h"

#include "support/TestSupport.h"

#include "core/DsmOrigin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <regex>

using namespace citytest;

namespace {

// Every byte window the DSM origin rule accepts, in file order.
std::vector<vistrel::DsmOriginWindow> positionWindows(const std::string& bytes)
{
    return vistrel::dsmOriginWindows(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace

TEST(SampleCityOrigin, MetadataNamesTheOriginAndTheSrs)
{
    const std::string xml = testsupport::readFile(sampleDir() / "city" / "metadata.xml");
    EXPECT_NE(xml.find("<ModelMetadata"), std::string::npos);
    std::smatch match;
    const std::regex origin(
        R"(<\s*SRSOrigin\s*>\s*([-+0-9.eE]+)\s*,\s*([-+0-9.eE]+)\s*,\s*([-+0-9.eE]+)\s*<\s*/\s*SRSOrigin\s*>)",
        std::regex::icase);
    ASSERT_TRUE(std::regex_search(xml, match, origin));
    EXPECT_EQ(match[1].str(), "512000");
    EXPECT_EQ(match[2].str(), "3390000");
    EXPECT_EQ(match[3].str(), "0");
    EXPECT_DOUBLE_EQ(std::stod(match[1].str()), truth().at("origin").at("x").get<double>());
    EXPECT_DOUBLE_EQ(std::stod(match[2].str()), truth().at("origin").at("y").get<double>());
    const std::regex srs(R"(<\s*SRS\s*>\s*([^<]+?)\s*<\s*/\s*SRS\s*>)", std::regex::icase);
    ASSERT_TRUE(std::regex_search(xml, match, srs));
    EXPECT_EQ(match[1].str(), "EPSG:4547");
}

TEST(SampleCityOrigin, DsmScanEndsOnTheOriginAfterAnEarlierDecoy)
{
    const std::string bytes = testsupport::readFile(sampleDir() / "city_dsm" / "Data.dsm");
    const std::vector<vistrel::DsmOriginWindow> windows = positionWindows(bytes);
    ASSERT_GE(windows.size(), 2u);
    EXPECT_DOUBLE_EQ(windows.back().x, 512000.0);
    EXPECT_DOUBLE_EQ(windows.back().y, 3390000.0);
    const nlohmann::json& decoy = truth().at("dsm").at("decoy");
    EXPECT_DOUBLE_EQ(windows.front().x, decoy[0].get<double>());
    EXPECT_DOUBLE_EQ(windows.front().y, decoy[1].get<double>());
    EXPECT_NE(windows.front().x, windows.back().x);
}

TEST(SampleCityOrigin, DsmCopyHasTheSameTilesAndNoMetadataOnItsSearchPath)
{
    const fs::path dsm = sampleDir() / "city_dsm";
    EXPECT_FALSE(fs::exists(dsm / "metadata.xml"));
    EXPECT_FALSE(fs::exists(sampleDir() / "metadata.xml"));
    EXPECT_FALSE(fs::exists(dsm / "Data" / "metadata.xml"));
    int files = 0;
    for (const nlohmann::json& tile : truth().at("tiles")) {
        for (const std::string file : tile.at("files")) {
            const fs::path copy = dsm / fs::path(file).lexically_relative("city");
            ASSERT_TRUE(fs::exists(copy)) << copy;
            EXPECT_EQ(testsupport::readFile(copy), testsupport::readFile(sampleDir() / file)) << copy;
            ++files;
        }
    }
    EXPECT_GT(files, 0);
}
