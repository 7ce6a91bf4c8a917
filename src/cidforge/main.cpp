// cidforge: writes a caller-ID FSK burst (NTT or US format) described by a
// data text file as a WAV file.
#include "cidforge/run.hpp"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return cidforge::runCidforge(args);
}
