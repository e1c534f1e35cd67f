#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "workbook/problem.h"

namespace workbook {

// Finds a worksheet's <drawing r:id="..."/> while the part streams past, without building a
// tree: worksheet parts can be hundreds of megabytes of cells.
class SheetScanner {
public:
    explicit SheetScanner(std::string place) : m_place(std::move(place)) {}

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
    bool fail(Problem problem);

    std::string m_place;
    std::string m_pending;
    int m_depth = 0;
    bool m_sawRoot = false;
    bool m_started = false;
    bool m_needsTree = false;
    std::optional<Problem> m_problem;
    std::optional<std::string> m_drawingId;
};

}  // namespace workbook
