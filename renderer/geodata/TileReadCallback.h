#pragma once

#include <osg/Node>
#include <osg/ref_ptr>
#include <osgDB/Options>

#include <string>

namespace vistrel {

// Installs the process-wide read-file callback through which the scene
// loader and the database pager read every model file. It reads regular
// files only, checks a .osgb before the reader parses it and every loaded
// graph before anyone uses it; a texture a tile names as a separate file is
// checked as an embedded one. A missing or rejected file is logged once as
// a WARN and then reads as missing at once, without a second look on disk,
// so the rest of the model renders (counts in TileReadLedger.h).
void installTileReadCallback();

// Why the bytes of a .osgb cannot be handed to the reader; empty when they
// can. Checks the header, the compressor and the first sizes it declares.
std::string checkOsgbHeader(const std::string& bytes);

// Why a loaded graph cannot be drawn or intersected safely; empty when it
// can: a cycle, nesting too deep, an index beyond its vertex array, a
// non-finite vertex or transform, a per-vertex array shorter than the
// vertices used, a texture image larger than its data, a drawable other
// than osg::Geometry.
std::string checkLoadedGraph(osg::Node& root);

// Reads a .osgb held in memory (named `fileName`, which sets the folder its
// children are paged from) with every check above. Null, with `reason`,
// when the bytes are rejected; the reader never reads past their end.
osg::ref_ptr<osg::Node> readCheckedOsgb(const std::string& bytes, const std::string& fileName,
                                        const osgDB::Options* options, std::string& reason);

}  // namespace vistrel
