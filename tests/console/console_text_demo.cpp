// console_text_demo [--raw]: writes one line of Chinese to standard output the way the check
// without a window writes its report (WriteStreamText), or with --raw as plain UTF-8 bytes.
// scripts/test-windows runs it under Wine in a console of several code pages and into a pipe.
#include "app/console_text.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const char line[] = "检测报告：CA驱动版本不正确\n";
    if (argc > 1 && std::strcmp(argv[1], "--raw") == 0)
        return std::fwrite(line, 1, sizeof line - 1, stdout) == sizeof line - 1 ? 0 : 1;
    return WriteStreamText(stdout, line) ? 0 : 1;
}
