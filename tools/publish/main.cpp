// varn-publish: writes the patch server's files for the launcher.
#include <iostream>
#include <string>
#include <vector>

#include "PublishCommandLine.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return CPublishCommandLine::Main(args, std::cout, std::cerr);
}
