// velmora-scan: finds the DOMBASE of a running terminal by trying every aligned word of
// its readable memory as the head of the order-book chain.
#include <iostream>

#include "platform/program_location.h"
#include "tools/scan_command.h"

int main(int argc, char** argv) {
    auto processes = velmora::makeSystemProcessAccess();
    velmora::ScanEnvironment environment{*processes, velmora::listReadableRegions,
                                         velmora::executableFolder() + "Velmora.ini", std::cout, std::cerr};
    return velmora::RunScanCommand(std::vector<std::string>(argv + 1, argv + argc), environment);
}
