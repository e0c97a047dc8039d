// PNG images of the SVG figures, drawn by librsvg into a cairo surface. The
// support is optional at build time.
#pragma once

#include <string>

// True when this build can write PNG images.
[[nodiscard]] bool pngSupported();

// Renders `svg` at its own size into PNG bytes in `png`. Returns an error
// message, or an empty string on success.
[[nodiscard]] std::string renderPng(const std::string& svg, std::string& png);
