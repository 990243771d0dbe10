#include "output/NameTemplate.h"
#include "output/TemplatePlaceholder.h"

#include <gtest/gtest.h>

#include <set>
#include <system_error>

using namespace vistrel;

namespace {

NameTemplate namesFor(const std::string& photoTemplate, const std::string& format = "jpg",
                      const std::string& separator = "_")
{
    RenderConfig config;
    config.output_dir = "out";
    config.output_format = format;
    config.field_separator = separator;
    config.photo_name_template = photoTemplate;
    return NameTemplate(config);
}

PolygonFrame frameWith(std::map<std::string, std::string> attributes, const std::string& name = "f")
{
    PolygonFrame frame;
    frame.name = frame.uniqueName = name;
    frame.nameValues = {name};
    frame.attributes = std::move(attributes);
    return frame;
}

}  // namespace

TEST(NameTemplate, WorkedExample)
{
    const PolygonFrame first = frameWith({{"ZDDM", "101"}, {"FWBH", "1"}}, "101_1");
    const PolygonFrame second = frameWith({{"ZDDM", "101"}, {"FWBH", "2"}}, "101_2");
    const std::string folders = "<ZDDM>\\4.照片资料\\2.房屋照片<FWBH>幢_#";
    EXPECT_EQ(namesFor(folders).expandTemplate(first, "north"), "101\\4.照片资料\\2.房屋照片1幢_1");

    NameTemplate numbered = namesFor(folders);
    EXPECT_EQ(numbered.buildPhotoPath(first, "north"), "out/101/4.照片资料/2.房屋照片1幢_1.jpg");
    EXPECT_EQ(numbered.buildPhotoPath(first, "south"), "out/101/4.照片资料/2.房屋照片1幢_2.jpg");
    EXPECT_EQ(numbered.buildPhotoPath(second, "north"), "out/101/4.照片资料/2.房屋照片2幢_3.jpg");
    EXPECT_EQ(numbered.buildPhotoPath(second, "south"), "out/101/4.照片资料/2.房屋照片2幢_4.jpg");

    NameTemplate labels = namesFor("<ZDDM>_<角度>");
    EXPECT_EQ(labels.buildPhotoPath(first, "north"), "out/101_北侧.jpg");
    EXPECT_EQ(labels.buildPhotoPath(first, "south"), "out/101_南侧.jpg");
    EXPECT_EQ(labels.buildPhotoPath(second, "north"), "out/101_北侧_2.jpg");
    EXPECT_EQ(labels.buildPhotoPath(second, "south"), "out/101_南侧_2.jpg");

    NameTemplate plain = namesFor("", "jpeg");
    EXPECT_EQ(plain.buildPhotoPath(first, "north"), "out/101_1/north.jpg");
    EXPECT_EQ(plain.buildPhotoPath(first, "south"), "out/101_1/south.jpg");
    EXPECT_EQ(plain.buildFrameFolder(first), "out/101_1");
}

TEST(NameTemplate, PlaceholderValues)
{
    const std::map<std::string, std::string> fields = {
        {"FWBH", "12345"}, {"X", "ABCDE"}, {"Y", "A"},     {"C", "房屋照片"}, {"Z3", "0003"},
        {"Z0", "000"},     {"Z3A", "3A"},  {"Z42", "0042"}, {"ZB", " 007 "},  {"ZN", "-003"},
    };
    const std::pair<const char*, const char*> cases[] = {
        {"ZDDM", ""},               {" X ", "ABCDE"},         {"x", ""},
        {"LEFT( FWBH , 2 )", "12"}, {"left(FWBH)", ""},       {"left(FWBH,-1)", ""},
        {"left(FWBH,abc)", ""},     {"left(FWBH,3abc)", "123"}, {"left(FWBH,99)", "12345"},
        {"left(FWBH,99999999999)", ""}, {"right(X,2)", "DE"}, {"right(Y,2)", "A"},
        {"right(X,0)", ""},         {"mid(X,2,3)", "BCD"},    {"mid(X,0,2)", "AB"},
        {"mid(X,2)", "BCDE"},       {"mid(X,9)", ""},         {"mid(X,2,abc)", "BCDE"},
        {"mid(X,2,-1)", ""},        {"left(C,2)", "房屋"},    {"right(C,1)", "片"},
        {"mid(C,2,2)", "屋照"},     {"int(Z3)", "3"},         {"number(Z0)", "0"},
        {"trimzero(Z3A)", "3A"},    {"left(trimzero(Z42),1)", "4"}, {"ltrim0(ZB)", "7"},
        {"INT(ZN)", "-003"},        {"left(mid(X,2,3),2)", "BC"}, {"upper(X)", ""},
        {")X(", ""},                {"int(Z3) tail", "3"},
    };
    for (const auto& [inner, expected] : cases) {
        EXPECT_EQ(evaluatePlaceholder(inner, fields), expected) << inner;
    }
    const PolygonFrame frame = frameWith({{"angle", "attr"}, {"宗地", "值"}});
    EXPECT_EQ(namesFor("<角度>_<ANGLE>_<angle>_<>_a<b_<宗地>").expandTemplate(frame, "north"),
              "北侧_north_attr_<>_a<b_值");
}

TEST(NameTemplate, HashNumbersCountPerFolderText)
{
    NameTemplate plain = namesFor("a#b#");
    EXPECT_EQ(plain.expandTemplate(frameWith({}), "north"), "a1b2");
    EXPECT_EQ(plain.expandTemplate(frameWith({}), "north"), "a3b4");

    // The text comes from an attribute, so every "#" here is one from a value.
    NameTemplate names = namesFor("<T>");
    const auto expand = [&](const std::string& text) { return names.expandTemplate(frameWith({{"T", text}}), "n"); };
    EXPECT_EQ(expand("x//p#"), "x//p1");
    EXPECT_EQ(expand("x/q#"), "x/q2");
    EXPECT_EQ(expand("x\\r#"), "x\\r3");
    EXPECT_EQ(expand("x\\y\\p#"), "x\\y\\p1");
    EXPECT_EQ(expand("x/y/q#"), "x/y/q1");
    EXPECT_EQ(expand("3#"), "31");
}

TEST(NameTemplate, PathsAreCleanedAndStayInsideTheOutputFolder)
{
    const PolygonFrame frame = frameWith({{"ZDDM", "101"}, {"CTRL", "a\x01z"}});
    const std::pair<const char*, const char*> cases[] = {
        {"<ZDDM>.PNG", "out/101.PNG"}, {"..\\x", "out/x.jpg"},          {"./a//b/", "out/a/b.jpg"},
        {"a:b", "out/a_b.jpg"},        {"<CTRL>|*?\"", "out/a_z____.jpg"}, {"///", "out/north.jpg"},
        {"<NONE>", "out/north.jpg"},   {"../..", "out/...jpg"},
    };
    for (const auto& [photoTemplate, expected] : cases) {
        EXPECT_EQ(namesFor(photoTemplate).buildPhotoPath(frame, "north"), expected) << photoTemplate;
    }
    PolygonFrame nested = frameWith({}, "101\\a/b");
    nested.nameValues = {"101", "a/b"};
    EXPECT_EQ(namesFor("", "png", "\\").buildFrameFolder(nested), "out/101/a_b");
    nested.nameValues.clear();
    EXPECT_EQ(namesFor("", "png", "\\").buildFrameFolder(nested), "out/101/a/b");
    EXPECT_EQ(namesFor("").buildFrameFolder(nested), "out/101_a_b");
    EXPECT_EQ(namesFor("").buildFrameFolder(frameWith({}, "..")), "out/__");
}

TEST(NameTemplate, InvalidUtf8Throws)
{
    const PolygonFrame bad = frameWith({{"V", "ok\xFF"}}, "name\xC0\xAF");
    EXPECT_THROW(namesFor("<V>").buildPhotoPath(bad, "north"), std::system_error);
    EXPECT_THROW(namesFor("").buildFrameFolder(bad), std::system_error);
    for (const char* text : {"\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE6\x88", "\x80"}) {
        EXPECT_THROW(namesFor(text).buildPhotoPath(frameWith({}), "north"), std::system_error) << text;
    }
    EXPECT_EQ(namesFor("\xF0\x9F\x8F\xA0<V>").buildPhotoPath(frameWith({{"V", "1"}}), "n"),
              "out/\xF0\x9F\x8F\xA0" "1.jpg");
}

TEST(NameTemplate, NoTwoImagesOfARunShareAPath)
{
    NameTemplate names = namesFor("<N>");
    const auto path = [&](const std::string& n, const std::string& angle = "top") {
        return names.buildPhotoPath(frameWith({{"N", n}}), angle);
    };
    EXPECT_EQ(path("A", "north"), "out/A.jpg");
    EXPECT_EQ(path("A", "south"), "out/A_2.jpg");
    EXPECT_EQ(path("A_2"), "out/A_2_2.jpg");  // equals an already suffixed name
    EXPECT_EQ(path("B_2"), "out/B_2.jpg");
    EXPECT_EQ(path("B"), "out/B.jpg");
    EXPECT_EQ(path("B"), "out/B_3.jpg");

    // Without a template: folder names that cleaning makes equal, and a repeated angle.
    NameTemplate plain = namesFor("", "png");
    EXPECT_EQ(plain.buildPhotoPath(frameWith({}, "a:b"), "north"), "out/a_b/north.png");
    EXPECT_EQ(plain.buildPhotoPath(frameWith({}, "a_b"), "north"), "out/a_b/north_2.png");
    EXPECT_EQ(plain.buildPhotoPath(frameWith({}, "c"), "top"), "out/c/top.png");
    EXPECT_EQ(plain.buildPhotoPath(frameWith({}, "c"), "top"), "out/c/top_2.png");

    NameTemplate mixed = namesFor("<N>\\<M>#");
    std::set<std::string> seen;
    const char* values[] = {"A", "A_2", "A_1", "", "A_3", "x/A", "A"};
    for (int i = 0; i < 300; ++i) {
        const PolygonFrame f = frameWith({{"N", values[i % 7]}, {"M", i % 3 ? "A_" : "#"}});
        EXPECT_TRUE(seen.insert(mixed.buildPhotoPath(f, i % 2 ? "top" : "top_range")).second) << i;
    }
}

TEST(NameTemplateHostileInput, LongPlaceholdersDeepCallsAndLongNames)
{
    // Each of these overflowed the stack or took quadratic time.
    const std::string longField(40000, 'F');
    EXPECT_EQ(namesFor("<" + longField + ">x").buildPhotoPath(frameWith({{longField, "v"}}), "top"), "out/vx.jpg");
    std::string nested = "X";
    for (int i = 0; i < 2000; ++i) {
        nested = "left(" + nested + ",9)";
    }
    EXPECT_EQ(namesFor("<" + nested + ">").expandTemplate(frameWith({{"X", "0123456789"}}), "top"), "012345678");

    // Attribute values can make a name longer than any path; that image fails.
    const PolygonFrame wide = frameWith({{"W", std::string(250, '#')}});
    std::string manyHashes;
    for (int i = 0; i < 80; ++i) {
        manyHashes += "<W>";
    }
    EXPECT_THROW(namesFor(manyHashes).buildPhotoPath(wide, "top"), std::length_error);
    // A DEL byte is a control byte like the others.
    EXPECT_EQ(namesFor("a\x7F" "b").buildPhotoPath(frameWith({}), "top"), "out/a_b.jpg");
}
