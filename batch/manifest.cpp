#include "batch/manifest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "batch/pathtext.h"
#include "platform/livetemporaries.h"

namespace batch {
namespace {

std::string numberOrNull(int value) {
    return value > 0 ? std::to_string(value) : "null";
}

std::string textOrNull(const std::string& text) {
    return text.empty() ? "null" : jsonString(text);
}

std::string jsonRow(const ManifestRow& r) {
    return "{\"workbook\": " + jsonString(r.workbook) +
           ", \"worksheet\": " + textOrNull(r.worksheet) +
           ", \"number\": " + numberOrNull(r.number) + ", \"cell\": " + textOrNull(r.cell) +
           ", \"format\": " + textOrNull(r.format) + ", \"width\": " + numberOrNull(r.width) +
           ", \"height\": " + numberOrNull(r.height) +
           ", \"bytes\": " + (r.bytes ? std::to_string(*r.bytes) : "null") +
           ", \"sha256\": " + textOrNull(r.sha256) + ", \"output\": " + textOrNull(r.output) +
           ", \"skipped\": " + textOrNull(r.skipped) + "}";
}

std::string csvRow(const ManifestRow& r) {
    auto number = [](int value) { return value > 0 ? std::to_string(value) : std::string(); };
    return csvField(r.workbook) + ',' + csvField(r.worksheet) + ',' + number(r.number) + ',' +
           csvField(r.cell) + ',' + csvField(r.format) + ',' + number(r.width) + ',' +
           number(r.height) + ',' + (r.bytes ? std::to_string(*r.bytes) : "") + ',' +
           csvField(r.sha256) + ',' + csvField(r.output) + ',' + csvField(r.skipped) + "\n";
}

constexpr int kTemporaryNameAttempts = 100;

constexpr char kCsvHeader[] =
    "workbook,worksheet,number,cell,format,width,height,bytes,sha256,output,skipped\n";

}  // namespace

ManifestWriter::ManifestWriter(std::string path, ManifestFormat format)
    : m_path(std::move(path)), m_format(format) {
    // A hidden temporary in the manifest's own folder, so the rename cannot cross file systems.
    const std::size_t slash = m_path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : m_path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? m_path : m_path.substr(slash + 1);
    // Made with the mode every new file gets (the user's umask applies), under a name of its own
    // that the save's sweep of stale picture temporaries (".*.tmp") leaves alone.
    std::random_device random;
    int fd = -1;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && fd < 0; ++attempt) {
        m_temporary = folder + "." + name.substr(0, 64) + "." + std::to_string(random()) + ".part";
        fd = platform::createLiveTemporary(m_temporary.c_str(), &m_slot);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        m_error = std::strerror(errno);
        return;
    }
    m_file = ::fdopen(fd, "w");
    if (!m_file) {
        m_error = std::strerror(errno);
        ::close(fd);
        ::unlink(m_temporary.c_str());
        platform::releaseLiveTemporary(m_slot);
        m_slot = -1;
        return;
    }
    std::fputs(m_format == ManifestFormat::Csv ? kCsvHeader : "[", m_file);
}

ManifestWriter::~ManifestWriter() {
    if (m_file) {
        std::fclose(m_file);
        ::unlink(m_temporary.c_str());
        platform::releaseLiveTemporary(m_slot);
    }
}

void ManifestWriter::add(const ManifestRow& row) {
    if (!m_file) {
        return;
    }
    if (m_format == ManifestFormat::Csv) {
        std::fputs(csvRow(row).c_str(), m_file);
    } else {
        std::fputs(m_first ? "\n" : ",\n", m_file);
        std::fputs(jsonRow(row).c_str(), m_file);
    }
    m_first = false;
}

std::string ManifestWriter::finish() {
    if (!m_file) {
        return m_error;
    }
    if (m_format == ManifestFormat::Json) {
        std::fputs(m_first ? "]\n" : "\n]\n", m_file);
    }
    const bool written = std::ferror(m_file) == 0;
    const int closed = std::fclose(m_file);
    m_file = nullptr;
    std::string reason;
    if (!written || closed != 0) {
        reason = std::strerror(errno ? errno : EIO);
    } else if (::rename(m_temporary.c_str(), m_path.c_str()) != 0) {
        reason = std::strerror(errno);
    }
    if (!reason.empty()) {
        ::unlink(m_temporary.c_str());
    }
    platform::releaseLiveTemporary(m_slot);
    m_slot = -1;
    return reason;
}

}  // namespace batch
