#pragma once

#include <filesystem>
#include <string>

namespace vistrel {

// Files the batch writes or takes over below the output folder are reached
// without symbolic links: a planted link would lead a write, or a resumed
// image, to somewhere else. The output folder itself may be a link; it is the
// user's choice.

// Makes `folder` one level at a time, so that no part of it below
// `outputDir` is a symbolic link. A folder outside `outputDir` is made as it
// is. Returns the path of the link met (the caller refuses the write), or
// empty when the folder is there. Throws std::filesystem::filesystem_error
// when a folder cannot be made.
std::string makeFolderBelow(const std::filesystem::path& folder, const std::string& outputDir);

// Opens the regular file `path` below `outputDir` for reading, walking the
// folders one at a time with O_NOFOLLOW. Returns the descriptor, or -1 with
// `why` saying what was found instead (a symbolic link, no file, another kind
// of file).
int openRegularBelow(const std::string& outputDir, const std::string& path, std::string& why);

}  // namespace vistrel
