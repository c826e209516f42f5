#pragma once

#include <QColor>

#include <cstdint>
#include <vector>

namespace testsupport {

// A screen tiled with 320 x 240 tiles of distinct colours: where a tile's colour ended up in a
// picture tells which part of the screen it shows, to a few pixels at the tiles' edges.
QColor tileColour(int column, int row);
// The tiled screen as width x height 32-bit pixels (blue, green, red, unused), for paintScreen().
std::vector<uint8_t> tiledScreen(int width, int height);

}  // namespace testsupport
