#include "row_loop.h"
#include "run.h"
#include "standard_descriptors.h"

int main(int argc, char** argv) {
  gridwave::ensure_standard_descriptors();
  return gridwave::run(argc, argv, gridwave::render_grid);
}
