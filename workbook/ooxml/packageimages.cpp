#include "workbook/ooxml/packageimages.h"

#include <algorithm>

#include "workbook/limits.h"

namespace workbook {

ImageInfo sniffPackageImage(ZipReader& zip, std::uint64_t entry, ImageSniffer sniff) {
    std::vector<std::uint8_t> head = zip.readPrefix(entry, kSniffBytes);
    ImageInfo info = sniff(head.data(), head.size());
    // A JPEG's size may stand past a large thumbnail or profile, a WMF's past the escape
    // records of the EMF it was made from.
    const std::uint64_t further = info.width != 0                    ? 0
                                  : info.format == ImageFormat::Jpeg ? kJpegSniffBytes
                                  : info.format == ImageFormat::Wmf
                                      ? kSniffBytes + kMetafileLeadingEscapeBytes
                                      : 0;
    if (further > 0 && zip.declaredSize(entry) > head.size()) {
        head = zip.readPrefix(entry, further);
        info = sniff(head.data(), head.size());
    }
    return info;
}

std::optional<Problem> SharedImages::copy(ZipReader& zip, std::uint64_t entry, ByteSink& sink) {
    auto shared = kept(zip, entry);
    if (!shared) {
        return shared.problem();
    }
    if (const Bytes& bytes = shared.value()) {
        if (!sink.adopt(bytes)) {
            std::copy(bytes->begin(), bytes->end(), sink.allocate(bytes->size()));
        }
        return std::nullopt;
    }
    return zip.readAll(entry, kMaxMediaBytes, ZipReader::Budget::Copy, sink);
}

Result<SharedImages::Bytes> SharedImages::kept(ZipReader& zip, std::uint64_t entry) {
    if (auto it = m_kept.find(entry); it != m_kept.end()) {
        return it->second;
    }
    const std::uint64_t size = zip.declaredSize(entry);
    auto uses = m_uses.find(entry);
    if (uses == m_uses.end() || uses->second < 2 || size > kMaxSharedImageCacheBytes) {
        return Bytes();
    }
    if (m_keptBytes + size > kMaxSharedImageCacheBytes) {
        // Pictures sharing an image mostly follow one another; the older images go.
        m_kept.clear();
        m_keptBytes = 0;
    }
    VectorSink sink;
    if (auto problem = zip.readAll(entry, kMaxMediaBytes, ZipReader::Budget::Copy, sink)) {
        return *problem;
    }
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(sink.bytes));
    m_keptBytes += bytes->size();
    m_kept.emplace(entry, bytes);
    return Bytes(std::move(bytes));
}

}  // namespace workbook
