#include "cli/CommandLineProgram.h"
#include "cli/HostSystem.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        return vrax::RunCommandLine(arguments, std::cout, std::cerr,
                                    vrax::StandardErrorIsTerminal());
    } catch (const std::exception& error) {
        std::cerr << "vrax-bin-writer-cli: " << error.what() << '\n';
        return vrax::ExitFailed;
    }
}
