#pragma once

#include "core/ContentHash.h"

#include <cstdio>
#include <string>

namespace vistrel {

// A file written under a temporary name in the folder of its final path and
// moved into place by commit() only once it is complete and on disk. Until
// then an earlier file of the final name stays as it was; a temporary file
// that was not committed is removed when the object goes away, so a failed or
// abandoned write leaves nothing behind.
//
// The bytes are hashed as they go to the file (see core/ContentHash.h), so a
// committed file's digest needs no second read.
//
// Temporary names are hidden and say whose they are:
// ".<name>.vistrel-<host>-<pid>-<serial>.tmp".
class StagedFile {
public:
    explicit StagedFile(std::string finalPath);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Creates the temporary file (never reusing an existing name, never
    // following a symbolic link) and opens it for binary writing. False when
    // the folder does not take a new file.
    bool open();
    // The open stream; null before open().
    std::FILE* stream() const { return stream_; }
    // The temporary file's descriptor the stream writes to; -1 when not open.
    int descriptor() const { return fd_; }
    // Length and hash of the bytes that reached the file so far; after a
    // successful commit() those of the finished file.
    FileDigest digest() const { return hasher_.digest(); }

    const std::string& finalPath() const { return finalPath_; }
    const std::string& tempPath() const { return tempPath_; }

    // Flushes the stream and syncs the file to disk, closes it, renames it
    // over the final path and syncs the folder, so that a power cut leaves
    // either the old file or the complete new one. On any error the temporary
    // file is removed and false returned.
    bool commit();
    // Removes the temporary file; the final path is not touched.
    void discard();

    // The system's reason for the first failure (strerror text), or empty.
    const std::string& error() const { return error_; }

private:
    static long writeToFile(void* cookie, const char* data, unsigned long size);
    void fail(int errorNumber);

    std::string finalPath_;
    std::string tempPath_;
    std::FILE* stream_ = nullptr;
    int fd_ = -1;
    bool pending_ = false;  // a temporary file exists that is ours to remove
    std::string error_;
    ContentHasher hasher_;
};

// Removes the temporary files of writers that can no longer finish them,
// anywhere below `root` (symbolic links are not followed): those of this host
// whose process is gone, and those of other hosts older than `foreignAgeHours`.
// Only names of the pattern above are touched. Returns how many were removed.
int removeStaleTemporaryFiles(const std::string& root, double foreignAgeHours = 24.0);

}  // namespace vistrel
