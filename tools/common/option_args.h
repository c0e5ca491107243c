#pragma once

#include <string>
#include <vector>

// Walks a command line one argument at a time; "--name=value" is split into the option's name
// and its inline value.
class OptionArgs {
  public:
    explicit OptionArgs(const std::vector<std::string>& args) : args_(args) {}

    // Moves to the next argument; false after the last.
    bool Next();
    // The current argument's name ("--port" of "--port=80"; otherwise the argument itself).
    const std::string& Name() const { return name_; }
    // The current argument as it was written.
    const std::string& Argument() const { return args_[index_]; }
    // The current option's value: the inline one, or else the next argument. When there is
    // none, sets error to "NAME needs a value" and returns false.
    bool TakeValue(std::string& target, std::string& error);

  private:
    const std::vector<std::string>& args_;
    size_t index_ = 0;
    bool started_ = false;
    std::string name_;
    std::string value_;
    bool hasInline_ = false;
};

// Reads text of at most maxDigits decimal digits (nothing else) whose value is at most max.
bool ParseBoundedNumber(const std::string& text, size_t maxDigits, int max, int& value);

// Prints the error and the usage to stderr (exit status 2), or the usage to stdout for --help
// (exit status 0). Returns -1 when the program goes on.
int CommandLineExit(bool parsed, bool help, const std::string& error, const std::string& usage);

// The prologue of a tool's main: parses the arguments after the program name into options.
// Returns -1 when the program goes on, otherwise its exit status (see CommandLineExit).
template <class Options>
int ReadCommandLine(int argc, char** argv, Options& options,
                    bool (*parse)(const std::vector<std::string>&, Options&, std::string&),
                    std::string (*usage)(const std::string&)) {
    std::string error;
    const bool parsed = parse(std::vector<std::string>(argv + 1, argv + argc), options, error);
    return CommandLineExit(parsed, options.help, error, usage(argv[0]));
}
