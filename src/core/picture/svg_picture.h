// A picture's shapes as an SVG document.
#pragma once

#include <string>

#include "core/picture/level_picture.h"

namespace ril {

// A standalone SVG 1.1 document of `picture`, with `title` as its title.
std::string svgOf(const LevelPicture& picture, const std::string& title);

}  // namespace ril
