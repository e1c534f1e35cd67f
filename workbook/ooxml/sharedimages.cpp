#include "workbook/ooxml/sharedimages.h"

#include <algorithm>

#include "workbook/limits.h"

namespace workbook {

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
