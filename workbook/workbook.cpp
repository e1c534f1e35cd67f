#include "workbook/workbook.h"

#include <algorithm>

#include "workbook/bytesource.h"
#include "workbook/limits.h"
#include "workbook/ods/odsworkbook.h"
#include "workbook/ooxml/xlsxworkbook.h"
#include "workbook/ooxml/zipreader.h"
#include "workbook/xls/compoundfile.h"
#include "workbook/xls/xlsworkbook.h"

namespace workbook {
namespace {

// A compound file is either a password-protected package or a binary workbook.
Result<std::unique_ptr<Workbook>> openCompoundFile(std::unique_ptr<ByteSource> source,
                                                   const OpenOptions& options) {
    auto file = CompoundFile::open(*source);
    if (!file) {
        return file.problem();
    }
    if (file.value().hasStream("EncryptedPackage") || file.value().hasStream("EncryptionInfo")) {
        return Problem{ProblemKind::Encrypted, "", ""};
    }
    if (file.value().rootStream("Workbook") || file.value().rootStream("Book")) {
        return XlsWorkbook::open(std::move(source), std::move(file.value()), options);
    }
    if (file.value().hasStream("WordDocument")) {
        return Problem{ProblemKind::NotAWorkbook, "", "it is a word-processing document"};
    }
    return Problem{ProblemKind::NotAWorkbook, "", "it is a compound file without a workbook"};
}

// Workbooks of the oldest binary formats are a bare record stream starting with a BOF record.
bool isBareOldBiff(const std::uint8_t* head, std::size_t n) {
    if (n < 4) {
        return false;
    }
    std::uint16_t type = std::uint16_t(head[0] | (head[1] << 8));
    std::uint16_t size = std::uint16_t(head[2] | (head[3] << 8));
    return (type == 0x0009 || type == 0x0209 || type == 0x0409) && size >= 4 && size <= 16;
}

// Opens whatever the first bytes say the source holds; openZip opens it as a zip archive.
template <typename OpenZip>
Result<std::unique_ptr<Workbook>> openSource(std::unique_ptr<ByteSource> owned, OpenZip openZip,
                                             const OpenOptions& options) {
    ByteSource& source = *owned;
    if (source.size() == 0) {
        return Problem{ProblemKind::NotAWorkbook, "", "the file is empty"};
    }
    std::uint8_t head[8] = {};
    std::size_t n = std::size_t(std::min<std::uint64_t>(source.size(), sizeof head));
    if (!source.read(0, head, n)) {
        return Problem{ProblemKind::Io, "", "the first bytes cannot be read"};
    }
    if (CompoundFile::hasSignature(head, n)) {
        return openCompoundFile(std::move(owned), options);
    }
    if (isBareOldBiff(head, n)) {
        return Problem{ProblemKind::Unsupported, "", "an older workbook format, BIFF2 to BIFF4"};
    }
    if (OdsWorkbook::mayBeFlat(head, n)) {
        return OdsWorkbook::openFlat(std::move(owned), options);
    }
    auto zip = openZip();
    if (!zip) {
        Problem problem = zip.problem();
        if (problem.kind == ProblemKind::NotAWorkbook) {
            // A zip whose end is gone (an interrupted copy) starts like any other.
            static constexpr std::uint8_t kLocalHeader[4] = {'P', 'K', 3, 4};
            if (n >= 4 && std::equal(head, head + 4, kLocalHeader)) {
                return damaged("zip directory", "the end of the archive is missing");
            }
            problem.detail = "it is neither a zip package nor a compound file";
        }
        return problem;
    }
    if (OdsWorkbook::isPackage(*zip.value())) {
        return OdsWorkbook::open(std::move(zip.value()), options);
    }
    return XlsxWorkbook::open(std::move(zip.value()), options);
}

}  // namespace

Result<std::vector<std::uint8_t>> Workbook::readPictureBytes(std::size_t sheet,
                                                             std::size_t picture) {
    VectorSink sink;
    if (auto problem = readPictureBytes(sheet, picture, sink)) {
        return *problem;
    }
    return std::move(sink.bytes);
}

std::optional<Problem> Workbook::chargeCopy(std::uint64_t bytes, const std::string& place) {
    if (bytes > kMaxCopiedBytes - std::min(m_copiedBytes, kMaxCopiedBytes)) {
        return tooLarge(place, "its pictures come to more than " +
                                   std::to_string(kMaxCopiedBytes >> 30) + " GiB to copy");
    }
    m_copiedBytes += bytes;
    return std::nullopt;
}

void Workbook::noteProblem(Problem problem) {
    if (m_problems.size() >= kMaxProblems) {
        return;
    }
    for (const Problem& known : m_problems) {
        if (known.place == problem.place) {
            return;
        }
    }
    m_problems.push_back(std::move(problem));
}

Result<std::unique_ptr<Workbook>> openWorkbook(const std::string& path,
                                               const OpenOptions& options) {
    auto source = FileSource::open(path);
    if (!source) {
        return source.problem();
    }
    return openSource(
        std::move(source.value()), [&] { return ZipReader::openFile(path); }, options);
}

Result<std::unique_ptr<Workbook>> openWorkbook(
    std::shared_ptr<const std::vector<std::uint8_t>> bytes, const OpenOptions& options) {
    return openSource(
        std::make_unique<MemorySource>(bytes), [&] { return ZipReader::openMemory(bytes); },
        options);
}

std::string cellName(std::uint32_t column, std::uint32_t row) {
    std::string letters;
    std::uint64_t n = std::uint64_t(column) + 1;
    while (n > 0) {
        letters.insert(letters.begin(), char('A' + (n - 1) % 26));
        n = (n - 1) / 26;
    }
    return letters + std::to_string(std::uint64_t(row) + 1);
}

}  // namespace workbook
