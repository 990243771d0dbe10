#pragma once

#include <osg/Node>
#include <osg/ref_ptr>
#include <osgDB/Options>

#include <cstddef>
#include <string>

namespace vistrel {

// Parses a .osgb held in memory whose body is stored plain (compressor
// "0"), through OSG's own object wrappers but with a reader of our own that
// never lets the data ask for more than it holds:
// - every count or size in the stream (an array, a list, a text, an
//   embedded image) must fit in the bytes that are left, or the read ends
//   before anything is allocated for it;
// - only the classes that make up a model tile may be read, so a damaged
//   class name can neither reach other readers nor load other libraries;
// - an image id may only name an image (OSG takes it for one unchecked),
//   and an enumeration only hold one of its values;
// - a texture embedded as a file must be JPEG or PNG of at most 16384
//   pixels a side;
// - objects nest at most 128 deep (OSG reads them by recursion);
// - the reader never reads past the end or goes back over what it read.
// Null, with `reason`, when the bytes are rejected or the reader fails.
osg::ref_ptr<osg::Node> parsePlainOsgb(const std::string& bytes, bool swapped, const osgDB::Options* options,
                                       std::string& reason);

}  // namespace vistrel
