// The root index as the output folder holds it: whatever decodes (the
// checksum is no defence against an index written wrongly) must build a root
// grid that answers views and rectangles anywhere, and must be written back
// in a form that decodes again.
#include "model/RootGrid.h"
#include "model/RootIndex.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

void askAround(const vistrel::RootGrid& grid, const osg::Vec3d& at)
{
    grid.overRectangle(at.x() - 1.0, at.y() - 1.0, at.x() + 1.0, at.y() + 1.0);
    const osg::Vec3d above = at + osg::Vec3d(0.0, 0.0, 100.0);
    grid.inPrism({above, at, {0.0, 1.0, 0.0}, 50.0, 30.0});
    grid.inPrism({above + osg::Vec3d(-80.0, 0.0, 0.0), at, {0.0, 0.0, 1.0}, 50.0, 30.0});
    grid.inPrism({at, at + osg::Vec3d(1.0, 0.0, 0.0), {0.0, 0.0, 1.0}, 20.0, 10.0});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<vistrel::RootEntry> entries;
    if (!vistrel::decodeRootIndex(text, entries)) {
        return 0;
    }
    const osg::Vec3d offset(512000.0, 3390000.0, 0.0);
    const vistrel::RootGrid grid(entries, offset);
    const double inf = std::numeric_limits<double>::infinity();
    grid.overRectangle(-inf, -inf, inf, inf);
    grid.overRectangle(0.0, 0.0, std::numeric_limits<double>::quiet_NaN(), 1.0);
    askAround(grid, offset);
    for (std::size_t i = 0; i < std::min<std::size_t>(entries.size(), 64); ++i) {
        askAround(grid, osg::Vec3d(entries[i].bound.center()) + offset);
    }
    std::vector<vistrel::RootEntry> again;
    if (!vistrel::decodeRootIndex(vistrel::encodeRootIndex(entries), again) || again.size() != entries.size()) {
        std::abort();  // an index this program wrote that it cannot read
    }
    return 0;
}
