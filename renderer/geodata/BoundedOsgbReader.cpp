#include "geodata/BoundedOsgbReader.h"

#include <osg/Geometry>
#include <osg/Image>
#include <osgDB/DataTypes>
#include <osgDB/FileNameUtils>
#include <osgDB/InputStream>
#include <osgDB/ObjectWrapper>
#include <osgDB/Registry>
#include <osgDB/Serializer>
#include <osgDB/StreamOperator>

#include <cstdint>
#include <cstring>
#include <istream>
#include <mutex>
#include <stdexcept>
#include <streambuf>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vistrel {

namespace {

constexpr std::uint32_t kMaxTextureSide = 16384;
// Objects inside objects; a tile nests a few levels of nodes, each with
// its geometry, arrays and state below.
constexpr int kMaxObjectDepth = 128;

struct TileEndsEarly : std::runtime_error {
    TileEndsEarly() : std::runtime_error("the data ends before the reader is done") {}
};

struct Rejected : std::runtime_error {
    explicit Rejected(const std::string& why) : std::runtime_error(why) {}
};

// A read-only buffer over the tile's bytes. The reader below reads through
// it directly; the stream OSG sees over it is only asked for its state.
class BoundedBuffer : public std::streambuf {
public:
    BoundedBuffer(const char* data, std::size_t size)
    {
        char* begin = const_cast<char*>(data);
        setg(begin, begin, begin + size);
    }

    std::size_t position() const { return static_cast<std::size_t>(gptr() - eback()); }
    std::size_t size() const { return static_cast<std::size_t>(egptr() - eback()); }
    std::size_t remaining() const { return static_cast<std::size_t>(egptr() - gptr()); }
    const char* current() const { return gptr(); }

    void take(void* out, std::size_t count)
    {
        if (count > remaining()) {
            throw TileEndsEarly();
        }
        if (count > 0) {
            std::memcpy(out, gptr(), count);
        }
        setg(eback(), gptr() + count, egptr());
    }

    void skipTo(std::size_t target) { setg(eback(), eback() + target, egptr()); }

protected:
    int_type underflow() override { throw TileEndsEarly(); }
};

void swapInPlace(void* value, std::size_t size)
{
    auto* bytes = static_cast<unsigned char*>(value);
    for (std::size_t i = 0; i < size / 2; ++i) {
        std::swap(bytes[i], bytes[size - 1 - i]);
    }
}

// The classes a model tile is made of: nodes, geometry and its arrays,
// primitive sets and buffers, and plain state. Everything else a damaged
// class name could name (other node kits, shaders, uniforms, callbacks)
// is refused before OSG looks it up.
bool isTileClass(const std::string& name)
{
    static const std::unordered_set<std::string> classes = [] {
        std::unordered_set<std::string> set{
            "osg::Object", "osg::Node", "osg::Group", "osg::Geode", "osg::LOD", "osg::PagedLOD",
            "osg::Transform", "osg::MatrixTransform", "osg::PositionAttitudeTransform", "osg::Switch",
            "osg::Drawable", "osg::Geometry", "osg::BufferData", "osg::Array", "osg::PrimitiveSet",
            "osg::DrawArrays", "osg::DrawArrayLengths", "osg::DrawElements", "osg::DrawElementsUByte",
            "osg::DrawElementsUShort", "osg::DrawElementsUInt", "osg::BufferObject", "osg::VertexBufferObject",
            "osg::ElementBufferObject", "osg::StateSet", "osg::StateAttribute", "osg::Material", "osg::Texture",
            "osg::Texture2D", "osg::Image", "osg::TexEnv", "osg::TexMat", "osg::CullFace", "osg::FrontFace",
            "osg::BlendFunc", "osg::AlphaFunc", "osg::Depth", "osg::PolygonMode", "osg::PolygonOffset",
            "osg::ShadeModel", "osg::LightModel", "osg::LineWidth"};
        for (const char* element : {"Byte", "UByte", "Short", "UShort", "Int", "UInt", "Float", "Double",
                                    "Vec2b", "Vec3b", "Vec4b", "Vec2ub", "Vec3ub", "Vec4ub", "Vec2s", "Vec3s",
                                    "Vec4s", "Vec2us", "Vec3us", "Vec4us", "Vec2", "Vec3", "Vec4", "Vec2d",
                                    "Vec3d", "Vec4d", "Vec2i", "Vec3i", "Vec4i", "Vec2ui", "Vec3ui", "Vec4ui"}) {
            set.insert(std::string("osg::") + element + "Array");
        }
        return set;
    }();
    return classes.count(name) > 0;
}

// Bytes each element of an array of the given osgDB::ID_*_ARRAY type
// takes in the stream; 1 for a type the reader does not know.
std::int64_t arrayElementBytes(int type)
{
    static const std::int64_t bytes[] = {1, 1, 2, 2, 4, 4, 4, 8, 2, 3, 4, 4, 4, 6, 8, 8, 12,
                                         16, 16, 24, 32, 2, 3, 4, 6, 8, 8, 12, 16, 8, 12, 16, 8, 8};
    return type >= 0 && type < int(sizeof bytes / sizeof bytes[0]) ? bytes[type] : 1;
}

// Reads the binary stream as OSG's own binary reader does, and follows the
// reads that size an allocation: the element count after an array's type,
// the data and mipmap sizes of an inline image, a text's length, a
// list's count (through the guards below). None may exceed the bytes left.
// It also follows the class and id of every object, so that only tile
// classes are read and an image id never names an object of another kind.
class BoundedInputIterator : public osgDB::InputIterator {
public:
    BoundedInputIterator(BoundedBuffer& buffer, std::istream& stream, bool swapped) : buffer_(buffer)
    {
        setStream(&stream);
        setByteSwap(swapped ? 1 : 0);
    }

    bool isBinary() const override { return true; }

    void readBool(bool& b) override
    {
        char c = 0;
        plain(&c, 1);
        b = c != 0;
    }
    void readChar(char& c) override { plain(&c, 1); }
    void readSChar(signed char& c) override { plain(&c, 1); }
    void readUChar(unsigned char& c) override { plain(&c, 1); }
    void readShort(short& s) override { plain(&s, sizeof s); }
    void readUShort(unsigned short& s) override { plain(&s, sizeof s); }
    void readInt(int& i) override
    {
        const Step previous = take();
        number(&i, 4);
        afterNumber(previous, i);
    }
    void readUInt(unsigned int& i) override
    {
        const Step previous = take();
        number(&i, 4);
        afterNumber(previous, i);
    }
    void readLong(long& l) override
    {
        std::int32_t value = 0;
        plain(&value, 4);
        l = value;
    }
    void readULong(unsigned long& l) override
    {
        std::uint32_t value = 0;
        plain(&value, 4);
        l = value;
    }
    void readFloat(float& f) override { plain(&f, 4); }
    void readDouble(double& d) override { plain(&d, 8); }

    void readString(std::string& s) override
    {
        const Step previous = take();
        std::int32_t size = 0;
        number(&size, 4);
        need(size, 1, "a text");
        s.assign(buffer_.current(), static_cast<std::size_t>(size));
        buffer_.skipTo(buffer_.position() + static_cast<std::size_t>(size));
        if (previous == Step::ImageFileName) {
            imageName_ = s;
            step_ = Step::ImageNamed;
        } else {
            lastString_ = s;
            step_ = Step::AfterString;
        }
    }
    void readWrappedString(std::string& s) override { readString(s); }
    void readStream(std::istream& (*)(std::istream&)) override {}
    void readBase(std::ios_base& (*)(std::ios_base&)) override {}

    void readGLenum(osgDB::ObjectGLenum& value) override
    {
        GLenum e = 0;
        plain(&e, 4);
        value.set(e);
    }

    void readProperty(osgDB::ObjectProperty& prop) override
    {
        const Step previous = take();
        int value = 0;
        if (prop._mapProperty) {
            number(&value, 4);
        }
        prop.set(value);
        const std::string& name = prop._name;
        if (name == "UniqueID") {
            // An object starts with its class name, its opening bracket and
            // its id; the wrapper is looked up only after this. An image
            // read as a texture's has its id without the bracket.
            if (previous == Step::ObjectOpened && !isTileClass(lastString_)) {
                throw Rejected("holds an object of class \"" + lastString_.substr(0, 64) + "\" that tiles do not use");
            }
            // OSG reads an object inside another by recursion; every object
            // ends with the skip to its end below.
            if (previous == Step::ObjectOpened && ++depth_ > kMaxObjectDepth) {
                throw Rejected("objects nested deeper than " + std::to_string(kMaxObjectDepth));
            }
            step_ = previous == Step::ObjectOpened ? Step::ObjectId : Step::ImageId;
        } else if (name == "ArrayType" && prop._mapProperty) {
            countBytes_ = arrayElementBytes(value);
            step_ = Step::ArrayCount;
        } else if (name == "Binding") {
            step_ = Step::Binding;
        } else if (name == "FileName") {
            step_ = Step::ImageFileName;
        } else if (name == "WriteHint" && previous == Step::ImageNamed) {
            step_ = Step::ImageHint;
        }
    }

    void readMark(osgDB::ObjectMark& mark) override
    {
        const Step previous = take();
        if (mark._name == "{") {
            if (getSupportBinaryBrackets()) {
                const std::size_t begin = buffer_.position();
                std::uint64_t size = 0;
                if (getInputStream() && getInputStream()->getFileVersion() > 148) {
                    number(&size, 8);
                } else {
                    std::int32_t small = 0;
                    number(&small, 4);
                    size = small < 0 ? UINT64_MAX : std::uint64_t(small);
                }
                blocks_.push_back({begin, size});
            }
            if (previous == Step::AfterString) {
                step_ = Step::ObjectOpened;
            }
        } else if (mark._name == "}" && getSupportBinaryBrackets() && !blocks_.empty()) {
            blocks_.pop_back();
        }
    }

    void readCharArray(char* s, unsigned int size) override
    {
        const Step previous = take();
        plain(s, size);
        if (previous == Step::ImageData) {
            step_ = Step::ImageLevels;
        } else if (previous == Step::ImageFile) {
            const std::string problem =
                checkEmbeddedImage(osgDB::getLowerCaseFileExtension(imageName_), s, size);
            if (!problem.empty()) {
                throw Rejected(problem);
            }
        }
    }

    // Skips what is left of an object the reader could not use. An object
    // ends after what was read of it and within the data.
    void advanceToCurrentEndBracket() override
    {
        take();
        depth_ = depth_ > 0 ? depth_ - 1 : 0;
        if (!getSupportBinaryBrackets() || blocks_.empty()) {
            return;
        }
        const Block block = blocks_.back();
        blocks_.pop_back();
        if (block.size > buffer_.size() - block.begin || block.begin + block.size < buffer_.position()) {
            throw Rejected("an object whose size does not match its data");
        }
        buffer_.skipTo(block.begin + static_cast<std::size_t>(block.size));
    }

    // For a list about to be read: its count, the next number in the
    // stream, times the bytes each element takes, must fit in what is left.
    void checkNextCount(std::int64_t bytesEach)
    {
        std::uint32_t count = 0;
        if (buffer_.remaining() < 4) {
            throw TileEndsEarly();
        }
        std::memcpy(&count, buffer_.current(), 4);
        if (getByteSwap()) {
            swapInPlace(&count, 4);
        }
        need(count, bytesEach, "a list");
    }

    // For an enumeration about to be read: the next number must be one of
    // its values.
    void checkNextEnum(const osgDB::IntLookup& lookup, const std::string& name)
    {
        std::int32_t value = 0;
        if (buffer_.remaining() < 4) {
            throw TileEndsEarly();
        }
        std::memcpy(&value, buffer_.current(), 4);
        if (getByteSwap()) {
            swapInPlace(&value, 4);
        }
        if (!lookup.getValueToString().count(value)) {
            throw Rejected("a value of " + name + " that does not exist");
        }
    }

private:
    // Where the stream stands among the reads that size an allocation.
    enum class Step {
        None,
        AfterString,
        ObjectOpened,
        ObjectId,
        ImageId,
        Binding,
        ArrayCount,
        ImageFileName,
        ImageNamed,
        ImageHint,
        ImageDecision,
        ImageFields,
        ImageDataSize,
        ImageData,
        ImageFile,
        ImageLevels
    };

    struct Block {
        std::size_t begin;
        std::uint64_t size;
    };

    Step take()
    {
        const Step step = step_;
        step_ = Step::None;
        return step;
    }

    void plain(void* value, std::size_t size)
    {
        take();
        number(value, size);
    }

    void number(void* value, std::size_t size)
    {
        buffer_.take(value, size);
        if (getByteSwap() && size > 1) {
            swapInPlace(value, size);
        }
    }

    // The layout OSG's reader writes for an image, after its file name
    // and write hint: the decision, then for inline data nine fields, the
    // data size, the data and the mipmap level count; for an inline file
    // its size and bytes.
    void afterNumber(Step previous, std::int64_t value)
    {
        switch (previous) {
        case Step::ObjectId:
            objectIsImage_.emplace(value, lastString_ == "osg::Image");
            break;
        case Step::ImageId: {
            // OSG takes an image id it has seen for an image without
            // checking what it names.
            const auto known = objectIsImage_.emplace(value, true).first;
            if (!known->second) {
                throw Rejected("an image id that names another object");
            }
            break;
        }
        case Step::ArrayCount:
            need(value, countBytes_, "an array");
            break;
        case Step::Binding:
            // Stored into an enumeration unchecked by the older layout.
            if (value < osg::Array::BIND_UNDEFINED || value > osg::Array::BIND_PER_VERTEX) {
                throw Rejected("an array binding that does not exist");
            }
            break;
        case Step::ImageHint:
            if (value < osg::Image::NO_PREFERENCE || value > osg::Image::EXTERNAL_FILE) {
                throw Rejected("an image write hint that does not exist");
            }
            step_ = Step::ImageDecision;
            break;
        case Step::ImageDecision:
            imageDecision_ = value;
            if (value == osgDB::IMAGE_INLINE_DATA) {
                imageFields_ = 9;
                step_ = Step::ImageFields;
            } else if (value == osgDB::IMAGE_INLINE_FILE) {
                step_ = Step::ImageDataSize;
            }
            break;
        case Step::ImageFields:
            // The first is the origin, stored into an enumeration unchecked.
            if (imageFields_ == 9 && value != osg::Image::BOTTOM_LEFT && value != osg::Image::TOP_LEFT) {
                throw Rejected("an image origin that does not exist");
            }
            step_ = --imageFields_ > 0 ? Step::ImageFields : Step::ImageDataSize;
            break;
        case Step::ImageDataSize:
            need(value, 1, "an image");
            if (imageDecision_ == osgDB::IMAGE_INLINE_DATA) {
                step_ = value > 0 ? Step::ImageData : Step::ImageLevels;
            } else if (value > 0) {
                step_ = Step::ImageFile;
            }
            break;
        case Step::ImageLevels:
            need(value, 4, "an image's mipmap levels");
            break;
        default:
            break;
        }
    }

    void need(std::int64_t count, std::int64_t bytesEach, const char* what) const
    {
        if (count < 0 || std::uint64_t(count) * std::uint64_t(bytesEach) > buffer_.remaining()) {
            throw Rejected(std::string("declares ") + what + " larger than the rest of the file");
        }
    }

    BoundedBuffer& buffer_;
    std::vector<Block> blocks_;
    Step step_ = Step::None;
    std::string lastString_;
    std::string imageName_;
    std::unordered_map<std::int64_t, bool> objectIsImage_;
    std::int64_t countBytes_ = 1;
    std::int64_t imageDecision_ = -1;
    int imageFields_ = 0;
    int depth_ = 0;
};

// The reader of the parse running on this thread, for the guards below.
thread_local BoundedInputIterator* currentReader = nullptr;

struct CurrentReader {
    explicit CurrentReader(BoundedInputIterator* reader) { currentReader = reader; }
    ~CurrentReader() { currentReader = nullptr; }
};

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
        if (is.isBinary() && currentReader) {
            currentReader->checkNextCount(bytesEach_);
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
        if (is.isBinary() && currentReader && lookup) {
            currentReader->checkNextEnum(*lookup, getName());
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
                throw Rejected("a primitive set that cannot be read");
            }
            list.push_back(set);
        }
        if (size > 0) {
            geometry->setPrimitiveSetList(list);
        }
        return true;
    }
};

// Puts the guards in place of OSG's own serializers of the core classes,
// once per process, before the first parse.
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

std::uint32_t bigEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

std::string checkSize(std::uint32_t width, std::uint32_t height)
{
    if (width > kMaxTextureSide || height > kMaxTextureSide) {
        return "embeds a texture of " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels, more than " + std::to_string(kMaxTextureSide) + " a side";
    }
    return std::string();
}

// The frame size of a JPEG stream; false when no frame header comes before
// the image data.
bool jpegSize(const unsigned char* data, std::size_t size, std::uint32_t& width, std::uint32_t& height)
{
    std::size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) {
            return false;
        }
        const unsigned char marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) {
            return false;
        }
        const std::size_t length = bigEndian(data + at + 2, 2);
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 7 || at + 9 > size) {
                return false;
            }
            height = bigEndian(data + at + 5, 2);
            width = bigEndian(data + at + 7, 2);
            return true;
        }
        if (length < 2) {
            return false;
        }
        at += 2 + length;
    }
    return false;
}

}  // namespace

std::string checkEmbeddedImage(const std::string& extension, const char* data, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (extension == "jpg" || extension == "jpeg") {
        // What is not a JPEG the decoder refuses by itself.
        if (size < 3 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
            return std::string();
        }
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        if (!jpegSize(bytes, size, width, height)) {
            return "embeds a JPEG texture without a frame size";
        }
        return checkSize(width, height);
    }
    if (extension == "png") {
        static const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (size < 8 || std::memcmp(bytes, signature, 8) != 0) {
            return std::string();
        }
        if (size < 24 || std::memcmp(bytes + 12, "IHDR", 4) != 0) {
            return "embeds a PNG texture without a header";
        }
        return checkSize(bigEndian(bytes + 16, 4), bigEndian(bytes + 20, 4));
    }
    if (extension.empty()) {
        // No decoder is chosen for a name without an extension.
        return std::string();
    }
    return "embeds a texture of type \"" + extension.substr(0, 16) + "\" that tiles do not use";
}

osg::ref_ptr<osg::Node> parsePlainOsgb(const std::string& bytes, bool swapped, const osgDB::Options* options,
                                       std::string& reason)
{
    guardReaderWeaknesses();
    if (bytes.size() < 8) {
        reason = "too short for a .osgb header";
        return nullptr;
    }
    // The reader starts after the two magic numbers, as OSG's does.
    BoundedBuffer buffer(bytes.data() + 8, bytes.size() - 8);
    std::istream stream(&buffer);
    osg::ref_ptr<BoundedInputIterator> reader = new BoundedInputIterator(buffer, stream, swapped);
    CurrentReader current(reader.get());
    try {
        osgDB::InputStream is(options);
        if (is.start(reader.get()) != osgDB::InputStream::READ_SCENE) {
            reason = is.getException() ? is.getException()->getError() : "holds no scene";
            return nullptr;
        }
        is.decompress();
        osg::ref_ptr<osg::Node> node;
        if (!is.getException()) {
            node = is.readObjectOfType<osg::Node>();
        }
        if (is.getException()) {
            reason = is.getException()->getError();
            return nullptr;
        }
        if (!node) {
            reason = "the reader could not read it";
        }
        return node;
    } catch (const std::exception& e) {
        reason = e.what();
        return nullptr;
    }
}

}  // namespace vistrel
