// The operations of quelda-reg. Each returns the process exit status (0 done, 1 failed) and
// writes its messages to out (results) and err (errors); confirmations are read from in.
#pragma once

#include "reg_args.h"

#include <iosfwd>

namespace quelda_reg {

int RunCommand(const Args& args, std::istream& in, std::ostream& out, std::ostream& err);
void PrintUsage(std::ostream& out);

} // namespace quelda_reg
