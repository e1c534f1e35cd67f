#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace workbook {

// Where a reader puts bytes whose size it knows before reading them, so that a caller can hand
// out its own buffer (a QByteArray, say) and a picture is never held twice.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Room for exactly size bytes; called once per read.
    virtual std::uint8_t* allocate(std::size_t size) = 0;
};

// A sink that keeps the bytes in a vector.
class VectorSink : public ByteSink {
public:
    std::uint8_t* allocate(std::size_t size) override {
        bytes.resize(size);
        return bytes.data();
    }
    std::vector<std::uint8_t> bytes;
};

}  // namespace workbook
