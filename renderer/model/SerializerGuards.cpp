#include "model/SerializerGuards.h"

#include <osg/Geometry>
#include <osgDB/ObjectWrapper>
#include <osgDB/Registry>

#include <mutex>

namespace vistrel {

namespace {

// The checks of the parse running on this thread, for the guards below.
thread_local const SerializerChecks* currentChecks = nullptr;

// A serializer put in place of one of OSG's, reading in the same versions.
class GuardSerializer : public osgDB::BaseSerializer {
public:
    explicit GuardSerializer(osgDB::BaseSerializer* original)
        : osgDB::BaseSerializer(original->getUsage()), original_(original)
    {
        // The version range is protected; a member pointer named through
        // this class reaches it.
        int osgDB::BaseSerializer::*first = &GuardSerializer::_firstVersion;
        int osgDB::BaseSerializer::*last = &GuardSerializer::_lastVersion;
        _firstVersion = original->*first;
        _lastVersion = original->*last;
    }

    bool write(osgDB::OutputStream& os, const osg::Object& object) override { return original_->write(os, object); }
    const std::string& getName() const override { return original_->getName(); }
    bool set(osg::Object& object, void* value) override { return original_->set(object, value); }
    osgDB::IntLookup* getIntLookup() override { return original_->getIntLookup(); }
    bool get(const osg::Object& object, void* value) override { return original_->get(object, value); }

protected:
    osg::ref_ptr<osgDB::BaseSerializer> original_;
};

// OSG's vector serializers reserve the count they read before reading the
// elements; the count must fit in what is left first.
class GuardedVector : public GuardSerializer {
public:
    explicit GuardedVector(osgDB::VectorBaseSerializer* original)
        : GuardSerializer(original), bytesEach_(streamBytes(*original))
    {
    }

    bool read(osgDB::InputStream& is, osg::Object& object) override
    {
        if (is.isBinary() && currentChecks) {
            currentChecks->nextCount(bytesEach_);
        }
        return original_->read(is, object);
    }

private:
    // Bytes a plain element takes in the stream; at least 1 for others.
    static std::int64_t streamBytes(const osgDB::VectorBaseSerializer& vector)
    {
        using S = osgDB::BaseSerializer;
        const S::Type type = vector.getElementType();
        const bool plainValue = (type >= S::RW_BOOL && type <= S::RW_PLANE) || type == S::RW_GLENUM ||
                                (type >= S::RW_VEC2B && type <= S::RW_BOUNDINGSPHERED);
        return plainValue && vector.getElementSize() > 0 ? vector.getElementSize() : 1;
    }

    std::int64_t bytesEach_;
};

// OSG's enumeration serializers store whatever number they read into the
// enumeration; only its named values may pass.
class GuardedEnum : public GuardSerializer {
public:
    using GuardSerializer::GuardSerializer;

    bool read(osgDB::InputStream& is, osg::Object& object) override
    {
        const osgDB::IntLookup* lookup = original_->getIntLookup();
        if (is.isBinary() && currentChecks && lookup) {
            currentChecks->nextEnum(*lookup, getName());
        }
        return original_->read(is, object);
    }
};

// The reader hands a primitive set it could not read (an unknown type, a
// damaged class name or object id) to the geometry as a null pointer, which
// the geometry dereferences at once. This reads the same binary list but
// ends the read instead.
class GuardedPrimitiveSets : public GuardSerializer {
public:
    using GuardSerializer::GuardSerializer;

    bool read(osgDB::InputStream& is, osg::Object& object) override
    {
        auto* geometry = dynamic_cast<osg::Geometry*>(&object);
        if (!is.isBinary() || !geometry) {
            return original_->read(is, object);
        }
        unsigned int size = 0;
        is >> size;
        osg::Geometry::PrimitiveSetList list;
        for (unsigned int i = 0; i < size; ++i) {
            osg::ref_ptr<osg::PrimitiveSet> set;
            is >> set;
            if (!set) {
                throw TileRejected("a primitive set that cannot be read");
            }
            list.push_back(set);
        }
        if (size > 0) {
            geometry->setPrimitiveSetList(list);
        }
        return true;
    }
};

}  // namespace

ScopedSerializerChecks::ScopedSerializerChecks(const SerializerChecks& checks)
{
    currentChecks = &checks;
}

ScopedSerializerChecks::~ScopedSerializerChecks()
{
    currentChecks = nullptr;
}

void guardReaderWeaknesses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        osgDB::ObjectWrapperManager* manager = osgDB::Registry::instance()->getObjectWrapperManager();
        // Loads the core classes' wrappers.
        manager->findWrapper("osg::Geometry");
        for (const auto& entry : manager->getWrapperMap()) {
            auto& serializers = entry.second->getSerializerList();
            const auto& types = entry.second->getTypeList();
            for (std::size_t i = 0; i < serializers.size(); ++i) {
                osg::ref_ptr<osgDB::BaseSerializer>& serializer = serializers[i];
                if (!serializer.valid()) {
                    continue;
                }
                if (entry.first == "osg::Geometry" && serializer->getName() == "PrimitiveSetList") {
                    // Reads element by element, reserving nothing.
                    serializer = new GuardedPrimitiveSets(serializer.get());
                } else if (i < types.size() && types[i] == osgDB::BaseSerializer::RW_ENUM &&
                           serializer->getIntLookup()) {
                    serializer = new GuardedEnum(serializer.get());
                } else if (auto* vector = dynamic_cast<osgDB::VectorBaseSerializer*>(serializer.get())) {
                    serializer = new GuardedVector(vector);
                }
            }
        }
    });
}

}  // namespace vistrel
