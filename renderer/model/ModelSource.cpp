#include "model/ModelSource.h"

#include "model/OsgbSource.h"

namespace vistrel {

std::unique_ptr<ModelSource> openModelSource(const std::string& path, const ModelOptions& options, std::string& reason)
{
    (void)options;
    return OsgbSource::open(path, reason);
}

}  // namespace vistrel
