#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builders/zipbuilder.h"

namespace testing_support {

// Binary records of .xlsb parts, written as bytes in a string so that tests can cut and splice
// them: the type and size headers of seven bits to a byte, then the data.
std::string xlsbRecord(std::uint32_t type, const std::string& data = {});
// A little-endian 32-bit field.
std::string xlsbU32(std::uint32_t value);
// XLWideString of UTF-8 text (the count in UTF-16 units, then the units).
std::string xlsbWideString(const std::string& utf8);
// A BrtBundleSh record; beta puts the 8 bytes of an old writer before the sheet id.
std::string xlsbBundleSheet(const std::string& name, const std::string& relationshipId,
                            std::uint32_t tabId = 1, bool beta = false);
// The same with a null relationship id.
std::string xlsbBundleSheetWithoutId(const std::string& name);
// The records of a workbook part around the given sheet entries.
std::string xlsbWorkbookPart(const std::string& bundleSheets);
// The records of a worksheet part: a few cells and, when drawingId is not empty, a BrtDrawing.
std::string xlsbWorksheetPart(const std::string& drawingId);

// The binary twin of packageWith: xl/workbook.bin, binary worksheets with BrtDrawing, and the
// same XML drawings; chart, dialog and macro sheets are binary parts too. Media are added by
// the caller.
ZipBuilder xlsbPackageWith(const std::vector<SheetSpec>& sheets,
                           ZipBuilder::Method method = ZipBuilder::Method::Deflate);

}  // namespace testing_support
