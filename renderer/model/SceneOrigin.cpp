#include "model/SceneOrigin.h"

#include "core/DsmOrigin.h"
#include "core/Logger.h"
#include "core/NumberText.h"
#include "core/RegularFile.h"
#include "model/ModelPath.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// metadata.xml is a few hundred bytes; anything this large is not one.
constexpr std::uintmax_t kMaxMetadataBytes = std::uintmax_t(16) << 20;
// No origin lies farther out: projected coordinates with a zone prefix stay
// below 100 000 km, geocentric ones below 10 000 km.
constexpr double kMaxOriginCoordinate = 1e8;

// Blanks as the C locale's isspace sees them.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::size_t skipBlanks(const std::string& text, std::size_t pos)
{
    while (pos < text.size() && isBlank(text[pos])) {
        ++pos;
    }
    return pos;
}

// True when `word` (ASCII, any case) stands at `pos`.
bool wordAt(const std::string& text, std::size_t pos, const char* word)
{
    for (; *word; ++word, ++pos) {
        if (pos >= text.size() ||
            std::tolower(static_cast<unsigned char>(text[pos])) != std::tolower(static_cast<unsigned char>(*word))) {
            return false;
        }
    }
    return true;
}

// Matches "<" blanks `name` blanks ">" at `pos` (closing: "<" blanks "/" blanks
// `name` blanks ">"); returns the position after it, or npos.
std::size_t tagAt(const std::string& text, std::size_t pos, const char* name, bool closing)
{
    if (pos >= text.size() || text[pos] != '<') {
        return std::string::npos;
    }
    pos = skipBlanks(text, pos + 1);
    if (closing) {
        if (pos >= text.size() || text[pos] != '/') {
            return std::string::npos;
        }
        pos = skipBlanks(text, pos + 1);
    }
    if (!wordAt(text, pos, name)) {
        return std::string::npos;
    }
    pos = skipBlanks(text, pos + std::strlen(name));
    if (pos >= text.size() || text[pos] != '>') {
        return std::string::npos;
    }
    return pos + 1;
}

bool isNumberByte(char c)
{
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// <SRSOrigin> a , b , c </SRSOrigin> at `pos`: the three number texts.
bool originElementAt(const std::string& text, std::size_t pos, std::string (&numbers)[3])
{
    pos = tagAt(text, pos, "SRSOrigin", false);
    if (pos == std::string::npos) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        pos = skipBlanks(text, pos);
        const std::size_t start = pos;
        while (pos < text.size() && isNumberByte(text[pos])) {
            ++pos;
        }
        if (pos == start) {
            return false;
        }
        numbers[i].assign(text, start, pos - start);
        pos = skipBlanks(text, pos);
        if (i < 2) {
            if (pos >= text.size() || text[pos] != ',') {
                return false;
            }
            ++pos;
        }
    }
    return tagAt(text, pos, "SRSOrigin", true) != std::string::npos;
}

// The text of the first <SRSOrigin> element (its start), for a message;
// false when there is none.
bool originElementText(const std::string& text, std::string& content)
{
    for (std::size_t open = text.find('<'); open != std::string::npos; open = text.find('<', open + 1)) {
        const std::size_t start = tagAt(text, open, "SRSOrigin", false);
        if (start == std::string::npos) {
            continue;
        }
        const std::size_t first = skipBlanks(text, start);
        std::size_t last = std::min(text.find('<', first), text.size());
        while (last > first && isBlank(text[last - 1])) {
            --last;
        }
        content = last - first > 40 ? text.substr(first, 40) + "..." : text.substr(first, last - first);
        return true;
    }
    return false;
}

// Why a text without a usable origin element gives none.
std::string missingOrigin(const std::string& text)
{
    std::string content;
    if (!originElementText(text, content)) {
        return "it has no SRSOrigin element";
    }
    return "its SRSOrigin element does not hold three numbers \"x, y, z\": \"" + content + "\"";
}

// The first <SRS> element's text without surrounding blanks (a text of
// blanks only keeps its last one); false when there is none.
bool findSrsElement(const std::string& text, std::string& srs)
{
    for (std::size_t open = text.find('<'); open != std::string::npos; open = text.find('<', open + 1)) {
        const std::size_t content = tagAt(text, open, "SRS", false);
        if (content == std::string::npos) {
            continue;
        }
        const std::size_t close = text.find('<', content);
        if (close == std::string::npos) {
            return false;
        }
        if (close > content && tagAt(text, close, "SRS", true) != std::string::npos) {
            std::size_t first = skipBlanks(text, content);
            std::size_t last = close;
            while (last > first && isBlank(text[last - 1])) {
                --last;
            }
            if (first == close) {
                first = close - 1;
            }
            srs.assign(text, first, last - first);
            return true;
        }
        open = close - 1;
    }
    return false;
}

// A candidate origin file that exists but cannot be used: WARN, then skip it.
bool usableCandidate(const fs::path& candidate)
{
    const fs::file_status status = statusOrThrow(candidate, "exists");
    if (!fs::exists(status)) {
        return false;
    }
    if (!fs::is_regular_file(status)) {
        Logger::instance().warn("Skipped origin file that is not a regular file: " + candidate.string());
        return false;
    }
    return true;
}

// The origin the DSM rule finds in `bytes`, left in `origin` when there is one.
void scanDsmWindows(const unsigned char* bytes, std::size_t size, SceneOrigin& origin)
{
    if (const auto found = dsmOrigin(bytes, size)) {
        origin.x = found->x;
        origin.y = found->y;
        origin.valid = true;
    }
}

void logOrigin(const SceneOrigin& origin, bool fromMetadata)
{
    std::string line = std::string(fromMetadata ? "Read metadata model origin from " : "Read DSM model origin from ") +
                       origin.sourcePath + ": x=" + coordinateNumber(origin.x) + ", y=" + coordinateNumber(origin.y);
    if (fromMetadata) {
        line += ", z=" + coordinateNumber(origin.z);
        if (!origin.srs.empty()) {
            line += ", srs=" + origin.srs;
        }
    }
    Logger::instance().info(line);
}

}  // namespace

SceneOrigin parseMetadataText(const std::string& text)
{
    SceneOrigin origin;
    std::string numbers[3];
    bool found = false;
    for (std::size_t open = text.find('<'); open != std::string::npos && !found; open = text.find('<', open + 1)) {
        found = originElementAt(text, open, numbers);
    }
    findSrsElement(text, origin.srs);
    if (!found) {
        origin.problem = missingOrigin(text);
        return origin;
    }
    double xyz[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        // A number text can be as long as the file: the message shows its start.
        const std::string shown = numbers[i].size() > 40 ? numbers[i].substr(0, 40) + "..." : numbers[i];
        const std::string which = std::string(1, "xyz"[i]);
        try {
            xyz[i] = textToDouble(numbers[i]);
        } catch (const std::exception&) {
            throw std::invalid_argument("the SRSOrigin element must hold three numbers \"x, y, z\"; its " + which +
                                        " is not a usable number: \"" + shown + "\"");
        }
        if (!(std::fabs(xyz[i]) <= kMaxOriginCoordinate)) {
            throw std::invalid_argument("the SRSOrigin element must hold three numbers \"x, y, z\"; its " + which +
                                        ", \"" + shown + "\", is out of range (at most 1e8 in magnitude)");
        }
    }
    origin.x = xyz[0];
    origin.y = xyz[1];
    origin.z = xyz[2];
    origin.valid = true;
    return origin;
}

SceneOrigin parseMetadataOrigin(const fs::path& file)
{
    std::string text;
    switch (readRegularFile(file, kMaxMetadataBytes, text)) {
    case FileRead::Read: break;
    case FileRead::TooLarge:
        Logger::instance().warn("Skipped metadata file larger than " + std::to_string(kMaxMetadataBytes >> 20) +
                                " MB: " + file.string());
        return SceneOrigin{};
    default: return SceneOrigin{};
    }
    SceneOrigin origin;
    try {
        origin = parseMetadataText(text);
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(file.string() + ": " + e.what());
    }
    if (origin.valid) {
        origin.sourcePath = file.string();
    }
    return origin;
}

SceneOrigin scanDsmBytes(const unsigned char* bytes, std::size_t size)
{
    SceneOrigin origin;
    scanDsmWindows(bytes, size, origin);
    return origin;
}

SceneOrigin scanDsmOrigin(const fs::path& file)
{
    SceneOrigin origin;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        return origin;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        return origin;
    }
    // Read in blocks; the last 15 bytes of a block start the next one, so
    // every window is seen once and in file order.
    constexpr std::size_t kBlock = 1 << 20;
    std::vector<unsigned char> buffer;
    for (;;) {
        const std::size_t kept = buffer.size();
        buffer.resize(kept + kBlock);
        in.read(reinterpret_cast<char*>(buffer.data() + kept), static_cast<std::streamsize>(kBlock));
        buffer.resize(kept + static_cast<std::size_t>(in.gcount()));
        if (buffer.size() == kept) {
            break;
        }
        scanDsmWindows(buffer.data(), buffer.size(), origin);
        if (buffer.size() > 15) {
            buffer.erase(buffer.begin(), buffer.end() - 15);
        }
    }
    if (origin.valid) {
        origin.z = 0.0;
        origin.sourcePath = file.string();
    }
    return origin;
}

SceneOrigin readSceneOrigin(const fs::path& pathIn)
{
    const fs::path path = withoutTrailingSeparator(pathIn);
    const fs::file_status status = statusOrThrow(path, "status");
    const bool isFile = fs::is_regular_file(status);
    const bool isDir = fs::is_directory(status);

    std::vector<fs::path> metadata;
    if (isFile) {
        metadata = {path.parent_path() / "metadata.xml", path.parent_path().parent_path() / "metadata.xml"};
    } else if (isDir) {
        metadata = {path / "metadata.xml", path.parent_path() / "metadata.xml"};
    }
    for (const auto& candidate : metadata) {
        if (!usableCandidate(candidate)) {
            continue;
        }
        SceneOrigin origin = parseMetadataOrigin(candidate);
        if (origin.valid) {
            logOrigin(origin, true);
            return origin;
        }
        if (!origin.problem.empty()) {
            const std::string srs = origin.srs.size() > 80 ? origin.srs.substr(0, 80) + "..." : origin.srs;
            Logger::instance().warn("No model origin in " + candidate.string() + ": " + origin.problem +
                                    (srs.empty() ? std::string() : "; its SRS \"" + srs + "\" is not used"));
        }
    }

    std::vector<fs::path> dsm;
    if (isFile) {
        if (path.extension().string() == ".dsm") {
            dsm.push_back(path);
        }
        dsm.push_back(path.parent_path() / "Data.dsm");
        dsm.push_back(path.parent_path().parent_path() / "Data.dsm");
    } else if (isDir) {
        dsm = {path / "Data.dsm", path / (path.filename().string() + ".dsm"), path.parent_path() / "Data.dsm"};
    }
    for (const auto& candidate : dsm) {
        if (!usableCandidate(candidate)) {
            continue;
        }
        SceneOrigin origin = scanDsmOrigin(candidate);
        if (origin.valid) {
            logOrigin(origin, false);
            return origin;
        }
    }
    return SceneOrigin{};
}

}  // namespace vistrel
