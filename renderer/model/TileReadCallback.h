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

// Reads a .osgb held in memory (named `fileName`, which sets the folder its
// children are paged from) with every check: checkOsgbHeader (OsgbHeader.h),
// the bounded reader (BoundedOsgbReader.h) and checkLoadedGraph
// (LoadedGraphCheck.h). Null, with `reason`,
// when the bytes are rejected; the reader never reads past their end.
osg::ref_ptr<osg::Node> readCheckedOsgb(const std::string& bytes, const std::string& fileName,
                                        const osgDB::Options* options, std::string& reason);

}  // namespace vistrel
