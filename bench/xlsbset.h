#pragma once

// The generated .xlsx set rewritten as .xlsb workbooks: the same pictures and drawings, with a
// binary workbook part and binary worksheets, as the spreadsheet application saves them.
#include <string>

#include "generatedset.h"

namespace bench {

// Writes one .xlsb beside each workbook of the set into folder; the counts carry over.
GeneratedSet convertToXlsb(const GeneratedSet& xlsx, const std::string& folder);

}  // namespace bench
