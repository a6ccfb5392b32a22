// The fixpack program: the command dispatch lives with the commands, so
// that the tests run it exactly as the program does.
#include "fixpack/fixpack_commands.h"
#include "fixpack/terminal_text.h"

int main(int argc, char** argv) {
  TakeTerminalEncoding();
  return RunFixpack(argc, argv);
}
