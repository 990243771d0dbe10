#include "render/ArrayPointerReset.h"

#include <osg/RenderInfo>
#include <osg/State>
#include <osg/VertexArrayState>

namespace vistrel {

namespace {

void forget(osg::VertexArrayState::ArrayDispatch* dispatch)
{
    if (dispatch) {
        dispatch->array = nullptr;
        dispatch->modifiedCount = 0xffffffff;
    }
}

}  // namespace

void ArrayPointerReset::operator()(osg::RenderInfo& renderInfo) const
{
    osg::State* state = renderInfo.getState();
    osg::VertexArrayState* arrays = state ? state->getCurrentVertexArrayState() : nullptr;
    if (!arrays) {
        return;
    }
    forget(arrays->_vertexArray.get());
    forget(arrays->_normalArray.get());
    forget(arrays->_colorArray.get());
    forget(arrays->_secondaryColorArray.get());
    forget(arrays->_fogCoordArray.get());
    for (auto& dispatch : arrays->_texCoordArrays) {
        forget(dispatch.get());
    }
    for (auto& dispatch : arrays->_vertexAttribArrays) {
        forget(dispatch.get());
    }
}

}  // namespace vistrel
