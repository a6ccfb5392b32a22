// fixmod_demo_data DATAFILE (OLDNAME NEWNAME SOURCE)...
// Writes an update data file whose package rewrites each NEWNAME with the
// content of SOURCE, keeping the present file as OLDNAME. The Wine scenarios
// (tests/e2e/products.sh) make their whole-file packages with it.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/testing/update_data_writer.h"

int main(int argc, char** argv) {
  if (argc < 5 || (argc - 2) % 3 != 0) {
    fprintf(stderr, "usage: fixmod_demo_data DATAFILE (OLDNAME NEWNAME SOURCE)...\n");
    return 2;
  }
  std::vector<uint8_t> script;
  for (int i = 2; i < argc; i += 3) {
    std::ifstream source(argv[i + 2], std::ios::binary);
    if (!source) {
      fprintf(stderr, "fixmod_demo_data: cannot read %s\n", argv[i + 2]);
      return 1;
    }
    std::ostringstream content;
    content << source.rdbuf();
    AppendFileEntry(&script, argv[i], argv[i + 1], content.str());
  }
  if (!WriteUpdateDataFile(argv[1], script)) {
    fprintf(stderr, "fixmod_demo_data: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
