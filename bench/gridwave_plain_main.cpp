// gridwave_plain: the same program around the plain row-by-row loop, which
// bench/compare.sh times gridwave against.
#include "plain_row_loop.h"
#include "run.h"
#include "standard_descriptors.h"

int main(int argc, char** argv) {
  gridwave::ensure_standard_descriptors();
  return gridwave::run(argc, argv, gridwave::render_grid_row_by_row);
}
