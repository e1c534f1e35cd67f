#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "workbook/bytesink.h"
#include "workbook/imageformat.h"
#include "workbook/problem.h"

namespace workbook {

// One member of a worksheet's Pictures collection, as far as it is known without reading the
// image itself.
struct PictureInfo {
    ImageFormat format = ImageFormat::Unknown;  // from the image's first bytes
    int width = 0;                              // pixels, 0 when the header does not say
    int height = 0;
    std::optional<std::uint64_t> byteCount;  // as stored, when known without reading
    bool linked = false;  // the image is only linked: the workbook holds no bytes for it
    std::string link;     // the link target of a linked picture
    std::string cell;     // the anchor's top-left cell ("C7"); empty for an absolute anchor
    // Pictures of one workbook with the same id show one stored image, so their bytes are the
    // same; none when the workbook does not tell.
    std::optional<std::uint64_t> imageId;
    std::string name;
    std::string description;
};

struct Worksheet {
    std::string name;
    std::vector<PictureInfo> pictures;  // in the order of the Pictures collection
    // Pictures placed in cells ("Place in Cell", IMAGE(), DISPIMG), in row-major cell order,
    // each with its cell. They are no members of the Pictures collection; their bytes are read
    // with the indexes that follow the pictures' (pictures.size() + i).
    std::vector<PictureInfo> cellPictures;
};

// An open workbook of any format: its worksheets in workbook order (chart, dialog and macro
// sheets left out) and the bytes of each picture on request. Indexes count from 0.
class Workbook {
public:
    virtual ~Workbook() = default;

    virtual const std::vector<Worksheet>& worksheets() const = 0;
    // The picture's image bytes as the workbook stores them, read now; a linked picture, a
    // missing image or damaged data give a problem.
    virtual std::optional<Problem> readPictureBytes(std::size_t sheet, std::size_t picture,
                                                    ByteSink& sink) = 0;

    Result<std::vector<std::uint8_t>> readPictureBytes(std::size_t sheet, std::size_t picture);

    // Damage found while opening that did not stop the workbook from opening: a worksheet, a
    // drawing or a part that is missing or unreadable, whose pictures are lost. Empty for a
    // sound workbook; every intact worksheet still gives its pictures.
    const std::vector<Problem>& problems() const { return m_problems; }

protected:
    // Counts a copy of bytes towards kMaxCopiedBytes; the problem names place once the pictures
    // of this workbook have asked for more.
    std::optional<Problem> chargeCopy(std::uint64_t bytes, const std::string& place);
    // Keeps damage found while opening, once per place and at most kMaxProblems.
    void noteProblem(Problem problem);

    std::vector<Problem> m_problems;
    // Lists each picture's format and size.
    ImageSniffer m_sniff = sniffImage;

private:
    std::uint64_t m_copiedBytes = 0;
};

// How a workbook is opened: the sniffer that lists each picture's format and size.
struct OpenOptions {
    ImageSniffer sniff = sniffImage;
};

// Opens a workbook read-only. The format is told from the bytes, not from the file name.
Result<std::unique_ptr<Workbook>> openWorkbook(const std::string& path,
                                               const OpenOptions& options = {});
// The same over bytes in memory, which the workbook shares.
Result<std::unique_ptr<Workbook>> openWorkbook(
    std::shared_ptr<const std::vector<std::uint8_t>> bytes, const OpenOptions& options = {});

// The column letters and row number of a zero-based cell: (2, 6) is "C7".
std::string cellName(std::uint32_t column, std::uint32_t row);

}  // namespace workbook
