#include "fixpack/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "book/parallel_deflate.h"
#include "fixpack/terminal_text.h"

namespace {

// CLI11 words its faults for its own help; they are said here in the words
// of every other fixpack message.
std::string ParseFault(const CLI::ParseError& fault) {
  std::string text = fault.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&fault) != nullptr) {
    const size_t colon = text.rfind(": ");
    std::string word = colon == std::string::npos ? text : text.substr(colon + 2);
    word = word.substr(0, word.find(' '));
    return (word.size() > 1 && word[0] == '-' ? "unknown option " : "unexpected argument ") + word;
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&fault) != nullptr) {
    return "option " + text.substr(0, text.find(':')) + " needs a value";
  }
  return text;
}

}  // namespace

bool ParseArguments(int argc, char** argv, const std::vector<OptionRule>& options, CommandArguments* arguments,
                    std::string* error) {
  CLI::App parser;
  parser.set_help_flag();  // --help is answered before a command parses
  std::vector<CLI::Option*> parsed;
  for (const OptionRule& option : options) {
    std::string names = option.name;
    if (option.longName != nullptr) names += std::string(",") + option.longName;
    if (option.takesValue) {
      parsed.push_back(parser.add_option(names)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll));
    } else {
      parsed.push_back(parser.add_flag(names));
    }
  }
  parser.add_option("operands", arguments->positional);
  std::vector<std::string> words(argv, argv + argc);
  std::reverse(words.begin(), words.end());  // CLI11 takes them last first
  try {
    parser.parse(words);
  } catch (const CLI::ParseError& fault) {
    *error = ParseFault(fault);
    return false;
  }
  for (size_t i = 0; i < options.size(); ++i) {
    if (parsed[i]->count() == 0) continue;
    if (parsed[i]->count() > 1) {
      *error = std::string("option ") + options[i].name + " is given twice";
      return false;
    }
    arguments->values[options[i].name] = options[i].takesValue ? parsed[i]->results().front() : std::string();
  }
  return true;
}

int UsageError(const char* command, const std::string& message, const char* help) {
  const char* lineEnd = strchr(help, '\n');
  const std::string usage(help, lineEnd != nullptr ? static_cast<size_t>(lineEnd - help) : strlen(help));
  Say(stderr, "fixpack %s: %s\n%s\nRun `fixpack %s --help` for more.\n", command, message.c_str(), usage.c_str(),
      command);
  return ExitUsage;
}

int Failure(const char* command, const std::string& message) {
  Say(stderr, "fixpack %s: %s\n", command, message.c_str());
  return ExitFailed;
}

const char* SystemErrorText(int error) {
  // The runtime's own wording ("Cannot allocate memory", "Not enough
  // space") differs from system to system and hides what the user can do.
  if (error == ENOMEM) return "not enough memory";
  return strerror(error);
}

std::string Counted(uint64_t count, const char* one, const char* many) {
  std::string text = std::to_string(count) + " ";
  if (count == 1) return text + one;
  return many != nullptr ? text + many : text + one + "s";
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
