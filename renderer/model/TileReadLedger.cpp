#include "model/TileReadLedger.h"

#include <mutex>
#include <unordered_set>

namespace vistrel {

namespace {

struct Ledger {
    std::mutex mutex;
    std::unordered_set<std::string> badRequests;  // search keys
    std::unordered_set<std::string> badFiles;  // file names and resolved paths
    std::unordered_set<std::string> counted;  // the names counted (and logged)
    std::unordered_set<std::string> unusableBounds;  // root tiles skipped for their bounds
    TileReadCounts counts;
};

Ledger& ledger()
{
    static Ledger* shared = new Ledger;  // the pager may still ask during exit
    return *shared;
}

// Records a bad request; true when `counted` (the name the count goes by)
// is met for the first time.
bool remember(const std::string& searchKey, const std::string& file, const std::string& counted,
              std::size_t TileReadCounts::*counter)
{
    Ledger& l = ledger();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.badRequests.insert(searchKey);
    l.badFiles.insert(file);
    l.badFiles.insert(counted);
    if (!l.counted.insert(counted).second) {
        return false;
    }
    ++(l.counts.*counter);
    return true;
}

}  // namespace

TileReadCounts tileReadCounts()
{
    Ledger& l = ledger();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.counts;
}

namespace tileledger {

bool answeredBefore(const std::string& searchKey)
{
    Ledger& l = ledger();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.badRequests.count(searchKey) == 0) {
        return false;
    }
    ++l.counts.repeatRequests;
    return true;
}

bool rememberMissing(const std::string& searchKey, const std::string& file)
{
    return remember(searchKey, file, file, &TileReadCounts::missing);
}

bool rememberRefused(const std::string& searchKey, const std::string& file, const std::string& path)
{
    return remember(searchKey, file, path, &TileReadCounts::refused);
}

bool rememberUnusableBound(const std::string& path)
{
    Ledger& l = ledger();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (!l.unusableBounds.insert(path).second) {
        return false;
    }
    ++l.counts.unusableBounds;
    return true;
}

void countDiskLookup()
{
    Ledger& l = ledger();
    std::lock_guard<std::mutex> lock(l.mutex);
    ++l.counts.diskLookups;
}

void countRepeatedNotice()
{
    Ledger& l = ledger();
    std::lock_guard<std::mutex> lock(l.mutex);
    ++l.counts.repeatedNotices;
}

bool isKnownBad(const std::string& name)
{
    Ledger& l = ledger();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.badFiles.count(name) > 0;
}

}  // namespace tileledger

}  // namespace vistrel
