#pragma once

#include "core/ContentHash.h"
#include "output/WriteResult.h"

#include <osg/Image>
#include <osg/ref_ptr>

#include <string>

namespace vistrel {

// A copy of an 8-bit RGBA or RGB picture (rows bottom first, as captured)
// made at most `maxWidth` pixels wide by averaging the pixels each new pixel
// covers; the height keeps the picture's proportions. A picture that is
// narrow enough is copied as it is. Null for an unsupported picture.
osg::ref_ptr<osg::Image> shrinkPicture(const osg::Image& picture, int maxWidth);

// The width thumbnails are made at most.
constexpr int kThumbnailWidth = 320;

// Writes a JPEG thumbnail at most `maxWidth` pixels wide of `picture`
// to `path` under a temporary name, renamed into place once complete. False,
// with the system's reason in `reason`, when it cannot be written. The
// written file's length and content hash go to `digest` when given.
bool writeThumbnail(const osg::Image& picture, const std::string& path, std::string& reason,
                    int maxWidth = kThumbnailWidth, FileDigest* digest = nullptr);

// The contact sheet's thumbnail of a written picture: makes the folder of
// `path` below `outputDir` without passing a symbolic link (RefusedLink when
// one is on the way, FolderFailed when it cannot be made), then writes the
// thumbnail there as writeThumbnail does. Nothing is logged.
WriteResult writeThumbnailBelow(const osg::Image& picture, const std::string& path, const std::string& outputDir);

}  // namespace vistrel
