// quelda-reg: reg.exe's add, query, delete, import and export over the registry of the
// machine folder named by QUELDA_MACHINE. Arguments are UTF-8.
#include "reg_args.h"
#include "reg_commands.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    quelda_reg::Args parsed;
    std::string error;
    if (!quelda_reg::ParseArgs(args, &parsed, &error)) {
        std::cerr << error << "\n"
                  << "Type \"quelda-reg /?\" for usage.\n";
        return 1;
    }
    try {
        return quelda_reg::RunCommand(parsed, std::cin, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "ERROR: " << e.what() << "\n";
        return 1;
    }
}
