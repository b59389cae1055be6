// Program entry: everything of a run lives in driver::run.
#include "driver/run.h"

int main(int argc, char** argv) { return vexa::driver::run_program(argc, argv); }
