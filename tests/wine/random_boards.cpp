// zrv_random_boards BOARDS OUT COUNT SEED: writes the first COUNT random
// boards of SEED over the example boards in BOARDS (the same generator as
// the native configuration tests) to OUT as random-N.json and random-N.reg,
// and prints each board file's path with the example it came from.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/support/board_files.h"
#include "tests/support/random_board.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: zrv_random_boards BOARDS OUT COUNT SEED\n");
        return 2;
    }
    const std::filesystem::path out = argv[2];
    std::filesystem::create_directories(out);
    const auto boards = zrvtest::randomBoards(zrvtest::boardFilesIn(argv[1]),
                                              std::strtoul(argv[4], nullptr, 0), std::atoi(argv[3]));
    for (size_t i = 0; i < boards.size(); ++i) {
        const auto file = zrvtest::writeRandomBoard(boards[i], out, "random-" + std::to_string(i));
        std::printf("%s %s\n", file.c_str(), boards[i].example.filename().c_str());
    }
    return boards.empty() ? 1 : 0;
}
