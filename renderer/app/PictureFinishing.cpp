#include "app/PictureFinishing.h"

namespace vistrel {

void finishPicture(const FinishingContext& /*context*/, osg::Image& /*pixels*/)
{
}

}  // namespace vistrel
