#pragma once

// The one table of output formats. Every format Vistrel writes has one row;
// the values output_format takes, the extension a name without one gets, the
// format a file name picks, the world file beside a picture, the lists in
// the configuration's refusal and reference and Tavrin's choice of formats
// are read from it. The writer of each row is registered in the output layer
// (output/ImageWriter.cpp), one file per writer.

#include <string>
#include <string_view>

namespace vistrel {

// What a writer takes from a write request besides the pixels and the path.
enum WriterNeed : unsigned {
    kNeedsDpi = 1u << 0,  // output_dpi, stored in the file
    kNeedsQuality = 1u << 1,  // jpg_quality
    kNeedsFootprint = 1u << 2,  // where a vertical picture lies and its system (with world_file)
    kNeedsLossless = 1u << 3,  // pdf_lossless
    // The file itself holds where a vertical picture lies and its system, so
    // the footprint is given with or without world_file.
    kEmbedsFootprint = 1u << 4,
};

struct OutputFormat {
    // The output_format value, the writer's name and the extension a name
    // without one gets ("jpg").
    std::string_view key;
    // One more output_format value and file extension of the format ("jpeg"), or empty.
    std::string_view alias;
    // How texts name the format ("JPEG").
    std::string_view label;
    unsigned needs = 0;  // WriterNeed bits
    // With world_file, the extension of the world file written beside the
    // picture (with a .prj of the model's system); empty: none.
    std::string_view worldFile;
    // Image readers open the file as a picture: the contact sheet's
    // thumbnail of a taken-over image and Tavrin's preview are made from it.
    bool picture = false;
};

inline constexpr OutputFormat kOutputFormats[] = {
    {"png", "", "PNG", kNeedsDpi | kNeedsFootprint, ".pgw", true},
    {"jpg", "jpeg", "JPEG", kNeedsDpi | kNeedsQuality | kNeedsFootprint, ".jgw", true},
    {"pdf", "", "PDF", kNeedsDpi | kNeedsQuality | kNeedsLossless, "", false},
    {"tif", "tiff", "GeoTIFF", kNeedsDpi | kNeedsQuality | kNeedsFootprint | kEmbedsFootprint, ".tfw", true},
};

// The format an output_format value names (its key or alias, exactly as
// written); null when it names none.
const OutputFormat* findOutputFormat(std::string_view value);

// The format the extension of the file name in `path` names, in any case
// (".JPEG" names jpg); null when it has none or names none.
const OutputFormat* outputFormatOfName(std::string_view path);

// The key of the format `value` names ("jpeg" gives "jpg"); `value` itself
// when it names none.
std::string outputFormatKey(std::string_view value);

// The keys in table order, `between` between two of them and `beforeLast`
// before the last one; with `aliases`, each alias follows its key.
// ("png, jpg, pdf, or tif" is outputFormatList(", ", ", or ").)
std::string outputFormatList(std::string_view between, std::string_view beforeLast, bool aliases = false);

// The world-file extensions of the table, `between` between two of them.
std::string worldFileExtensionList(std::string_view between);

}  // namespace vistrel
