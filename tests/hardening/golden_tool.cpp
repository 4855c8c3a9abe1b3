// Prints the golden report, or writes it to the file named by the first
// argument: `golden_tool tests/golden/golden.txt` regenerates the file.
#include <cstdio>
#include <fstream>
#include <iostream>

#include "golden.h"

int main(int argc, char** argv) {
    const std::string report = zphard::goldenReport();
    if (argc < 2) {
        std::cout << report;
        return 0;
    }
    std::ofstream file(argv[1], std::ios::binary);
    file << report;
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
