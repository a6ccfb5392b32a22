// The commands of fixpack. Each takes the arguments behind its own name and
// returns the process exit code: 0 when it did what was asked (for verify:
// the file is sound), 1 when it could not or refused, 2 for a usage error.
// Results go to stdout, errors to stderr, each naming the file, the place
// and the cause; progress appears on stderr only when it is a terminal.
#pragma once

// The whole program: argv[1] names the command, the rest are its
// arguments. Returns the process exit code; a command that runs out of
// memory fails with a message rather than ending the program.
int RunFixpack(int argc, char** argv);

// The help texts, printed for `fixpack COMMAND --help`.
extern const char ApplyHelp[];
extern const char DiffHelp[];
extern const char BuildHelp[];
extern const char InspectHelp[];
extern const char VerifyHelp[];
extern const char DumpHelp[];
extern const char PackHelp[];

// fixpack apply DATAFILE FOLDER: applies an update data file to a folder
// exactly as the updater does and prints one line about the outcome.
int RunApply(int argc, char** argv);

// fixpack diff OLD NEW [-o DIFF]: the smallest diff from book OLD to book
// NEW, as text on stdout or as the entry payload bytes in DIFF.
int RunDiff(int argc, char** argv);

// fixpack build MANIFEST -o DATAFILE: makes an update data file from a
// manifest, after checking in memory that it does exactly what it says.
int RunBuild(int argc, char** argv);

// fixpack inspect FILE: what a book or update data file holds.
int RunInspect(int argc, char** argv);

// fixpack verify FILE: every invariant of the stored form; 0 only for a
// sound file.
int RunVerify(int argc, char** argv);

// fixpack dump FILE [-o TEXT]: a book in its text form.
int RunDump(int argc, char** argv);

// fixpack pack TEXT -o FILE [--buckets B] [--divided]: a book from its text
// form.
int RunPack(int argc, char** argv);
