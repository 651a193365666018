#include "cli/CommandLineProgram.h"
#include "cli/HostSystem.h"
#include "cli/VersionText.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        if (std::find(arguments.begin(), arguments.end(), "--version") != arguments.end()) {
            std::cout << vrax::VersionText();
            return vrax::ExitPass;
        }
        return vrax::RunCommandLine(arguments, std::cout, std::cerr,
                                    vrax::StandardErrorIsTerminal());
    } catch (const std::exception& error) {
        std::cerr << "vrax-bin-writer-cli: " << error.what() << '\n';
        return vrax::ExitFailed;
    }
}
