// The commands of fixpack. Each takes the arguments behind its own name and
// returns the process exit code: 0 when it did what was asked, 1 when it
// could not, 2 for a usage error.
#pragma once

// The help text of `fixpack apply`.
extern const char ApplyHelp[];

// fixpack apply DATAFILE FOLDER: applies an update data file to a folder
// exactly as the updater does and prints one line about the outcome.
int RunApply(int argc, char** argv);
