#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "workbook/problem.h"

namespace workbook {

// One of the consecutive runs of a scattered read: where its bytes go, or nowhere.
struct ByteRun {
    std::uint8_t* to = nullptr;  // null: the bytes are skipped
    std::size_t size = 0;
};

// Random access to the bytes of a workbook file or of a buffer; reads past the end fail.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Exactly n bytes at offset, or false.
    virtual bool read(std::uint64_t offset, void* out, std::size_t n) = 0;
    // The runs one after the other from offset on, each to its own place: a picture spread
    // over many records is read in one go rather than record by record. False when any part
    // cannot be read.
    virtual bool readRuns(std::uint64_t offset, const ByteRun* runs, std::size_t count);
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::shared_ptr<const std::vector<std::uint8_t>> bytes)
        : m_bytes(std::move(bytes)) {}
    std::uint64_t size() const override { return m_bytes->size(); }
    bool read(std::uint64_t offset, void* out, std::size_t n) override;

private:
    std::shared_ptr<const std::vector<std::uint8_t>> m_bytes;
};

class FileSource : public ByteSource {
public:
    // The file, or an I/O problem saying why it cannot be read.
    static Result<std::unique_ptr<FileSource>> open(const std::string& path);
    ~FileSource() override;
    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, void* out, std::size_t n) override;
    bool readRuns(std::uint64_t offset, const ByteRun* runs, std::size_t count) override;

private:
    FileSource(std::FILE* file, std::uint64_t size) : m_file(file), m_size(size) {}
    std::FILE* m_file;
    std::uint64_t m_size;
};

}  // namespace workbook
