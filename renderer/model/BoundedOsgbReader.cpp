#include "model/BoundedOsgbReader.h"

#include "core/ByteOrder.h"

#include "model/SerializerGuards.h"
#include "model/TextureHeaderCheck.h"

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

// Objects inside objects; a tile nests a few levels of nodes, each with
// its geometry, arrays and state below.
constexpr int kMaxObjectDepth = 128;

struct TileEndsEarly : std::runtime_error {
    TileEndsEarly() : std::runtime_error("the data ends before the reader is done") {}
};

using Rejected = TileRejected;

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

// The classes a model tile is made of: nodes, geometry and its arrays,
// primitive sets and buffers, and plain state. Everything else a damaged
// class name could name (other node kits, shaders, uniforms, callbacks)
// is refused before OSG looks it up.
bool isTileClass(const std::string& name)
{
    static const std::unordered_set<std::string> classes = [] {
        std::unordered_set<std::string> set{"osg::Object",
                                            "osg::Node",
                                            "osg::Group",
                                            "osg::Geode",
                                            "osg::LOD",
                                            "osg::PagedLOD",
                                            "osg::Transform",
                                            "osg::MatrixTransform",
                                            "osg::PositionAttitudeTransform",
                                            "osg::Switch",
                                            "osg::Drawable",
                                            "osg::Geometry",
                                            "osg::BufferData",
                                            "osg::Array",
                                            "osg::PrimitiveSet",
                                            "osg::DrawArrays",
                                            "osg::DrawArrayLengths",
                                            "osg::DrawElements",
                                            "osg::DrawElementsUByte",
                                            "osg::DrawElementsUShort",
                                            "osg::DrawElementsUInt",
                                            "osg::BufferObject",
                                            "osg::VertexBufferObject",
                                            "osg::ElementBufferObject",
                                            "osg::StateSet",
                                            "osg::StateAttribute",
                                            "osg::Material",
                                            "osg::Texture",
                                            "osg::Texture2D",
                                            "osg::Image",
                                            "osg::TexEnv",
                                            "osg::TexMat",
                                            "osg::CullFace",
                                            "osg::FrontFace",
                                            "osg::BlendFunc",
                                            "osg::AlphaFunc",
                                            "osg::Depth",
                                            "osg::PolygonMode",
                                            "osg::PolygonOffset",
                                            "osg::ShadeModel",
                                            "osg::LightModel",
                                            "osg::LineWidth"};
        for (const char* element :
             {"Byte",   "UByte",  "Short",  "UShort", "Int",   "UInt",  "Float",  "Double", "Vec2b",  "Vec3b", "Vec4b",
              "Vec2ub", "Vec3ub", "Vec4ub", "Vec2s",  "Vec3s", "Vec4s", "Vec2us", "Vec3us", "Vec4us", "Vec2",  "Vec3",
              "Vec4",   "Vec2d",  "Vec3d",  "Vec4d",  "Vec2i", "Vec3i", "Vec4i",  "Vec2ui", "Vec3ui", "Vec4ui"}) {
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
    static const std::int64_t bytes[] = {1,  1,  2,  2,  4, 4, 4, 8, 2, 3, 4,  4,  4, 6,  8,  8, 12,
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
            std::string problem;
            if (!checkEmbeddedImage(osgDB::getLowerCaseFileExtension(imageName_), s, size, problem)) {
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
            reverseBytes(&count, 4);
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
            reverseBytes(&value, 4);
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
            reverseBytes(value, size);
        }
    }

    // The layout OSG's reader writes for an image, after its file name
    // and write hint: the decision, then for inline data nine fields, the
    // data size, the data and the mipmap level count; for an inline file
    // its size and bytes.
    void afterNumber(Step previous, std::int64_t value)
    {
        switch (previous) {
        case Step::ObjectId: objectIsImage_.emplace(value, lastString_ == "osg::Image"); break;
        case Step::ImageId: {
            // OSG takes an image id it has seen for an image without
            // checking what it names.
            const auto known = objectIsImage_.emplace(value, true).first;
            if (!known->second) {
                throw Rejected("an image id that names another object");
            }
            break;
        }
        case Step::ArrayCount: need(value, countBytes_, "an array"); break;
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
        case Step::ImageLevels: need(value, 4, "an image's mipmap levels"); break;
        default: break;
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

}  // namespace

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
    const SerializerChecks checks{
        [&reader](std::int64_t bytesEach) { reader->checkNextCount(bytesEach); },
        [&reader](const osgDB::IntLookup& lookup, const std::string& name) { reader->checkNextEnum(lookup, name); }};
    ScopedSerializerChecks current(checks);
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
