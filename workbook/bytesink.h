#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace workbook {

// Where a reader puts bytes whose size it knows before reading them, so that a caller can hand
// out its own buffer (a QByteArray, say) and a picture is never held twice.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Room for exactly size bytes; called once per read.
    virtual std::uint8_t* allocate(std::size_t size) = 0;
    // Offered first when the reader already holds the bytes whole (an image several pictures
    // share): a sink that takes them, or what it made of them before, returns true and is not
    // asked to allocate. The bytes never change while they live.
    virtual bool adopt(const std::shared_ptr<const std::vector<std::uint8_t>>& bytes) {
        (void)bytes;
        return false;
    }
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
