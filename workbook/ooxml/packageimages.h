#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "workbook/bytesink.h"
#include "workbook/imageformat.h"
#include "workbook/ooxml/zipreader.h"
#include "workbook/problem.h"

namespace workbook {

// What the image in a package entry is and its size, from as little of its start as tells.
ImageInfo sniffPackageImage(ZipReader& zip, std::uint64_t entry, ImageSniffer sniff);

// The images of a package that several pictures show: each is inflated once, on its first
// copy, and kept for the others within kMaxSharedImageCacheBytes.
class SharedImages {
public:
    // One more picture shows the image in this entry.
    void noteUse(std::uint64_t entry) { ++m_uses[entry]; }

    // Copies the entry's image into sink, from the kept copy where there is one.
    std::optional<Problem> copy(ZipReader& zip, std::uint64_t entry, ByteSink& sink);

private:
    using Bytes = std::shared_ptr<const std::vector<std::uint8_t>>;
    // The kept image of an entry, read now on its first use; null when it is not shared or too
    // large to keep.
    Result<Bytes> kept(ZipReader& zip, std::uint64_t entry);

    std::unordered_map<std::uint64_t, std::size_t> m_uses;
    std::unordered_map<std::uint64_t, Bytes> m_kept;
    std::uint64_t m_keptBytes = 0;
};

}  // namespace workbook
