// The arguments of one fixpack command: its positional words and its
// options, checked against what the command accepts.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct OptionRule {
  const char* name;                // as typed: "-o", "--buckets"; the key of its value
  bool takesValue;                 // it takes a value: "-o FILE", "-oFILE", "--threads=4"
  const char* longName = nullptr;  // another name for it: "--output" for -o
};

// The output option of the commands that write a file.
constexpr OptionRule OutputOption = {"-o", true, "--output"};

struct CommandArguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // options given, with their
                                              // value ("" for a flag)
  bool Has(const std::string& option) const { return values.count(option) != 0; }
  std::string Value(const std::string& option) const {
    auto found = values.find(option);
    return found == values.end() ? std::string() : found->second;
  }
};

// Sorts argv into positional words and the options in `options`, as
// publishers' other tools take them (CLI11): a value behind its option, or
// joined to it ("-ox.dat", "--threads=4"); a lone "-" and anything after
// "--" are positional. False, with a one-line message, for an unknown
// option, an option given twice or a missing value.
bool ParseArguments(int argc, char** argv, const std::vector<OptionRule>& options,
                    CommandArguments* arguments, std::string* error);

// Prints "fixpack COMMAND: MESSAGE", the command's usage line (the first
// line of its help) and where to read more to stderr, and returns the usage
// exit status, 2.
int UsageError(const char* command, const std::string& message, const char* help);

// Prints "fixpack COMMAND: MESSAGE" to stderr and returns the failure exit
// status, 1.
int Failure(const char* command, const std::string& message);

// The text of the system's error number `error` as the last part of a
// message: "not enough memory" for ENOMEM, otherwise the runtime's own text
// (strerror). Allocates nothing.
const char* SystemErrorText(int error);

// A count with its noun in agreement: "1 entry", "2 entries", "0 puts".
// `many` defaults to `one` with an s.
std::string Counted(uint64_t count, const char* one, const char* many = nullptr);

// Parses a decimal count from `min` to `max`. False when it is not one.
bool ParseCount(const std::string& text, uint32_t min, uint32_t max, uint32_t* value);

// The option of every command that packs bodies: the threads that pack each
// body, and its lines for the command's help (a literal, to be joined to the
// help's others).
constexpr OptionRule ThreadsOption = {"--threads", true};
#define FIXPACK_THREADS_HELP                                                  \
  "  --threads N   pack every body on N threads (1 to 16; default: one per\n" \
  "                processor, at most 8); the bytes are the same for any N\n"

// Sets *threads, the threads that pack bodies and merge books, from
// --threads when it is given, else to DefaultPackThreads(). False, with a
// message, when its value is not a count from 1 to 16.
bool TakeThreadsOption(const CommandArguments& arguments, int32_t* threads, std::string* error);
// The same for the option's value alone.
bool TakeThreadsValue(const std::string& value, int32_t* threads, std::string* error);

// The process exit statuses of every command.
constexpr int ExitOk = 0;      // did what was asked; a sound file
constexpr int ExitFailed = 1;  // could not, or refused, or an unsound file
constexpr int ExitUsage = 2;   // the command line is wrong
