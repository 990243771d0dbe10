#include "output/WriteResult.h"

#include "core/PathBelow.h"

namespace vistrel {

bool makeWriteFolder(const std::filesystem::path& folder, const std::string& outputDir, WriteResult& result)
{
    try {
        const std::string link = makeFolderBelow(folder, outputDir);
        if (link.empty()) {
            return true;
        }
        result.status = WriteStatus::RefusedLink;
        result.reason = link;
    } catch (const std::filesystem::filesystem_error& e) {
        result.status = WriteStatus::FolderFailed;
        result.reason = e.what();
    }
    return false;
}

}  // namespace vistrel
