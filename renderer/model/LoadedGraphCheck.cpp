#include "model/LoadedGraphCheck.h"

#include <osg/Geometry>
#include <osg/Image>
#include <osg/MatrixTransform>
#include <osg/StateSet>
#include <osg/Texture>

#include <malloc.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace vistrel {

namespace {

constexpr std::size_t kMaxDepth = 256;

bool isFinite(const osg::Array& array)
{
    const GLenum type = array.getDataType();
    if (type != GL_FLOAT && type != GL_DOUBLE) {
        return true;
    }
    const std::size_t bytes = array.getTotalDataSize();
    if (type == GL_FLOAT) {
        const auto* values = static_cast<const float*>(array.getDataPointer());
        for (std::size_t i = 0; values && i < bytes / sizeof(float); ++i) {
            if (!std::isfinite(values[i])) {
                return false;
            }
        }
    } else {
        const auto* values = static_cast<const double*>(array.getDataPointer());
        for (std::size_t i = 0; values && i < bytes / sizeof(double); ++i) {
            if (!std::isfinite(values[i])) {
                return false;
            }
        }
    }
    return true;
}

// Vertices the primitive sets use (largest index + 1); false on a set this
// reader does not check or a negative range.
bool verticesUsed(const osg::Geometry& geometry, std::uint64_t& used, std::string& problem)
{
    used = 0;
    for (unsigned int i = 0; i < geometry.getNumPrimitiveSets(); ++i) {
        const osg::PrimitiveSet* set = geometry.getPrimitiveSet(i);
        if (!set) {
            continue;
        }
        switch (set->getType()) {
        case osg::PrimitiveSet::DrawArraysPrimitiveType: {
            const auto* arrays = static_cast<const osg::DrawArrays*>(set);
            if (arrays->getFirst() < 0 || arrays->getCount() < 0) {
                problem = "a negative vertex range";
                return false;
            }
            if (arrays->getCount() > 0) {
                used = std::max<std::uint64_t>(used, std::uint64_t(arrays->getFirst()) + arrays->getCount());
            }
            break;
        }
        case osg::PrimitiveSet::DrawArrayLengthsPrimitiveType: {
            const auto* lengths = static_cast<const osg::DrawArrayLengths*>(set);
            if (lengths->getFirst() < 0) {
                problem = "a negative vertex range";
                return false;
            }
            std::uint64_t end = std::uint64_t(lengths->getFirst());
            for (const GLsizei length : *lengths) {
                if (length < 0) {
                    problem = "a negative vertex range";
                    return false;
                }
                end += std::uint64_t(length);
            }
            used = std::max(used, end);
            break;
        }
        case osg::PrimitiveSet::DrawElementsUBytePrimitiveType:
        case osg::PrimitiveSet::DrawElementsUShortPrimitiveType:
        case osg::PrimitiveSet::DrawElementsUIntPrimitiveType: {
            const auto* elements = static_cast<const osg::DrawElements*>(set);
            const unsigned int count = elements->getNumIndices();
            for (unsigned int k = 0; k < count; ++k) {
                used = std::max<std::uint64_t>(used, std::uint64_t(elements->index(k)) + 1);
            }
            break;
        }
        default: problem = std::string("an unsupported primitive set ") + set->className(); return false;
        }
    }
    return true;
}

// Elements a per-vertex style array needs under its binding.
bool arrayCovers(const osg::Array* array, std::uint64_t vertices, std::uint64_t primitiveSets)
{
    if (!array) {
        return true;
    }
    const std::uint64_t have = array->getNumElements();
    switch (array->getBinding()) {
    case osg::Array::BIND_OFF: return true;
    case osg::Array::BIND_OVERALL: return have >= 1;
    case osg::Array::BIND_PER_PRIMITIVE_SET: return have >= primitiveSets;
    default: return have >= vertices;
    }
}

std::string checkGeometry(const osg::Geometry& geometry)
{
    std::uint64_t used = 0;
    std::string problem;
    if (!verticesUsed(geometry, used, problem)) {
        return problem;
    }
    const osg::Array* vertices = geometry.getVertexArray();
    const std::uint64_t have = vertices ? vertices->getNumElements() : 0;
    if (used > have) {
        return "an index beyond its " + std::to_string(have) + " vertices";
    }
    if (vertices) {
        if (vertices->getDataType() != GL_FLOAT && vertices->getDataType() != GL_DOUBLE) {
            return "vertices that are not floating-point numbers";
        }
        if (!isFinite(*vertices)) {
            return "a vertex that is not a finite number";
        }
    }
    const std::uint64_t sets = geometry.getNumPrimitiveSets();
    bool covered = arrayCovers(geometry.getNormalArray(), used, sets) &&
                   arrayCovers(geometry.getColorArray(), used, sets) &&
                   arrayCovers(geometry.getSecondaryColorArray(), used, sets) &&
                   arrayCovers(geometry.getFogCoordArray(), used, sets);
    for (const auto& array : geometry.getTexCoordArrayList()) {
        covered = covered && arrayCovers(array.get(), used, sets);
    }
    for (const auto& array : geometry.getVertexAttribArrayList()) {
        covered = covered && arrayCovers(array.get(), used, sets);
    }
    return covered ? std::string() : "a per-vertex array shorter than its vertices";
}

// The image's pixels must lie inside the memory block that holds them.
std::string checkImage(const osg::Image& image)
{
    if (!image.data()) {
        return std::string();
    }
    if (image.s() <= 0 || image.t() <= 0 || image.r() <= 0) {
        return "a texture image without size";
    }
    const std::uint64_t needed = image.getTotalSizeInBytesIncludingMipmaps();
    for (const unsigned int offset : image.getMipmapLevels()) {
        if (offset >= needed) {
            return "a texture level outside its image";
        }
    }
    const osg::Image::AllocationMode mode = image.getAllocationMode();
    if (mode == osg::Image::USE_NEW_DELETE || mode == osg::Image::USE_MALLOC_FREE) {
        const std::uint64_t block = malloc_usable_size(const_cast<unsigned char*>(image.data()));
        if (needed > block) {
            return "a texture image larger than its data";
        }
    }
    return std::string();
}

std::string checkStateSet(const osg::StateSet* stateSet, std::unordered_set<const osg::Object*>& seen)
{
    if (!stateSet || !seen.insert(stateSet).second) {
        return std::string();
    }
    for (const auto& attributes : stateSet->getTextureAttributeList()) {
        for (const auto& entry : attributes) {
            const auto* texture = dynamic_cast<const osg::Texture*>(entry.second.first.get());
            for (unsigned int i = 0; texture && i < texture->getNumImages(); ++i) {
                const osg::Image* image = texture->getImage(i);
                if (image && seen.insert(image).second) {
                    const std::string problem = checkImage(*image);
                    if (!problem.empty()) {
                        return problem;
                    }
                }
            }
        }
    }
    return std::string();
}

bool finiteMatrix(const osg::Matrixd& matrix)
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            if (!std::isfinite(matrix(r, c))) {
                return false;
            }
        }
    }
    return true;
}

std::string checkNode(const osg::Node& node, std::unordered_set<const osg::Object*>& seen)
{
    if (const osg::Drawable* drawable = node.asDrawable()) {
        const osg::Geometry* geometry = drawable->asGeometry();
        if (!geometry || std::strcmp(drawable->className(), "Geometry") != 0) {
            return std::string("an unsupported drawable ") + drawable->className();
        }
        const std::string problem = checkGeometry(*geometry);
        if (!problem.empty()) {
            return problem;
        }
    }
    if (const auto* transform = dynamic_cast<const osg::MatrixTransform*>(&node)) {
        if (!finiteMatrix(transform->getMatrix())) {
            return "a transform that is not finite";
        }
    }
    return checkStateSet(node.getStateSet(), seen);
}

// The first problem of the graph; empty when there is none.
std::string graphProblem(osg::Node& root)
{
    // Depth first with an explicit stack: a graph is never trusted with the
    // call stack. Shared subgraphs are checked once; a node that is its own
    // ancestor is a cycle.
    struct Entry {
        const osg::Node* node;
        unsigned int nextChild;
    };
    std::vector<Entry> stack{{&root, 0}};
    std::unordered_set<const osg::Node*> onPath{&root};
    std::unordered_set<const osg::Node*> done;
    std::unordered_set<const osg::Object*> seen;
    std::string problem = checkNode(root, seen);
    while (problem.empty() && !stack.empty()) {
        Entry& top = stack.back();
        const osg::Group* group = top.node->asGroup();
        if (!group || top.nextChild >= group->getNumChildren()) {
            onPath.erase(top.node);
            done.insert(top.node);
            stack.pop_back();
            continue;
        }
        const osg::Node* child = group->getChild(top.nextChild++);
        if (!child || done.count(child)) {
            continue;
        }
        if (onPath.count(child)) {
            return "a node that contains itself";
        }
        if (stack.size() >= kMaxDepth) {
            return "nodes nested deeper than " + std::to_string(kMaxDepth);
        }
        problem = checkNode(*child, seen);
        stack.push_back({child, 0});
        onPath.insert(child);
    }
    return problem;
}

}  // namespace

bool checkLoadedGraph(osg::Node& root, std::string& reason)
{
    reason = graphProblem(root);
    return reason.empty();
}

}  // namespace vistrel
