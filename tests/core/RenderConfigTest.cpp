#include "core/ConfigKeys.h"
#include "core/RenderConfig.h"
#include "core/RunProtocol.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace vistrel;
using namespace testsupport;

namespace {

// Writes `body` as render.json into a temp folder that also holds an existing
// model folder and shapefile, so validation can get past the path checks.
struct ConfigFixture {
    TempDir dir{"cfg"};
    fs::path configPath = dir / "render.json";

    ConfigFixture()
    {
        fs::create_directories(dir / "model");
        writeFile(dir / "parcels.shp", "x");
    }

    // Loads `body`; returns success and fills `err`.
    bool load(const std::string& body, RenderConfig& config, std::string& err)
    {
        writeFile(configPath, body);
        std::ostringstream errStream;
        bool ok = loadRenderConfig(config, configPath.string(), errStream);
        err = errStream.str();
        return ok;
    }

    // `extra` is spliced into an object that already names the two inputs.
    bool loadWithInputs(const std::string& extra, RenderConfig& config, std::string& err)
    {
        std::string body = R"({"osgb_path":"model","shp_path":"parcels.shp")";
        if (!extra.empty()) {
            body += "," + extra;
        }
        body += "}";
        return load(body, config, err);
    }
};

}  // namespace

TEST(RenderConfigLoad, DefaultsFollowTheKeyTable)
{
    ConfigFixture f;
    RenderConfig c;
    std::string err;
    ASSERT_TRUE(f.loadWithInputs("", c, err)) << err;
    EXPECT_EQ(c.width, 3840);
    EXPECT_EQ(c.height, 2160);
    EXPECT_DOUBLE_EQ(c.distance, 300.0);
    EXPECT_EQ(c.background, "white");
    EXPECT_EQ(c.output_format, "png");
    EXPECT_EQ(c.jpg_quality, 95);
    EXPECT_EQ(c.output_dpi, 300);
    EXPECT_DOUBLE_EQ(c.camera_padding, 1.05);
    EXPECT_DOUBLE_EQ(c.oblique_padding_factor, 1.02);
    EXPECT_DOUBLE_EQ(c.oblique_distance_factor, 0.8);
    EXPECT_DOUBLE_EQ(c.oblique_view_angle, 50.0);
    EXPECT_TRUE(c.avoid_occlusion);
    EXPECT_DOUBLE_EQ(c.occlusion_sample_step, 0.35);
    EXPECT_EQ(c.angles, std::vector<std::string>{"top"});
    EXPECT_EQ(c.field_name, "NAME");
    EXPECT_EQ(c.field_names, std::vector<std::string>{"NAME"});
    EXPECT_EQ(c.field_separator, "_");
    EXPECT_EQ(c.warmup_frames, 8);
    EXPECT_EQ(c.multisample, 4);
    EXPECT_EQ(c.range_line_color, "red");
    EXPECT_DOUBLE_EQ(c.range_line_smooth_limit, 0.6);
    EXPECT_EQ(c.num_threads, 4);
    // Without an output_dir key the default "output" sits beside the config.
    EXPECT_EQ(c.output_dir, (f.dir.path() / "output").string());
    EXPECT_EQ(c.osgb_path, (f.dir.path() / "model").string());
}

TEST(RenderConfigLoad, UnreadableValuesNameTheKeyAndWhatItTakes)
{
    struct Case {
        std::string json;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {R"("background":5)", "Config error: background must be a text, got 5\n"},
        {R"("distance":true)", "Config error: distance must be a number, got true\n"},
        {R"("avoid_occlusion":1)", "Config error: avoid_occlusion must be true or false, got 1\n"},
        {R"("angles":"top")", "Config error: angles must be a list of texts, got \"top\"\n"},
        {R"("angles":["top",3])", "Config error: angles must be a list of texts, got [\"top\",3]\n"},
        {R"("width":[1])", "Config error: width must be a whole number, got [1]\n"},
        {R"("width":"abc")", "Config error: width must be a whole number, got \"abc\"\n"},
        {R"("width":"nan")", "Config error: width must be a whole number, got \"nan\"\n"},
        {R"("width":"99999999999")", "Config error: width must be a whole number, got \"99999999999\"\n"},
        {R"("distance":"x1")", "Config error: distance must be a number, got \"x1\"\n"},
        {R"("distance":"1e999")", "Config error: distance must be a number, got \"1e999\"\n"},
        // Text is read whole: a number that only begins it, or another notation, is refused.
        {R"("width":"2e3")", "Config error: width must be a whole number, got \"2e3\"\n"},
        {R"("width":"1920px")", "Config error: width must be a whole number, got \"1920px\"\n"},
        {R"("height":"9O")", "Config error: height must be a whole number, got \"9O\"\n"},
        {R"("distance":"300m")", "Config error: distance must be a number, got \"300m\"\n"},
        {R"("preview_limit":" -3x")", "Config error: preview_limit must be a whole number, got \" -3x\"\n"},
        {"\"distance\":\"" + std::string(100000, '7') + "x\"",
         "Config error: distance must be a number, got \"" + std::string(59, '7') + "...\n"},
    };
    for (const auto& tc : cases) {
        ConfigFixture f;
        RenderConfig c;
        std::string err;
        EXPECT_FALSE(f.loadWithInputs(tc.json, c, err)) << tc.json;
        EXPECT_EQ(err, tc.expected) << tc.json;
    }
}

TEST(RenderConfigLoad, NumberConversions)
{
    ConfigFixture f;
    RenderConfig c;
    std::string err;
    ASSERT_TRUE(f.loadWithInputs(
        R"("width":"1920","height":1080.9,"warmup_frames":true,"distance":"250.5","preview_limit":" -3 ")", c, err))
        << err;
    EXPECT_EQ(c.width, 1920);
    EXPECT_EQ(c.height, 1080);
    EXPECT_EQ(c.warmup_frames, 1);
    EXPECT_DOUBLE_EQ(c.distance, 250.5);
    EXPECT_EQ(c.preview_limit, 0);  // -3 read, then clamped

    RenderConfig negative;
    ASSERT_TRUE(f.loadWithInputs(R"("width":-1.9)", negative, err) == false);
    EXPECT_EQ(err, "Config error: width and height must be positive.\n");  // -1.9 truncates to -1

    RenderConfig wrapped;
    // A JSON integer keeps its low 32 bits: 4294967297 = 2^32 + 1.
    ASSERT_TRUE(f.loadWithInputs(R"("width":4294967297)", wrapped, err)) << err;
    EXPECT_EQ(wrapped.width, 1);

    RenderConfig huge;
    EXPECT_FALSE(f.loadWithInputs(R"("width":1e30)", huge, err));
    EXPECT_EQ(err, "Config error: width must be a whole number, got 1e+30\n");
}

TEST(RenderConfigLoad, NullKeysBomAndTrailingTextAndComments)
{
    ConfigFixture f;
    RenderConfig c;
    std::string err;
    ASSERT_TRUE(f.loadWithInputs(R"("width":null,"unknown_key":[1,2],"angles":null)", c, err)) << err;
    EXPECT_EQ(c.width, 3840);
    EXPECT_EQ(c.angles, std::vector<std::string>{"top"});

    RenderConfig withBom;
    ASSERT_TRUE(
        f.load("\xEF\xBB\xBF{\"osgb_path\":\"model\",\"shp_path\":\"parcels.shp\",\"width\":640}", withBom, err))
        << err;
    EXPECT_EQ(withBom.width, 640);

    RenderConfig trailing;
    ASSERT_TRUE(f.load(R"({"osgb_path":"model","shp_path":"parcels.shp","width":641} garbage)", trailing, err)) << err;
    EXPECT_EQ(trailing.width, 641);

    RenderConfig commented;
    EXPECT_FALSE(f.load("// note\n{\"osgb_path\":\"model\"}", commented, err));
    EXPECT_NE(err.find("Config load failed: [json.exception.parse_error"), std::string::npos) << err;

    RenderConfig notObject;
    EXPECT_FALSE(f.load(R"([{"osgb_path":"model","shp_path":"parcels.shp"}])", notObject, err));
    EXPECT_EQ(err, "Config error: osgb_path and shp_path are required.\n");

    // model_path is osgb_path's newer name: either one, or both naming the same model.
    const std::string model = (f.dir.path() / "model").string();
    for (const char* body : {R"({"model_path":"model","shp_path":"parcels.shp"})",
                             R"({"model_path":"model","osgb_path":"./model","shp_path":"parcels.shp"})"}) {
        RenderConfig named;
        ASSERT_TRUE(f.load(body, named, err)) << body << err;
        EXPECT_EQ(named.osgb_path, model);
        EXPECT_EQ(named.model_path, model);
    }
    RenderConfig twoModels;
    EXPECT_FALSE(
        f.load(R"({"model_path":"parcels.shp","osgb_path":"model","shp_path":"parcels.shp"})", twoModels, err));
    EXPECT_EQ(err, "Config error: model_path and osgb_path name different models: " +
                       (f.dir.path() / "parcels.shp").string() + " and " + model + "\n");
}

TEST(RenderConfigLoad, MissingFileAndEmptyObject)
{
    TempDir dir("cfg");
    RenderConfig c;
    std::ostringstream err;
    EXPECT_FALSE(loadRenderConfig(c, (dir / "absent.json").string(), err));
    EXPECT_EQ(err.str(), "Cannot open config: " + (dir / "absent.json").string() + "\n");

    ConfigFixture f;
    std::string text;
    RenderConfig empty;
    EXPECT_FALSE(f.load("{}", empty, text));
    EXPECT_EQ(text, "Config error: osgb_path and shp_path are required.\n");
    // The clamps ran before the required-path check.
    RenderConfig clamped;
    EXPECT_FALSE(f.load(R"({"output_dpi":5000,"oblique_view_angle":80})", clamped, text));
    EXPECT_EQ(clamped.output_dpi, 1200);
    EXPECT_DOUBLE_EQ(clamped.oblique_view_angle, 70.0);
}

TEST(RenderConfigValidate, MessagesInTheirOrder)
{
    struct Case {
        std::string json;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {R"("width":0,"distance":0)", "Config error: width and height must be positive."},
        {R"("height":-5)", "Config error: width and height must be positive."},
        {R"("distance":0,"angles":["bogus"])", "Config error: distance must be positive."},
        {R"("angles":["top","Top"],"output_format":"PNG")", "Config error: unsupported angle Top"},
        {R"("angles":["top_range"])", "Config error: unsupported angle top_range"},
        {R"("annotate":["caption","arrow"])",
         "Config error: annotate takes north_arrow, scale_bar and caption, not arrow."},
        {R"("output_format":"PNG","jpg_quality":0)", "Config error: output_format must be png, jpg, pdf, or tif."},
        {R"("output_format":"png","jpg_quality":0)", "Config error: jpg_quality must be 1-100."},
        {R"("jpg_quality":101)", "Config error: jpg_quality must be 1-100."},
        {R"("field_separator":"/")", "Config error: field_separator contains invalid Windows path characters."},
        {R"("field_separator":"\t")", "Config error: field_separator contains invalid Windows path characters."},
        {R"("field_separator":"a\\b")", "Config error: field_separator contains invalid Windows path characters."},
        {R"("field_separator":"<")", "Config error: field_separator contains invalid Windows path characters."},
        {R"("num_threads":65)", "Config error: num_threads must be at most 64."},
        {R"("tile_load_timeout":0.5)", "Config error: tile_load_timeout must be at least 1."},
        {R"("tile_load_timeout":3601)", "Config error: tile_load_timeout must be at most 3600."},
        {R"("retry_failed_only":true)", "Config error: retry_failed_only needs resume to be true."},
        // A key's text cannot put a line of its own on the output Tavrin reads.
        {R"("angles":["x\nIMAGE_PROGRESS image=9"])", "Config error: unsupported angle x\\nIMAGE_PROGRESS image=9"},
    };
    for (const auto& tc : cases) {
        ConfigFixture f;
        RenderConfig c;
        std::string err;
        EXPECT_FALSE(f.loadWithInputs(tc.json, c, err)) << tc.json;
        EXPECT_EQ(err, tc.expected + "\n") << tc.json;
    }
}

TEST(RenderConfigValidate, InputPathsMustExist)
{
    ConfigFixture f;
    RenderConfig c;
    std::string err;
    EXPECT_FALSE(f.load(R"({"osgb_path":"nope","shp_path":"parcels.shp"})", c, err));
    EXPECT_EQ(err, "Config error: osgb_path does not exist: " + (f.dir.path() / "nope").string() + "\n");

    RenderConfig d;
    EXPECT_FALSE(f.load(R"({"osgb_path":"model","shp_path":"sub/../missing.shp"})", d, err));
    EXPECT_EQ(err, "Config error: shp_path does not exist: " + (f.dir.path() / "missing.shp").string() + "\n");

    RenderConfig onlyOne;
    EXPECT_FALSE(f.load(R"({"osgb_path":"model"})", onlyOne, err));
    EXPECT_EQ(err, "Config error: osgb_path and shp_path are required.\n");
}

TEST(RenderConfigValidate, ClampsAndNormalisations)
{
    ConfigFixture f;
    RenderConfig c;
    std::string err;
    ASSERT_TRUE(f.loadWithInputs(
        R"("output_dpi":50,"camera_padding":0.2,"oblique_padding_factor":9,"oblique_distance_factor":0.1,)"
        R"("oblique_view_angle":10,"occlusion_sample_step":2,"preview_limit":-4,"num_threads":0,)"
        R"("multisample":-1,"warmup_frames":-2,"range_line_lift":-1,"range_line_sample_step":0.01,)"
        R"("range_line_width":0.5,"range_line_smooth_limit":-3,"angles":["north","top","north"],)"
        R"("output_dir":"","field_separator":"","field_name":"ZDDM")",
        c, err))
        << err;
    EXPECT_EQ(c.output_dpi, 72);
    EXPECT_DOUBLE_EQ(c.camera_padding, 1.0);
    EXPECT_DOUBLE_EQ(c.oblique_padding_factor, 1.5);
    EXPECT_DOUBLE_EQ(c.oblique_distance_factor, 0.25);
    EXPECT_DOUBLE_EQ(c.oblique_view_angle, 30.0);
    EXPECT_DOUBLE_EQ(c.occlusion_sample_step, 0.9);
    EXPECT_EQ(c.preview_limit, 0);
    EXPECT_EQ(c.num_threads, 1);
    EXPECT_EQ(c.multisample, 0);
    EXPECT_EQ(c.warmup_frames, 0);
    EXPECT_DOUBLE_EQ(c.range_line_lift, 0.0);
    EXPECT_DOUBLE_EQ(c.range_line_sample_step, 0.2);
    EXPECT_DOUBLE_EQ(c.range_line_width, 1.0);
    EXPECT_DOUBLE_EQ(c.range_line_smooth_limit, 0.0);
    EXPECT_EQ(c.angles, (std::vector<std::string>{"north", "top", "north"}));
    // An empty output_dir stays relative to the working directory.
    EXPECT_EQ(c.output_dir, "output");
    EXPECT_EQ(c.field_separator, "_");
    EXPECT_EQ(c.field_names, std::vector<std::string>{"ZDDM"});

    RenderConfig upper;
    ASSERT_TRUE(f.loadWithInputs(R"("output_dpi":5000,"output_format":"jpeg","jpg_quality":1)", upper, err)) << err;
    EXPECT_EQ(upper.output_dpi, 1200);
    EXPECT_EQ(upper.output_format, "jpeg");

    RenderConfig noNames;
    ASSERT_TRUE(f.loadWithInputs(R"("field_name":"")", noNames, err)) << err;
    EXPECT_TRUE(noNames.field_names.empty());
    EXPECT_TRUE(noNames.field_name.empty());

    RenderConfig listWins;
    ASSERT_TRUE(f.loadWithInputs(R"("field_name":"ZDDM","field_names":["FWBH","ZDDM"])", listWins, err)) << err;
    EXPECT_EQ(listWins.field_names, (std::vector<std::string>{"FWBH", "ZDDM"}));
}

TEST(RenderConfigValidate, SeparatorsThatAreAccepted)
{
    for (const std::string separator : {R"("\\")", R"("、")", R"("-")", R"(" ")"}) {
        ConfigFixture f;
        RenderConfig c;
        std::string err;
        EXPECT_TRUE(f.loadWithInputs(R"("field_separator":)" + separator, c, err)) << separator << ": " << err;
    }
    ConfigFixture f;
    RenderConfig c;
    std::string err;
    ASSERT_TRUE(f.loadWithInputs(R"("field_separator":"\\")", c, err));
    EXPECT_EQ(c.field_separator, "\\");
}

TEST(RenderConfigResolve, RelativePathsFollowTheConfigFolder)
{
    RenderConfig c;
    c.osgb_path = "../data";
    c.shp_path = "/abs/parcels.shp";
    c.output_dir = "./out/../images";
    resolveConfigPaths(c, "/jobs/a/render.json");
    EXPECT_EQ(c.osgb_path, "/jobs/data");
    EXPECT_EQ(c.shp_path, "/abs/parcels.shp");
    EXPECT_EQ(c.output_dir, "/jobs/a/images");

    // Absolute paths get one spelling, so that paths built on them compare.
    c.output_dir = "/data//out/./";
    c.shp_path = "/abs/x/../parcels.shp";
    resolveConfigPaths(c, "/jobs/a/render.json");
    EXPECT_EQ(c.output_dir, "/data/out");
    EXPECT_EQ(c.shp_path, "/abs/parcels.shp");

    RenderConfig empty;
    empty.osgb_path = "";
    empty.output_dir = "";
    resolveConfigPaths(empty, "/jobs/a/render.json");
    EXPECT_EQ(empty.osgb_path, "");
    EXPECT_EQ(empty.output_dir, "");
}

TEST(RenderConfigSummary, FourteenLinesWithWholeNumbers)
{
    RenderConfig c;
    c.osgb_path = "/m";
    c.shp_path = "/s.shp";
    c.output_dir = "/o";
    c.shp_offset_x = 3345678.9;
    c.gauss_zone_prefix = 38000000;
    c.preview_limit = 5;
    std::ostringstream out;
    printConfigSummary(c, out);
    const std::string expected =
        "OSGB path: /m\n"
        "SHP path: /s.shp\n"
        "Output: /o\n"
        "SHP offset: x=3345678.9, y=0, gauss_zone_prefix=38000000, auto_strip_gauss_zone=true, "
        "auto_align_shp_to_scene=true, output_top_range=false\n"
        "Size: 3840x2160\n"
        "Camera padding: 1.05\n"
        "Oblique factors: padding=1.02, distance=0.8, view_angle=50\n"
        "Avoid occlusion: true, sample_step=0.35\n"
        "Warmup frames: 8\n"
        "Range line: lift=0.08, sample_step=1, width=5, color=red\n"
        "Format: png\n"
        "DPI: 300\n"
        "Coordinate systems: model_srs=as declared, frames_crs=as declared, reproject_frames=auto, "
        "world_file=false\n"
        "Preview limit: 5\n";
    EXPECT_EQ(out.str(), expected);

    c.preview_limit = 0;
    std::ostringstream noPreview;
    printConfigSummary(c, noPreview);
    EXPECT_EQ(noPreview.str().find("Preview limit"), std::string::npos);
}

TEST(RenderConfigValidate, NonFiniteNumbersAndUpperBoundsAreErrors)
{
    const std::vector<std::string> doubleKeys = {"distance",
                                                 "camera_padding",
                                                 "oblique_padding_factor",
                                                 "oblique_distance_factor",
                                                 "oblique_view_angle",
                                                 "occlusion_sample_step",
                                                 "shp_offset_x",
                                                 "shp_offset_y",
                                                 "gauss_zone_prefix",
                                                 "range_line_lift",
                                                 "range_line_sample_step",
                                                 "range_line_width",
                                                 "range_line_smooth_limit"};
    for (const std::string& key : doubleKeys) {
        for (const char* value : {"nan", "inf", "-inf"}) {
            ConfigFixture f;
            RenderConfig c;
            std::string err;
            EXPECT_FALSE(f.loadWithInputs("\"" + key + "\":\"" + std::string(value) + "\"", c, err)) << key << value;
            EXPECT_EQ(err, "Config error: " + key + " must be a finite number.\n") << key << value;
        }
    }

    const std::string longTemplate(4097, '#');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"("width":16385,"height":65536)", "Config error: width and height must be at most 16384."},
        {R"("height":16385)", "Config error: width and height must be at most 16384."},
        {R"("warmup_frames":1001)", "Config error: warmup_frames must be at most 1000."},
        {"\"photo_name_template\":\"" + longTemplate + "\"",
         "Config error: photo_name_template must be at most 4096 bytes."},
    };
    for (const auto& [json, expected] : cases) {
        ConfigFixture f;
        RenderConfig c;
        std::string err;
        EXPECT_FALSE(f.loadWithInputs(json, c, err)) << json;
        EXPECT_EQ(err, expected + "\n") << json;
    }

    ConfigFixture f;
    RenderConfig c;
    std::string err;
    ASSERT_TRUE(f.loadWithInputs(R"("width":16384,"height":16384,"warmup_frames":1000,"photo_name_template":")" +
                                     std::string(4096, 'a') + "\"",
                                 c, err))
        << err;
}

TEST(RenderConfigLoad, AFolderAsTheConfigurationCannotBeOpened)
{
    TempDir dir("cfg");
    fs::create_directories(dir / "render.json");
    RenderConfig c;
    std::ostringstream err;
    EXPECT_FALSE(loadRenderConfig(c, (dir / "render.json").string(), err));
    EXPECT_EQ(err.str(), "Cannot open config: " + (dir / "render.json").string() + "\n");
}

TEST(ConfigKeyTable, EveryKeyIsReadIntoItsOwnField)
{
    for (const ConfigKey& key : configKeyTable()) {
        nlohmann::json given;
        switch (key.type()) {
        case ConfigKeyType::Integer: given = vistrelDefault(key).get<int>() + 7; break;
        case ConfigKeyType::Number: given = vistrelDefault(key).get<double>() + 0.25; break;
        case ConfigKeyType::Boolean: given = !vistrelDefault(key).get<bool>(); break;
        case ConfigKeyType::Text: given = std::string("t_") + key.name; break;
        case ConfigKeyType::TextList: given = {std::string("l_") + key.name}; break;
        }
        RenderConfig config;
        readConfigKeys(nlohmann::json{{key.name, given}}, config);
        EXPECT_EQ(configKeyValue(config, key), given) << key.name;
        // No other field moved.
        for (const ConfigKey& other : configKeyTable()) {
            if (&other != &key) {
                EXPECT_EQ(configKeyValue(config, other), vistrelDefault(other)) << key.name << " moved " << other.name;
            }
        }
    }
}

TEST(ConfigKeyTable, EveryRefusalIsAMessageOfTheProtocol)
{
    int refusals = 0;
    for (const ConfigKey& key : configKeyTable()) {
        if (!key.hasRefusal()) {
            continue;
        }
        for (const double bound : {key.refuseBelow, key.refuseAbove}) {
            if (!std::isfinite(bound)) {
                continue;
            }
            const double outside = bound == key.refuseBelow ? bound - 1 : bound + 1;
            ConfigFixture f;
            RenderConfig c;
            std::string err;
            const std::string value = key.type() == ConfigKeyType::Integer ? std::to_string(static_cast<int>(outside))
                                                                           : std::to_string(outside);
            EXPECT_FALSE(f.loadWithInputs("\"" + std::string(key.name) + "\":" + value, c, err)) << key.name;
            const auto matched = matchRunMessage(err.substr(0, err.size() - 1));
            ASSERT_TRUE(matched) << err;
            EXPECT_NE(matched->id, RunMessage::ConfigOther) << err;
            ++refusals;
        }
    }
    EXPECT_GE(refusals, 9);
}

TEST(ConfigKeyTable, AnUnsetWhereLeavesTheBatchIdentityOfEarlierJournals)
{
    // Journals written before the key existed must still resume: unset, it
    // adds nothing to the identity; a filter makes another batch.
    RenderConfig config;
    std::size_t settings = 0;
    for (const ConfigKey& key : configKeyTable()) {
        settings += key.identity == BatchIdentity::Value || key.identity == BatchIdentity::FileName ? 1 : 0;
    }
    const nlohmann::json identity = batchIdentity(config);
    EXPECT_EQ(identity.size(), settings);
    config.where = "ZDDM LIKE '4413%'";
    EXPECT_EQ(batchIdentity(config).size(), settings + 1);
    EXPECT_NE(batchIdentity(config), identity);
}
