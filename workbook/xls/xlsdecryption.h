#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "workbook/xls/biffrecords.h"

namespace workbook {

// The password the spreadsheet application encrypts "write-protected" workbooks with, and opens
// them with without asking.
constexpr std::u16string_view kDefaultXlsPassword = u"VelvetSweatshop";

// Decrypts a BIFF8 workbook stream encrypted with RC4 ([MS-OFFCRYPTO] 2.3.6) or RC4 CryptoAPI
// (2.3.5), given its FILEPASS record's data, when password opens it. Null when it does not, and
// for XOR obfuscation and encryption versions this reader does not know.
std::unique_ptr<biff::Decryptor> xlsDecryptor(const std::vector<std::uint8_t>& filePass,
                                              std::u16string_view password);

}  // namespace workbook
