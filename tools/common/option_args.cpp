#include "option_args.h"

#include <cstdio>
#include <cstdlib>

bool OptionArgs::Next() {
    if (started_)
        ++index_;
    started_ = true;
    if (index_ >= args_.size())
        return false;
    const std::string& arg = args_[index_];
    name_ = arg;
    value_.clear();
    hasInline_ = false;
    auto eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
        name_ = arg.substr(0, eq);
        value_ = arg.substr(eq + 1);
        hasInline_ = true;
    }
    return true;
}

bool OptionArgs::TakeValue(std::string& target, std::string& error) {
    if (hasInline_) {
        target = value_;
        return true;
    }
    if (index_ + 1 >= args_.size()) {
        error = name_ + " needs a value";
        return false;
    }
    target = args_[++index_];
    return true;
}

bool ParseBoundedNumber(const std::string& text, size_t maxDigits, int max, int& value) {
    if (text.empty() || text.size() > maxDigits ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    int number = std::atoi(text.c_str());
    if (number > max)
        return false;
    value = number;
    return true;
}

int CommandLineExit(bool parsed, bool help, const std::string& error, const std::string& usage) {
    if (!parsed) {
        std::fprintf(stderr, "%s\n%s", error.c_str(), usage.c_str());
        return 2;
    }
    if (help) {
        std::printf("%s", usage.c_str());
        return 0;
    }
    return -1;
}
