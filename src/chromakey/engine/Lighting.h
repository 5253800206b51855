// Lighting compensation: estimates the bare backing over the photo on a grid
// of sample nodes, fills the nodes the subject hides from their neighbours,
// and shifts every backing-like pixel by the difference between the centre
// colour and the local estimate. Also the histogram analysis that builds a
// provisional key volume from a photo.
#pragma once

#include <cstdint>
#include <vector>

#include "chromakey/engine/Buffers.h"
#include "chromakey/engine/FixCoef.h"

namespace chromakey {

struct GridNode {
  uint16_t r = 0, g = 0, b = 0, a = 0;
  int32_t state = 0;  // 0 backing, 1 filled, 2 covered by the subject
  int32_t count = 0;
};

struct GRID {
  std::vector<GridNode> nodes;  // 100 x 100, column-major: (x, y) at x * 100 + y
  int32_t nx = 0, ny = 0;
  int32_t width = 0, height = 0;
  float cellW = 0, cellH = 0;
  const pixeli* source = nullptr;
  pixeli* out = nullptr;
  const fixcoef* block = nullptr;
  int32_t level = 0;
  int32_t firstRow = 0, lastRow = 0;
  float invCellW = 0, invCellH = 0;

  GridNode& node(int x, int y) { return nodes[size_t(x) * 100 + size_t(y)]; }
  const GridNode& node(int x, int y) const { return nodes[size_t(x) * 100 + size_t(y)]; }
};

extern int32_t s_adjustLightingOuterGridBoundry;

struct hgram {
  std::vector<int32_t> counts;
  void smooth();
};

// The lighting pass. mode 0: compensated photo; 1: the simulated backing;
// 2: compensated photo with the compensation weight as alpha. With no `out`
// the node colours go to `reference` (nx x ny pixels, node column by column).
// False when an argument is out of range or memory runs out.
bool generateSimulatedRender(const pixeli* source, pixeli* out, int width, int height, int gridSize,
                             int level, const fixcoef* block, pixeli* reference, int mode,
                             int workers = 1);

void phase_calculateGenerateSimulatedForeground(const GRID& grid, int mode);
int getCount(const GRID& grid, int x, int y, int state);

// Synthetic foreground colours for the block's centre colour; 0 when the
// centre is too grey, too dark or too bright to need them.
int generate_fakefg(PixelBuffer& buffer, const fixcoef* block);
int gen_art_color(int family, pixeli* buffer, const fixcoef* block, float minimum);

bool histogram_proc(const pixeli& centre, const pixeli* image, int width, int height, fixcoef* block,
                    bool backgroundPass, bool foregroundPass, float bgWidening, float fgWidening,
                    bool skipInner, bool middlePass, int columnStep, int rowStep);

void pix_backcolor_proc(const pixeli& pixel, float u[4], float v[4]);
void bleach(const float colour[3], const float backing[3], float out[3], float amount, float ratio);

bool select_fg_histogram(const pixeli* image, int width, int height, fixcoef* block, bool middlePass);

}  // namespace chromakey
