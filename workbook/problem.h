#pragma once

#include <string>
#include <utility>
#include <variant>

namespace workbook {

// Why a workbook, or one of its pictures, could not be read.
enum class ProblemKind {
    NotAWorkbook,  // the bytes are not a workbook of any kind we know
    Damaged,       // a workbook, but inconsistent or cut short
    Unsupported,   // a workbook in a form this engine does not read (yet)
    Encrypted,     // a workbook that needs a password
    TooLarge,      // a limit of the engine was reached
    Io,            // the file itself could not be read
    LinkedImage,   // a picture whose image is only linked; the detail is the link target
};

// A reader's answer when it cannot go on: what went wrong, where (a part name, stream or
// record), and a short detail. Readers return it; they never throw for bad input.
struct Problem {
    ProblemKind kind = ProblemKind::Damaged;
    std::string place;
    std::string detail;

    // The sentence a user reads, e.g. "the workbook is damaged (xl/drawings/drawing1.xml:
    // unexpected end of data)".
    std::string describe() const;
};

Problem damaged(std::string place, std::string detail);
Problem tooLarge(std::string place, std::string detail);

// A value or the problem that kept it from being made.
template <typename T>
class Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Problem problem) : m_state(std::move(problem)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(m_state); }
    const T& value() const { return std::get<0>(m_state); }
    T& operator*() { return value(); }
    T* operator->() { return &value(); }
    const Problem& problem() const { return std::get<1>(m_state); }

private:
    std::variant<T, Problem> m_state;
};

}  // namespace workbook
