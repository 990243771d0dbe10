// The photo name template engine. Input: the template, then (after a NUL)
// attribute values separated by NULs. Every produced path must lie below
// the output folder, hold no "." or ".." component and no control byte.
#include "core/PolygonFrame.h"
#include "core/RenderConfig.h"
#include "output/NameTemplate.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace {

const std::string kRoot = "/out/root";

void requireContained(const std::string& path)
{
    const auto fail = [&](const char* why) {
        std::fprintf(stderr, "name template produced %s: %s\n", why, path.c_str());
        std::abort();
    };
    if (path.compare(0, kRoot.size() + 1, kRoot + "/") != 0) {
        fail("a path outside the root");
    }
    std::size_t start = kRoot.size() + 1;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string component = path.substr(start, end - start);
        if (component.empty() || component == "." || component == "..") {
            fail("an empty, . or .. component");
        }
        for (const unsigned char c : component) {
            if (c < 0x20 || c == 0x7F) {
                fail("a control byte");
            }
        }
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && parts.size() < 5) {
            parts.emplace_back();
        } else {
            parts.back() += static_cast<char>(data[i]);
        }
    }
    if (parts[0].size() > 4096) {
        return 0;  // longer templates are configuration errors
    }
    vistrel::PolygonFrame frame;
    frame.index = 1;
    frame.name = parts.size() > 1 ? parts[1] : "frame_0001";
    frame.uniqueName = frame.name;
    frame.nameValues = {frame.name};
    if (parts.size() > 2) {
        frame.nameValues.push_back(parts[2]);
    }
    const char* fields[] = {"A", "B", "C"};
    for (std::size_t i = 1; i < parts.size() && i <= 3; ++i) {
        frame.attributes[fields[i - 1]] = parts[i];
    }
    for (const char* separator : {"_", "\\"}) {
        vistrel::RenderConfig config;
        config.output_dir = kRoot;
        config.output_format = "jpeg";
        config.field_separator = separator;
        config.photo_name_template = parts[0];
        vistrel::NameTemplate names(config);
        for (const char* angle : {"top", "north", "top_range", "top"}) {
            try {
                requireContained(names.buildPhotoPath(frame, angle));
                requireContained(names.buildFrameFolder(frame) + "/x");
            } catch (const std::system_error&) {
                // Text that is not UTF-8 fails the image, as documented.
            } catch (const std::length_error&) {
                // A name longer than any path fails the image.
            }
        }
    }
    return 0;
}
