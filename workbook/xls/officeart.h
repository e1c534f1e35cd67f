#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workbook/bytesource.h"

namespace workbook::officeart {

// Blip record types ([MS-ODRAW] 2.2.23 to 2.2.31).
constexpr std::uint16_t kBlipEmf = 0xF01A;
constexpr std::uint16_t kBlipWmf = 0xF01B;
constexpr std::uint16_t kBlipPict = 0xF01C;
constexpr std::uint16_t kBlipJpeg = 0xF01D;
constexpr std::uint16_t kBlipPng = 0xF01E;
constexpr std::uint16_t kBlipDib = 0xF01F;
constexpr std::uint16_t kBlipTiff = 0xF029;
constexpr std::uint16_t kBlipJpegCmyk = 0xF02A;

// One entry of the blip store: where its picture's bytes lie in the drawing group's data.
// Entries without a picture (empty slots, unknown records) keep type 0.
struct Blip {
    std::uint16_t type = 0;  // the embedded blip record's type, which outranks the FBSE's
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    bool metafile = false;
    bool compressed = false;    // DEFLATE (zlib) data, metafiles only
    std::int64_t emuWidth = 0;  // a metafile's size in EMUs from its header
    std::int64_t emuHeight = 0;
};

struct BlipStore {
    std::vector<Blip> entries;  // in order: a pib of n names entries[n - 1]
    std::string damage;         // empty when the store was read whole
};

// Reads the blip store of an OfficeArtDggContainer ([MS-ODRAW] 2.2.12) held in group,
// touching only record headers, never the pictures themselves.
BlipStore readBlipStore(ByteSource& group);

// One shape directly under the patriarch of a worksheet's drawing, in z-order.
struct Shape {
    bool group = false;
    std::uint16_t shapeType = 0;  // MSOSPT: 75 is a picture frame
    std::uint32_t pib = 0;        // 1-based blip store index, 0 for none
    std::string name;
    std::string description;
    std::string linkName;  // pibName, the file a linked picture shows
    bool anchored = false;
    std::uint32_t column = 0;  // the anchor's top-left cell
    std::uint32_t row = 0;
    int client = -1;  // index of its ClientData among the drawing's client records
};

struct Drawing {
    std::vector<Shape> shapes;
    // ClientData (false) and ClientTextbox (true) records in the order they occur; each one is
    // followed in the sheet by an Obj or TxO record.
    std::vector<bool> clientTextbox;
    std::string damage;  // empty when the drawing was read whole
};

// Reads a worksheet's OfficeArtDgContainer ([MS-ODRAW] 2.2.13). A record that runs past its
// container stops the reading; what came before is kept.
Drawing readDrawing(const std::uint8_t* data, std::size_t size);

}  // namespace workbook::officeart
