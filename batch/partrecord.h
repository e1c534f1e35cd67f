#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "batch/workbookreport.h"

// The record of one part of a run that quillfen-cluster cuts into tasks: what became of each
// workbook of the part, read back by the merge, which gives every picture its name in the whole
// run. A text file of lines whose fields are separated by tabs; a field writes "\" as "\\" and a
// tab, line feed or carriage return as "\t", "\n", "\r", so a path's bytes come back exactly:
//   quillfen-part 1
//   w PATH ERROR                  a workbook, in input order
//   p PROBLEM                     its damage
//   i WORKSHEET NUMBER CELL FORMAT WIDTH HEIGHT BYTES SHA256 BASE EXTENSION FILE SKIP REASON
//                                 its pictures: the name asked for (BASE, EXTENSION; empty when
//                                 none), the file written in the part's folder (FILE), or why
//                                 not (SKIP, the number of the reason's kind, and REASON)
//   end WORKBOOKS                 the part is whole
namespace batch {

// The record's file name in the part's folder.
constexpr char kPartRecordName[] = "part.record";

// Writes a part's record beside its pictures, under a name of its own until it is whole, so a
// record that is there is a whole one.
class PartRecordWriter {
public:
    explicit PartRecordWriter(const std::string& folder);
    ~PartRecordWriter();
    PartRecordWriter(const PartRecordWriter&) = delete;
    PartRecordWriter& operator=(const PartRecordWriter&) = delete;

    // "" when the file is open, else why not.
    const std::string& error() const { return m_error; }
    void add(const WorkbookReport& workbook);
    // Ends the record after the given number of workbooks and puts it in place; "" or why not.
    std::string finish(std::size_t workbooks);

private:
    std::string m_path;
    std::string m_temporary;
    std::FILE* m_file = nullptr;
    int m_slot = -1;  // the temporary's place among the live temporaries
    std::string m_error;
};

// Reads a part's record back one workbook at a time; the pictures' paths are in the folder.
class PartRecordReader {
public:
    explicit PartRecordReader(const std::string& folder);

    // The next workbook; nothing after the last one, or on an error.
    std::optional<WorkbookReport> next();
    // "" or why the record cannot be read (missing, not whole, not a record).
    const std::string& error() const { return m_error; }

private:
    bool fail(const std::string& why);

    std::string m_folder;
    std::ifstream m_in;
    std::string m_line;  // read ahead: the line after the workbook in hand
    std::size_t m_lineNumber = 0;
    std::size_t m_workbooks = 0;
    bool m_ended = false;
    std::string m_error;
};

}  // namespace batch
