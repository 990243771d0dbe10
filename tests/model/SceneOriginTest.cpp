#include "model/SceneOrigin.h"
#include "support/GeoFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

#include <sys/stat.h>

using namespace vistrel;
using namespace testsupport;

namespace {

void appendDouble(std::string& bytes, double value)
{
    unsigned char raw[8];
    std::memcpy(raw, &value, 8);  // the test machine is little-endian
    bytes.append(reinterpret_cast<const char*>(raw), 8);
}

}  // namespace

TEST(SceneOrigin, MetadataVariants)
{
    TempDir dir("origin");
    writeFile(dir / "lower.xml", "<srsorigin> 1.5e5 , -2 ,+3 </SRSORIGIN><srs>  EPSG:4547 </srs>");
    SceneOrigin lower = parseMetadataOrigin(dir / "lower.xml");
    ASSERT_TRUE(lower.valid);
    EXPECT_DOUBLE_EQ(lower.x, 150000.0);
    EXPECT_DOUBLE_EQ(lower.y, -2.0);
    EXPECT_DOUBLE_EQ(lower.z, 3.0);
    EXPECT_EQ(lower.srs, "EPSG:4547");
    EXPECT_EQ(lower.sourcePath, (dir / "lower.xml").string());

    writeFile(dir / "two.xml", "<SRSOrigin>512345.0,3345678.0</SRSOrigin>");
    EXPECT_FALSE(parseMetadataOrigin(dir / "two.xml").valid);

    writeFile(dir / "nosrs.xml", "<SRSOrigin>1,2,3</SRSOrigin>");
    SceneOrigin noSrs = parseMetadataOrigin(dir / "nosrs.xml");
    EXPECT_TRUE(noSrs.valid);
    EXPECT_TRUE(noSrs.srs.empty());

    writeFile(dir / "bad.xml", "<SRSOrigin>-,2,3</SRSOrigin>");
    try {
        parseMetadataOrigin(dir / "bad.xml");
        ADD_FAILURE() << "a malformed number must raise";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(e.what(), (dir / "bad.xml").string() + ": the SRSOrigin element must hold three numbers "
                                                         "\"x, y, z\"; its x is not a usable number: \"-\"");
    }
    // A number of 100 000 digits is named by its start.
    writeFile(dir / "huge.xml", "<SRSOrigin>1," + std::string(100000, '9') + ",3</SRSOrigin>");
    try {
        parseMetadataOrigin(dir / "huge.xml");
        ADD_FAILURE() << "a number out of range must raise";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(e.what(), (dir / "huge.xml").string() + ": the SRSOrigin element must hold three numbers "
                                                          "\"x, y, z\"; its y is not a usable number: \"" +
                                std::string(40, '9') + "...\"");
    }
    EXPECT_FALSE(parseMetadataOrigin(dir / "absent.xml").valid);
}

TEST(SceneOrigin, AnUnusableOriginIsNamed)
{
    TempDir dir("origin");
    const auto originLog = [&](const std::string& name, const std::string& metadata) {
        writeTile(dir / name / "model.osgb", 0, 0);
        writeFile(dir / name / "metadata.xml", metadata);
        CapturedOutput log;
        EXPECT_FALSE(readSceneOrigin(dir / name).valid) << name;
        return log.text();
    };
    const std::string nan = originLog("nan", "<SRS>EPSG:4547</SRS><SRSOrigin>nan,nan,0</SRSOrigin>");
    EXPECT_NE(nan.find("[WARN] No model origin in " + (dir / "nan" / "metadata.xml").string() +
                       ": its SRSOrigin element does not hold three numbers \"x, y, z\": \"nan,nan,0\"; its SRS "
                       "\"EPSG:4547\" is not used"),
              std::string::npos)
        << nan;
    const std::string missing = originLog("missing", "<SRS>EPSG:4547</SRS>");
    EXPECT_NE(missing.find("metadata.xml: it has no SRSOrigin element; its SRS \"EPSG:4547\" is not used"),
              std::string::npos)
        << missing;
    // A number beyond any model is refused as given, never shown as inf.
    try {
        parseMetadataText("<SRS>EPSG:4547</SRS><SRSOrigin>1e308,1e308,0</SRSOrigin>");
        ADD_FAILURE() << "1e308 was taken";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "the SRSOrigin element must hold three numbers \"x, y, z\"; its x, \"1e308\", is out "
                               "of range (at most 1e8 in magnitude)");
    }
}

TEST(SceneOrigin, DsmScanTakesTheLastQualifyingWindow)
{
    TempDir dir("origin");
    std::string bytes = "DSMHEADER";
    appendDouble(bytes, 400000.0);
    appendDouble(bytes, 2000000.0);   // qualifies, but a later window does too
    appendDouble(bytes, 50.0);        // x too small
    appendDouble(bytes, 3000000.0);
    bytes += "xyz";                   // misalign the winner
    appendDouble(bytes, -512000.0);
    appendDouble(bytes, 3390000.0);
    bytes.append(16, '\0');
    writeFile(dir / "Data.dsm", bytes);
    SceneOrigin origin = scanDsmOrigin(dir / "Data.dsm");
    ASSERT_TRUE(origin.valid);
    EXPECT_DOUBLE_EQ(origin.x, -512000.0);
    EXPECT_DOUBLE_EQ(origin.y, 3390000.0);
    EXPECT_DOUBLE_EQ(origin.z, 0.0);
    EXPECT_TRUE(origin.srs.empty());

    writeFile(dir / "short.dsm", std::string(15, '\x41'));
    EXPECT_FALSE(scanDsmOrigin(dir / "short.dsm").valid);

    // A metadata.xml with only two components falls through to the DSM file.
    writeTile(dir / "model" / "model.osgb", 0, 0);
    writeFile(dir / "model" / "metadata.xml", "<SRSOrigin>1,2</SRSOrigin>");
    writeFile(dir / "model" / "Data.dsm", bytes);
    CapturedOutput log;
    SceneOrigin fromFolder = readSceneOrigin(dir / "model");
    EXPECT_TRUE(fromFolder.valid);
    EXPECT_NE(log.text().find("Read DSM model origin from " + (dir / "model" / "Data.dsm").string() +
                              ": x=-512000, y=3390000\n"),
              std::string::npos)
        << log.text();
}

TEST(SceneOriginHostileInput, LongBlanksNumbersAndSrsAreScannedWithoutRecursion)
{
    const std::string blanks(40000, ' ');
    EXPECT_FALSE(parseMetadataText("<" + blanks + "x").valid);
    const SceneOrigin padded = parseMetadataText("<" + blanks + "SRSOrigin>1," + blanks + "2,3</SRSOrigin>");
    ASSERT_TRUE(padded.valid);
    EXPECT_DOUBLE_EQ(padded.y, 2.0);
    EXPECT_THROW(parseMetadataText("<SRSOrigin>" + std::string(40000, '1') + ",2,3</SRSOrigin>"), std::invalid_argument);
    const SceneOrigin srs =
        parseMetadataText("<SRSOrigin>1,2,3</SRSOrigin><SRS> " + std::string(60000, 'W') + " </SRS>");
    ASSERT_TRUE(srs.valid);
    EXPECT_EQ(srs.srs.size(), 60000u);
    // A text of blanks only keeps its last one.
    EXPECT_EQ(parseMetadataText("<SRSOrigin>1,2,3</SRSOrigin><SRS> \t</SRS>").srs, "\t");
}

TEST(SceneOriginHostileInput, OnlyRegularFilesOfSaneSizeAreRead)
{
    TempDir dir("origin");
    std::string dsm = "DSM";
    appendDouble(dsm, 400000.0);
    appendDouble(dsm, 3000000.0);
    const auto dsmOrigin = [&](const fs::path& model) {
        writeTile(model / "model.osgb", 0, 0);
        writeFile(model / "Data.dsm", dsm);
        CapturedOutput log;
        const SceneOrigin origin = readSceneOrigin(model);
        return std::make_pair(origin, log.text());
    };

    // A folder or a FIFO named metadata.xml is skipped with a warning.
    fs::create_directories(dir / "folder" / "metadata.xml");
    auto [fromFolder, folderLog] = dsmOrigin(dir / "folder");
    EXPECT_TRUE(fromFolder.valid);
    EXPECT_EQ(fromFolder.sourcePath, (dir / "folder" / "Data.dsm").string());
    EXPECT_NE(folderLog.find("[WARN] Skipped origin file that is not a regular file: " +
                             (dir / "folder" / "metadata.xml").string()),
              std::string::npos)
        << folderLog;

    fs::create_directories(dir / "fifo");
    ASSERT_EQ(mkfifo((dir / "fifo" / "metadata.xml").c_str(), 0600), 0);
    auto [fromFifo, fifoLog] = dsmOrigin(dir / "fifo");
    EXPECT_EQ(fromFifo.sourcePath, (dir / "fifo" / "Data.dsm").string());
    EXPECT_NE(fifoLog.find("[WARN] Skipped origin file that is not a regular file"), std::string::npos);

    // Over 16 MB is not a metadata file.
    fs::create_directories(dir / "huge");
    writeFile(dir / "huge" / "metadata.xml", "<SRSOrigin>1,2,3</SRSOrigin>");
    fs::resize_file(dir / "huge" / "metadata.xml", (std::uintmax_t(16) << 20) + 1);
    auto [fromHuge, hugeLog] = dsmOrigin(dir / "huge");
    EXPECT_EQ(fromHuge.sourcePath, (dir / "huge" / "Data.dsm").string());
    EXPECT_NE(hugeLog.find("[WARN] Skipped metadata file larger than 16 MB: "), std::string::npos) << hugeLog;
}
