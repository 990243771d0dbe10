#pragma once

#include <cstddef>
#include <string>

namespace vistrel {

// What the read-file callback met while the scene was paged in this run.
struct TileReadCounts {
    std::size_t missing = 0;  // files asked for that were not there
    std::size_t refused = 0;  // files rejected as damaged
    std::size_t repeatRequests = 0;  // later requests for either, answered from memory
    std::size_t diskLookups = 0;  // requests that went to the disk
    std::size_t repeatedNotices = 0;  // library notices held back as repeats
    std::size_t unusableBounds = 0;  // root tiles skipped for a bound that cannot place them
};

TileReadCounts tileReadCounts();

// The memory behind the counts, shared by the read-file callback and the
// library's notice handler; safe to call from the pager's threads.
// A request is named by the file name asked for together with the folders
// it is looked up in (`searchKey`), since the same name may resolve
// differently elsewhere.
namespace tileledger {

// True when this request was answered as missing or refused before; the
// repeat is counted.
bool answeredBefore(const std::string& searchKey);
// Records the answer for a request; true the first time the file is met.
bool rememberMissing(const std::string& searchKey, const std::string& file);
// `path` is the file `file` resolved to; the first time it is met counts.
bool rememberRefused(const std::string& searchKey, const std::string& file, const std::string& path);
// A root tile skipped for its bound; true the first time `path` is met.
bool rememberUnusableBound(const std::string& path);
void countDiskLookup();
void countRepeatedNotice();
// True when `name` (a file asked for or the path it resolved to) was
// answered as missing or refused.
bool isKnownBad(const std::string& name);

}  // namespace tileledger

}  // namespace vistrel
