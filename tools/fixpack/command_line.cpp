#include "fixpack/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "book/parallel_deflate.h"

bool ParseArguments(int argc, char** argv, const std::vector<OptionRule>& options,
                    CommandArguments* arguments, std::string* error) {
  bool onlyPositional = false;
  for (int i = 0; i < argc; ++i) {
    const std::string word = argv[i];
    if (onlyPositional || word.size() < 2 || word[0] != '-') {
      arguments->positional.push_back(word);
      continue;
    }
    if (word == "--") {
      onlyPositional = true;
      continue;
    }
    const OptionRule* known = nullptr;
    for (const OptionRule& option : options) {
      if (word == option.name) known = &option;
    }
    if (known == nullptr) {
      *error = "unknown option " + word;
      return false;
    }
    if (arguments->Has(word)) {
      *error = "option " + word + " is given twice";
      return false;
    }
    std::string value;
    if (known->takesValue) {
      if (i + 1 >= argc) {
        *error = "option " + word + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    arguments->values[word] = value;
  }
  return true;
}

int UsageError(const char* command, const std::string& message, const char* help) {
  fprintf(stderr, "fixpack %s: %s\n\n%s", command, message.c_str(), help);
  return ExitUsage;
}

int Failure(const char* command, const std::string& message) {
  fprintf(stderr, "fixpack %s: %s\n", command, message.c_str());
  return ExitFailed;
}

const char* SystemErrorText(int error) {
  // The runtime's own wording ("Cannot allocate memory", "Not enough
  // space") differs from system to system and hides what the user can do.
  if (error == ENOMEM) return "not enough memory";
  return strerror(error);
}

bool ParseCount(const std::string& text, uint32_t min, uint32_t max, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number < min || number > max) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

bool TakeThreadsOption(const CommandArguments& arguments, int32_t* threads, std::string* error) {
  *threads = DefaultPackThreads();
  return !arguments.Has(ThreadsOption.name) ||
         TakeThreadsValue(arguments.Value(ThreadsOption.name), threads, error);
}

bool TakeThreadsValue(const std::string& value, int32_t* threads, std::string* error) {
  uint32_t count = 0;
  if (!ParseCount(value, 1, static_cast<uint32_t>(PackMostThreads), &count)) {
    *error = "--threads takes a count from 1 to " + std::to_string(PackMostThreads);
    return false;
  }
  *threads = static_cast<int32_t>(count);
  return true;
}
