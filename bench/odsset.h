#pragma once

// The generated .xlsx set rewritten as OpenDocument spreadsheets: the same pictures in the same
// cells and order, each a frame in its cell, the images under Pictures/ compressed as before.
#include <string>

#include "generatedset.h"

namespace bench {

// Writes one .ods beside each workbook of the set into folder; the counts carry over.
GeneratedSet convertToOds(const GeneratedSet& xlsx, const std::string& folder);

}  // namespace bench
