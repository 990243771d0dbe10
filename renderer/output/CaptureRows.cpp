#include "output/CaptureRows.h"

namespace vistrel {

int rgbPixelBytes(const osg::Image& image)
{
    if (image.getDataType() != GL_UNSIGNED_BYTE) {
        return 0;
    }
    switch (image.getPixelFormat()) {
    case GL_RGBA: return 4;
    case GL_RGB: return 3;
    default: return 0;
    }
}

}  // namespace vistrel
