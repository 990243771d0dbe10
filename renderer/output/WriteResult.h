#pragma once

#include "core/ContentHash.h"

#include <filesystem>
#include <string>

namespace vistrel {

// What became of a file the output layer was asked to write.
enum class WriteStatus {
    Written,
    Failed,  // the file could not be written; `reason` says why
    RefusedLink,  // a symbolic link below the output folder was on the way; `reason` is its path
    FolderFailed,  // the file's folder could not be made; `reason` is the system's text
};

// The outcome of one write, for the caller to report: the writers log nothing.
struct WriteResult {
    WriteStatus status = WriteStatus::Failed;
    std::string path;  // the file written, or meant to be
    std::string reason;
    FileDigest digest;  // length and content hash of the written file

    bool written() const { return status == WriteStatus::Written; }
};

// Makes `folder` for the write of `result`, below `outputDir` without passing
// a symbolic link (see makeFolderBelow). False, with `result`'s status and
// reason set (RefusedLink or FolderFailed), when the folder is not there.
bool makeWriteFolder(const std::filesystem::path& folder, const std::string& outputDir, WriteResult& result);

}  // namespace vistrel
