#include "run.h"

int main(int argc, char** argv) { return gridwave::run(argc, argv); }
