#include "model/ModelSource.h"

#include "model/ModelPath.h"
#include "model/OsgNoticeLog.h"
#include "model/OsgbSource.h"
#include "model/tiles3d/Tiles3dSource.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

// A tileset file, or a folder holding tileset.json; anything else is OSGB.
bool namesTileset(const fs::path& path)
{
    const fs::file_status status = statusOrThrow(path, "status");
    if (fs::is_directory(status)) {
        return fs::exists(statusOrThrow(path / "tileset.json", "status"));
    }
    return fs::is_regular_file(status) && path.extension() == ".json";
}

}  // namespace

std::unique_ptr<ModelSource> openModelSource(const std::string& path, const ModelOptions& options, std::string& reason)
{
    if (!namesTileset(withoutTrailingSeparator(fs::path(path)))) {
        return OsgbSource::open(path, reason);
    }
    // Content images are decoded through the library's plug-ins.
    installOsgNoticeLog();
    setupPluginPath();
    return openTiles3dSource(path, options, reason);
}

}  // namespace vistrel
