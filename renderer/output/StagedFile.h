#pragma once

#include <cstdio>
#include <string>

namespace vistrel {

// A file written under a temporary name in the folder of its final path and
// moved into place by commit() only once it is complete. Until then an earlier
// file of the final name stays as it was; a temporary file that was not
// committed is removed when the object goes away, so a failed or abandoned
// write leaves nothing behind.
class StagedFile {
public:
    explicit StagedFile(std::string finalPath);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Creates the temporary file (never reusing an existing name) and opens it
    // for binary writing. False when the folder does not take a new file.
    bool open();
    // The open stream; null before open().
    std::FILE* stream() const { return stream_; }

    const std::string& finalPath() const { return finalPath_; }
    const std::string& tempPath() const { return tempPath_; }

    // Flushes and closes the stream, then renames the temporary file over the
    // final path. On any error the temporary file is removed and false returned.
    bool commit();
    // Removes the temporary file; the final path is not touched.
    void discard();

private:
    std::string finalPath_;
    std::string tempPath_;
    std::FILE* stream_ = nullptr;
    bool pending_ = false;  // a temporary file exists that is ours to remove
};

}  // namespace vistrel
