#include "render/OwnSurface.h"

#include "core/FrameArea.h"

#include <osg/ColorMask>
#include <osg/Image>
#include <osg/Program>
#include <osg/Scissor>
#include <osg/Shader>
#include <osg/Texture2D>
#include <osg/Uniform>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace vistrel {

namespace {

constexpr int kMaskCells = 1024;
constexpr int kMaskUnit = 1;

const char* const kVertexShader = R"(#version 120
uniform mat4 eyeToMask;
varying vec2 maskCoord;
void main()
{
    maskCoord = (eyeToMask * (gl_ModelViewMatrix * gl_Vertex)).xy;
    gl_Position = ftransform();
}
)";

const char* const kFragmentShader = R"(#version 120
uniform sampler2D areaMask;
varying vec2 maskCoord;
void main()
{
    if (texture2D(areaMask, maskCoord).r < 0.5) {
        discard;
    }
    gl_FragColor = vec4(1.0);
}
)";

// The mask's grid: the frame's bounds and a cell of margin on every side.
AreaGrid maskGrid(const PolygonFrame& frame)
{
    const double spanX = std::max(frame.maxX - frame.minX, 1e-3);
    const double spanY = std::max(frame.maxY - frame.minY, 1e-3);
    const double cell = std::max(spanX, spanY) / (kMaskCells - 2);
    AreaGrid grid;
    grid.cellX = grid.cellY = cell;
    grid.columns = std::min(kMaskCells, static_cast<int>(std::ceil(spanX / cell)) + 2);
    grid.rows = std::min(kMaskCells, static_cast<int>(std::ceil(spanY / cell)) + 2);
    grid.originX = frame.minX - cell;
    grid.originY = frame.minY - cell;
    return grid;
}

osg::ref_ptr<osg::Texture2D> maskTexture(const PolygonFrame& frame, const AreaGrid& grid)
{
    const std::vector<unsigned char> cells = frameAreaMask(frame, grid);
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(grid.columns, grid.rows, 1, GL_LUMINANCE, GL_UNSIGNED_BYTE);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        image->data()[i] = cells[i] ? 255 : 0;
    }
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(image.get());
    texture->setInternalFormat(GL_LUMINANCE8);
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::NEAREST);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::NEAREST);
    texture->setWrap(osg::Texture::WRAP_S, osg::Texture::CLAMP_TO_BORDER);
    texture->setWrap(osg::Texture::WRAP_T, osg::Texture::CLAMP_TO_BORDER);
    texture->setBorderColor(osg::Vec4d(0.0, 0.0, 0.0, 0.0));
    texture->setResizeNonPowerOfTwoHint(false);
    texture->setUnRefImageDataAfterApply(true);
    return texture;
}

// The window rectangle of the grid's box between lowZ and highZ, a pixel
// wider on every side, within the window; empty (zero size) when it misses.
PixelRect maskWindow(const AreaGrid& grid, const osg::Matrixd& sceneToWindow, double lowZ, double highZ, int width,
                     int height)
{
    const double xs[2] = {grid.originX, grid.originX + grid.columns * grid.cellX};
    const double ys[2] = {grid.originY, grid.originY + grid.rows * grid.cellY};
    const double zs[2] = {lowZ, highZ};
    double left = std::numeric_limits<double>::infinity();
    double bottom = left;
    double right = -left;
    double top = -left;
    for (const double x : xs) {
        for (const double y : ys) {
            for (const double z : zs) {
                const osg::Vec3d corner = osg::Vec3d(x, y, z) * sceneToWindow;
                left = std::min(left, corner.x());
                right = std::max(right, corner.x());
                bottom = std::min(bottom, corner.y());
                top = std::max(top, corner.y());
            }
        }
    }
    const auto clampTo = [](double value, int limit) {
        return static_cast<int>(std::clamp(value, 0.0, static_cast<double>(limit)));
    };
    const int x0 = clampTo(std::floor(left) - 1.0, width);
    const int y0 = clampTo(std::floor(bottom) - 1.0, height);
    const int x1 = clampTo(std::ceil(right) + 1.0, width);
    const int y1 = clampTo(std::ceil(top) + 1.0, height);
    return PixelRect{x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
}

}  // namespace

OwnSurfacePass ownSurfacePass(const PolygonFrame& frame, const osg::Matrixd& view, const osg::Matrixd& sceneToWindow,
                              double lowZ, double highZ, int width, int height)
{
    const AreaGrid grid = maskGrid(frame);
    // Eye coordinates to mask coordinates (0..1 over the grid), composed in
    // double precision: the scene's large offsets cancel before the cast.
    const osg::Matrixd eyeToMask =
        osg::Matrixd::inverse(view) * osg::Matrixd::translate(-grid.originX, -grid.originY, 0.0) *
        osg::Matrixd::scale(1.0 / (grid.columns * grid.cellX), 1.0 / (grid.rows * grid.cellY), 1.0);
    osg::ref_ptr<osg::Program> program = new osg::Program;
    program->addShader(new osg::Shader(osg::Shader::VERTEX, kVertexShader));
    program->addShader(new osg::Shader(osg::Shader::FRAGMENT, kFragmentShader));

    constexpr auto kOverride = osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE | osg::StateAttribute::PROTECTED;
    osg::ref_ptr<osg::StateSet> state = new osg::StateSet;
    state->setAttributeAndModes(program.get(), kOverride);
    state->setAttributeAndModes(new osg::ColorMask(false, false, false, false), kOverride);
    const PixelRect window = maskWindow(grid, sceneToWindow, lowZ, highZ, width, height);
    state->setAttributeAndModes(new osg::Scissor(window.x, window.y, window.width, window.height), kOverride);
    state->setTextureAttributeAndModes(kMaskUnit, maskTexture(frame, grid).get(), kOverride);
    state->addUniform(new osg::Uniform("areaMask", kMaskUnit));
    state->addUniform(new osg::Uniform("eyeToMask", osg::Matrixf(eyeToMask)));
    return OwnSurfacePass{state, window};
}

}  // namespace vistrel
