#include "tools/nvreg/Nvreg.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunNvreg(args, stdout, stderr);
}
