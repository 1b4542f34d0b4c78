// The lumconv program: start-up runs MAIN and ends with its exit code.
#include "app/program.h"

int main(int argc, char** argv) { return lum::run_program(lum::lumconv_program(), argc, argv); }
