#include "app/ImageNames.h"

#include <exception>

namespace vistrel {

std::vector<PlannedName> nameImages(NameTemplate& names, const PolygonFrame& frame,
                                    const std::vector<PlannedImage>& images)
{
    std::vector<PlannedName> planned(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        try {
            planned[i].path = names.buildPhotoPath(frame, images[i].key);
        } catch (const std::exception& e) {
            planned[i].error = e.what();
        }
    }
    return planned;
}

}  // namespace vistrel
