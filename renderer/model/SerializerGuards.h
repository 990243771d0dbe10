#pragma once

// Guards put in place of OpenSceneGraph's own serializers where they trust
// the data they read: vector serializers reserve the count they read,
// enumeration serializers store any number, and a primitive set that cannot
// be read reaches the geometry as a null pointer. The guards ask the reader
// of the parse running on the same thread before OSG acts on a value.

#include <osgDB/Serializer>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace vistrel {

// Ends the read of a tile whose bytes ask for what a tile may not hold.
struct TileRejected : std::runtime_error {
    explicit TileRejected(const std::string& why) : std::runtime_error(why) {}
};

// What the guards ask of the reader; each throws to end the read.
struct SerializerChecks {
    // The count read next, of elements taking `bytesEach` bytes, fits in
    // what is left.
    std::function<void(std::int64_t bytesEach)> nextCount;
    // The number read next is one of the enumeration's named values.
    std::function<void(const osgDB::IntLookup& lookup, const std::string& name)> nextEnum;
};

// Makes `checks` the ones of this thread's parse while it lives.
class ScopedSerializerChecks {
public:
    explicit ScopedSerializerChecks(const SerializerChecks& checks);
    ~ScopedSerializerChecks();
    ScopedSerializerChecks(const ScopedSerializerChecks&) = delete;
    ScopedSerializerChecks& operator=(const ScopedSerializerChecks&) = delete;
};

// Puts the guards in place of OSG's own serializers of the core classes,
// once per process, before the first parse.
void guardReaderWeaknesses();

}  // namespace vistrel
