#include "core/ShardPlan.h"

#include <algorithm>

namespace vistrel {

ShardPlan ShardPlan::of(const RenderConfig& config)
{
    return ShardPlan{config.shard_index, std::max(1, config.shard_count)};
}

bool ShardPlan::owns(std::size_t position) const
{
    return static_cast<int>(position % static_cast<std::size_t>(count)) == index;
}

std::vector<std::size_t> ShardPlan::positions(std::size_t frameCount) const
{
    std::vector<std::size_t> mine;
    for (std::size_t p = 0; p < frameCount; ++p) {
        if (owns(p)) {
            mine.push_back(p);
        }
    }
    return mine;
}

int ShardPlan::numberInShard(std::size_t position) const
{
    return static_cast<int>(position / static_cast<std::size_t>(count)) + 1;
}

}  // namespace vistrel
