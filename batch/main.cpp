// quillfen-batch: the workbook engine on the command line, for checking what the program
// would extract from a set of workbooks without opening a window.
#include <iostream>

#include "batch/batchlist.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        return batch::runBatch(arguments, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "quillfen-batch: " << e.what() << "\n";
        return batch::kExitFailed;
    }
}
