#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workbook/problem.h"

namespace workbook {

// Finds a worksheet's <drawing r:id="..."/> while the part streams past, without building a
// tree: worksheet parts can be hundreds of megabytes of cells. On request it also notes the
// cells that hold an in-cell picture on the way.
class SheetScanner {
public:
    explicit SheetScanner(std::string place) : m_place(std::move(place)) {}

    // A cell holding an in-cell picture: by its value-metadata index, or by the id its DISPIMG
    // formula names. Zero-based row and column.
    struct Cell {
        std::uint32_t row = 0;
        std::uint32_t column = 0;
        std::uint32_t valueMetadata = 0;
        std::string dispimgId;
    };
    // Notes the cells whose value-metadata index is marked in imageValueMetadata (which must
    // outlive the scan), and with dispimg those whose formula is a DISPIMG.
    void collectCells(const std::vector<bool>* imageValueMetadata, bool dispimg) {
        m_imageValueMetadata = imageValueMetadata;
        m_dispimg = dispimg;
    }
    const std::vector<Cell>& cells() const { return m_cells; }

    // Takes the next bytes; false once the answer is known or a problem was found.
    bool feed(const char* data, std::size_t size);
    // To be called at the end of the data, unless feed returned false.
    void finish();

    const std::optional<Problem>& problem() const { return m_problem; }
    // The relationship id of the drawing element, when the worksheet has one.
    const std::optional<std::string>& drawingId() const { return m_drawingId; }
    // The part is UTF-16, which this scanner does not read; parse it whole instead.
    bool needsTree() const { return m_needsTree; }

private:
    enum class Step { Done, NeedMore, Stop };
    Step scanOne(std::size_t& pos);
    void startTag(std::string_view tag);
    void cellTag(std::string_view local, std::string_view tag, std::size_t attributes,
                 bool selfClosing);
    void endFormula();
    void keepFormulaText(std::string_view text);
    bool fail(Problem problem);

    std::string m_place;
    std::string m_pending;
    int m_depth = 0;
    bool m_sawRoot = false;
    bool m_started = false;
    bool m_needsTree = false;
    std::optional<Problem> m_problem;
    std::optional<std::string> m_drawingId;

    const std::vector<bool>* m_imageValueMetadata = nullptr;
    bool m_dispimg = false;
    std::vector<Cell> m_cells;
    // Where the scan is among the cells: rows and cells may leave out their reference.
    std::int64_t m_row = -1;
    std::int64_t m_column = -1;
    bool m_inFormula = false;
    bool m_formulaTooLong = false;
    std::string m_formula;
};

}  // namespace workbook
