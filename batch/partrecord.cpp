#include "batch/partrecord.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/livetemporaries.h"

namespace batch {
namespace {

constexpr char kHeader[] = "quillfen-part 1";
constexpr std::size_t kPictureFields = 13;

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// The fields of a line, unescaped; nothing when an escape is not one of ours.
std::optional<std::vector<std::string>> fieldsOf(std::string_view line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c != '\\') {
            fields.back() += c;
        } else if (++i < line.size()) {
            const char e = line[i];
            if (e == '\\') {
                fields.back() += '\\';
            } else if (e == 't') {
                fields.back() += '\t';
            } else if (e == 'n') {
                fields.back() += '\n';
            } else if (e == 'r') {
                fields.back() += '\r';
            } else {
                return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
    }
    return fields;
}

template <typename Number>
std::optional<Number> numberOf(const std::string& text) {
    Number value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string line(std::initializer_list<std::string_view> fields) {
    std::string text;
    for (std::string_view field : fields) {
        text += text.empty() ? "" : "\t";
        text += escaped(field);
    }
    return text + "\n";
}

}  // namespace

PartRecordWriter::PartRecordWriter(const std::string& folder)
    : m_path(folder + "/" + kPartRecordName), m_temporary(m_path + ".partial") {
    // A record a killed run left half-written is replaced; the new one is known as a live
    // temporary, so a run that ends at once on a signal leaves none.
    std::remove(m_temporary.c_str());
    const int fd = platform::createLiveTemporary(m_temporary.c_str(), &m_slot);
    m_file = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (!m_file) {
        m_error = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
            std::remove(m_temporary.c_str());
            platform::releaseLiveTemporary(m_slot);
        }
        return;
    }
    std::fputs((std::string(kHeader) + "\n").c_str(), m_file);
}

PartRecordWriter::~PartRecordWriter() {
    if (m_file) {
        std::fclose(m_file);
        std::remove(m_temporary.c_str());
        platform::releaseLiveTemporary(m_slot);
    }
}

void PartRecordWriter::add(const WorkbookReport& workbook) {
    if (!m_file) {
        return;
    }
    std::string text = line({"w", workbook.path, workbook.error});
    for (const std::string& problem : workbook.problems) {
        text += line({"p", problem});
    }
    for (const PictureReport& p : workbook.pictures) {
        // The file is named within the part's folder: the merge may reach it by another path.
        const std::string file =
            p.written ? p.outputPath.substr(p.outputPath.rfind('/') + 1) : std::string();
        text += line({"i", p.worksheet, std::to_string(p.number), p.cell, p.format,
                      std::to_string(p.width), std::to_string(p.height),
                      p.bytes ? std::to_string(*p.bytes) : "", p.sha256, p.baseName.toStdString(),
                      p.extension.toStdString(), file, p.skip ? std::to_string(int(*p.skip)) : "",
                      p.reason});
    }
    std::fputs(text.c_str(), m_file);
}

std::string PartRecordWriter::finish(std::size_t workbooks) {
    if (!m_file) {
        return m_error;
    }
    std::fputs(line({"end", std::to_string(workbooks)}).c_str(), m_file);
    const bool written = std::ferror(m_file) == 0;
    const int closed = std::fclose(m_file);
    m_file = nullptr;
    std::string reason;
    if (!written || closed != 0) {
        reason = std::strerror(errno ? errno : EIO);
    } else if (std::rename(m_temporary.c_str(), m_path.c_str()) != 0) {
        reason = std::strerror(errno);
    }
    if (!reason.empty()) {
        std::remove(m_temporary.c_str());
    }
    platform::releaseLiveTemporary(m_slot);
    return reason;
}

PartRecordReader::PartRecordReader(const std::string& folder)
    : m_folder(folder), m_in(folder + "/" + kPartRecordName, std::ios::binary) {
    if (!m_in) {
        fail(std::strerror(errno ? errno : ENOENT));
    } else if (!std::getline(m_in, m_line) || m_line != kHeader) {
        fail("not a part's record");
    } else if (!std::getline(m_in, m_line)) {
        fail("the record is not whole");
    }
    m_lineNumber = 2;
}

bool PartRecordReader::fail(const std::string& why) {
    if (m_error.empty()) {
        m_error = m_lineNumber > 0 ? "line " + std::to_string(m_lineNumber) + ": " + why : why;
    }
    return false;
}

std::optional<WorkbookReport> PartRecordReader::next() {
    if (!m_error.empty() || m_ended) {
        return std::nullopt;
    }
    std::optional<std::vector<std::string>> fields = fieldsOf(m_line);
    if (!fields) {
        fail("bad escape");
        return std::nullopt;
    }
    if ((*fields)[0] == "end") {
        if (fields->size() != 2 || numberOf<std::size_t>((*fields)[1]) != m_workbooks) {
            fail("the end does not count the workbooks");
        }
        m_ended = true;
        return std::nullopt;
    }
    if ((*fields)[0] != "w" || fields->size() != 3) {
        fail("a workbook was expected");
        return std::nullopt;
    }
    WorkbookReport workbook;
    workbook.path = std::move((*fields)[1]);
    workbook.error = std::move((*fields)[2]);
    ++m_workbooks;
    while (true) {
        if (!std::getline(m_in, m_line)) {
            fail("the record is not whole");
            return std::nullopt;
        }
        ++m_lineNumber;
        fields = fieldsOf(m_line);
        if (!fields) {
            fail("bad escape");
            return std::nullopt;
        }
        std::vector<std::string>& f = *fields;
        if (f[0] == "p" && f.size() == 2) {
            workbook.problems.push_back(std::move(f[1]));
        } else if (f[0] == "i" && f.size() == kPictureFields + 1) {
            const auto number = numberOf<int>(f[2]);
            const auto width = numberOf<int>(f[5]);
            const auto height = numberOf<int>(f[6]);
            const auto bytes = numberOf<std::uint64_t>(f[7]);
            const auto skip = numberOf<int>(f[12]);
            if (!number || !width || !height || (!bytes && !f[7].empty()) ||
                (!skip && !f[12].empty()) || (skip && (*skip < 0 || *skip >= int(kSkipKinds)))) {
                fail("a picture's numbers are bad");
                return std::nullopt;
            }
            // A file is named within the part's folder, never beside it.
            if (f[11] == "." || f[11] == ".." || f[11].find('/') != std::string::npos) {
                fail("a picture's file is not in the part's folder");
                return std::nullopt;
            }
            const bool written = !f[11].empty();
            workbook.pictures.push_back(
                {.worksheet = std::move(f[1]),
                 .number = *number,
                 .cell = std::move(f[3]),
                 .format = std::move(f[4]),
                 .width = *width,
                 .height = *height,
                 .bytes = bytes,
                 .sha256 = std::move(f[8]),
                 .baseName = QString::fromStdString(f[9]),
                 .extension = QString::fromStdString(f[10]),
                 .outputPath = written ? m_folder + "/" + f[11] : "",
                 .written = written,
                 .skip = skip ? std::optional(SkipKind(*skip)) : std::nullopt,
                 .reason = std::move(f[13])});
        } else {
            return workbook;  // the line is the next workbook's, or the end
        }
    }
}

}  // namespace batch
