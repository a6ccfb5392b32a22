// The fixpack program: the command dispatch lives with the commands, so
// that the tests run it exactly as the program does.
#include "fixpack/fixpack_commands.h"

int main(int argc, char** argv) { return RunFixpack(argc, argv); }
