#pragma once

// The .xls set of the benchmarks: a generated .xlsx set converted once into binary workbooks
// with the same worksheets and pictures, and the floor of reading their workbook streams.
#include <string>

#include "generatedset.h"

namespace bench {

// copies .xls files per workbook of the set, in folder: the same worksheets with the same
// pictures as PNG and JPEG blips. The drawing group is cut into 8224-byte records as writers
// cut it.
GeneratedSet convertToXls(const GeneratedSet& xlsx, const std::string& folder, int copies = 1);

// The floor: each workbook stream read whole through the compound-file reader, nothing else.
// Returns the seconds taken.
double readWorkbookStreams(const std::vector<std::string>& paths);

}  // namespace bench
