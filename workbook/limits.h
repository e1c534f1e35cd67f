#pragma once

#include <cstddef>
#include <cstdint>

namespace workbook {

// Every size the engine takes from a file is checked against one of these before it is used.
// They are far above what real workbooks need and low enough that a hostile file cannot make
// the program exhaust memory or run for minutes.

// Zip entries in one package; real workbooks hold tens to a few thousand.
constexpr std::uint64_t kMaxZipEntries = 200'000;
// An XML part read whole into memory (workbook, relationships, content types, drawings).
constexpr std::uint64_t kMaxXmlPartBytes = 64ull << 20;
// A worksheet part is only scanned as it streams past, so it may be far larger.
constexpr std::uint64_t kMaxWorksheetPartBytes = 2ull << 30;
// One media entry (a picture's image) when it is copied.
constexpr std::uint64_t kMaxMediaBytes = 512ull << 20;
// Everything the pictures of one workbook make the engine copy out, counted per copy, so that
// pictures sharing one image each count: thousands of large photos fit (4,000 of 6 MB), while a
// small file whose pictures all name one huge, highly compressible image cannot keep a run busy
// for minutes (about 1,200 copies of a 20 MB image go through the windows in well under half a
// minute). Past it the remaining pictures fail to copy.
constexpr std::uint64_t kMaxCopiedBytes = 24ull << 30;
// An image that several pictures share is kept inflated after its first copy, so it is
// inflated once, not once per picture; this much at most is kept at a time.
constexpr std::uint64_t kMaxSharedImageCacheBytes = 128ull << 20;
// Everything the engine inflates on its own while opening one workbook (XML parts, worksheet
// scans and the first bytes of each image); copies are bounded per entry instead.
constexpr std::uint64_t kMaxOpenInflatedBytes = 2ull << 30;
// Inflating more than this ratio is refused, but only for entries above the size below: real
// metafiles compress a hundredfold and more, and a small entry costs nothing to inflate.
constexpr std::uint64_t kMaxCompressionRatio = 400;
constexpr std::uint64_t kRatioCheckMinBytes = 32ull << 20;
// One tag, comment or processing instruction of a streamed worksheet part.
constexpr std::uint64_t kMaxMarkupItemBytes = 4ull << 20;
// Nesting of XML elements; real drawing parts stay below 30.
constexpr int kMaxXmlDepth = 256;
// Attributes on one element; namespace lookups walk them, so they must stay few.
constexpr std::size_t kMaxXmlAttributes = 1024;
// Namespace declarations in scope in a streamed XML part; real parts declare a few dozen.
constexpr std::size_t kMaxXmlNamespaceBytes = 1u << 20;

// Pictures drawn from records (metafiles and Macintosh pictures). A picture is drawn at most
// this many pixels; a metafile stating a larger size is drawn smaller, its aspect kept. One side
// stays within what the painter's fixed-point coordinates reach.
constexpr std::int64_t kMaxPicturePixels = 100'000'000;
constexpr int kMaxPictureSide = 32767;
// A bitmap inside a metafile or a binary workbook; real ones stay far below.
constexpr int kMaxBitmapSide = 1 << 16;
// The size of a metafile is read from its first bytes only, as the engine sniffs them, so the
// size a workbook lists is the size the picture is drawn at.
constexpr std::size_t kMetafileSizeScanBytes = 4096;
// A WMF made from an EMF opens with that EMF in escape records, which draw nothing; the scan
// passes over this many bytes of them to the records behind.
constexpr std::size_t kMetafileLeadingEscapeBytes = 256 << 10;
// Bytes read from the start of an image to tell its format and size.
constexpr std::uint64_t kSniffBytes = 4096;
// A JPEG keeps its size behind its metadata segments; read this far for it.
constexpr std::uint64_t kJpegSniffBytes = 256ull << 10;

// Worksheets and pictures of one workbook; entries may share parts, so these bound what a
// small file can make the engine hold.
constexpr std::size_t kMaxWorksheets = 100'000;
constexpr std::size_t kMaxPictures = 250'000;
// Damage a workbook keeps after it opened (missing parts); further damage is not listed.
constexpr std::size_t kMaxProblems = 100;

// Compound files (password-protected packages and binary workbooks). Sector chains are bounded
// by the number of sectors in the file itself.
constexpr std::uint32_t kMaxCompoundDirectoryEntries = 1u << 16;

// Binary workbooks (.xls). The drawing group holds every picture of the workbook; it is read
// through its records' headers only, so the bound is on its records, not its bytes.
constexpr std::size_t kMaxDrawingGroupRecords = 1'000'000;
// One worksheet's drawing is held whole while its shapes are read.
constexpr std::uint64_t kMaxSheetDrawingBytes = 64ull << 20;
// Records of one worksheet's drawing, shapes directly on it, and its Obj/TxO records.
constexpr std::size_t kMaxDrawingRecords = 1'000'000;
constexpr std::size_t kMaxShapesPerSheet = 100'000;
// Records all worksheet walks may read beyond one pass over the workbook stream.
constexpr std::uint64_t kSheetRecordSlack = 1'000'000;
// Nesting of OfficeArt containers; real drawings stay below ten.
constexpr int kMaxOfficeArtDepth = 32;
// Entries of the blip store, and one blip's stored bytes.
constexpr std::size_t kMaxBlipStoreEntries = 250'000;
constexpr std::uint64_t kMaxBlipBytes = 512ull << 20;
// A compressed metafile inflated for a copy.
constexpr std::uint64_t kMaxMetafileBytes = 256ull << 20;

// Binary workbooks (.xlsb): the data of one record the engine reads (a sheet entry, a drawing's
// relationship id; real ones are under a kilobyte; other records are skipped unread), the
// sheets one workbook part may list, and the workbook part, which streams past like a
// worksheet part but is read only up to its sheet list.
constexpr std::uint32_t kMaxXlsbRecordBytes = 64u << 10;
constexpr std::size_t kMaxXlsbSheetEntries = 100'000;
constexpr std::uint64_t kMaxXlsbWorkbookPartBytes = 256ull << 20;

// OpenDocument spreadsheets (.ods, and flat .fods). content.xml holds every table with its
// cells, so it is only scanned as it streams past, like a worksheet part; so is a flat
// document, whose pictures are base64 text inside it.
constexpr std::uint64_t kMaxOdsContentBytes = 2ull << 30;
// The package's mimetype entry, read to tell a spreadsheet from other OpenDocument files.
constexpr std::size_t kMaxOdsMimetypeBytes = 256;
// Images one frame offers (the preferred one and its replacements); real frames hold one or two.
constexpr std::size_t kMaxOdsFrameImages = 8;
// A picture's description kept from its frame.
constexpr std::size_t kMaxOdsDescriptionBytes = 64u << 10;

}  // namespace workbook
