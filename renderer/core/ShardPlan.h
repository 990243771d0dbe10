#pragma once

#include "core/RenderConfig.h"

#include <cstddef>
#include <vector>

namespace vistrel {

// One shard of a batch split by frame position: shard k of n renders the
// frames at positions k, k + n, k + 2n, ... of the layer. An unsplit batch is
// shard 0 of 1 and renders every frame.
struct ShardPlan {
    int index = 0;
    int count = 1;

    // The shard of `config` (shard_index of shard_count, at least one shard).
    static ShardPlan of(const RenderConfig& config);

    bool split() const { return count > 1; }
    // True when the frame at `position` (0-based) is this shard's.
    bool owns(std::size_t position) const;
    // The positions of this shard's frames among `frameCount`, in order.
    std::vector<std::size_t> positions(std::size_t frameCount) const;
    // The 1-based number of the frame at `position` among this shard's frames.
    int numberInShard(std::size_t position) const;
};

}  // namespace vistrel
