#include "platform/directorylisting.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <QStringDecoder>
#include <algorithm>
#include <memory>

#include "platform/filepath.h"

namespace platform {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

DirectoryEntry::Kind kindOf(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) {
        return DirectoryEntry::Kind::Folder;
    }
    if (S_ISREG(st.st_mode)) {
        return DirectoryEntry::Kind::File;
    }
    return DirectoryEntry::Kind::Other;
}

// The d_type when it settles the question; links and unknown types are looked up by the raw
// name, which still works for a name that cannot be shown in UTF-8.
DirectoryEntry::Kind kindOf(DIR* dir, const dirent* entry) {
    switch (entry->d_type) {
        case DT_REG:
            return DirectoryEntry::Kind::File;
        case DT_DIR:
            return DirectoryEntry::Kind::Folder;
        case DT_LNK:
        case DT_UNKNOWN: {
            struct stat st {};
            if (fstatat(dirfd(dir), entry->d_name, &st, 0) == 0) {
                return kindOf(st);
            }
            return DirectoryEntry::Kind::Other;
        }
        default:
            return DirectoryEntry::Kind::Other;
    }
}

// A name's place in a listing: its upper-case form, one UTF-16 unit at a time.
QString upperCaseForm(const std::string& name) {
    QString form = entryNameFromBytes(name.c_str());
    for (QChar& c : form) {
        c = c.toUpper();
    }
    return form;
}

// The order the file system the folder scan was written for lists a folder in: by the names'
// upper-case forms, so "b.xlsx" comes between "A.xlsx" and "C.xlsx" whatever order the disk
// keeps them in. Names that differ only in letter case (or in bytes that are not UTF-8) keep
// one fixed order, by their bytes.
void sortAsListed(std::vector<RawDirectoryEntry>& entries) {
    std::vector<std::pair<QString, RawDirectoryEntry>> keyed;
    keyed.reserve(entries.size());
    for (RawDirectoryEntry& entry : entries) {
        keyed.emplace_back(upperCaseForm(entry.name), std::move(entry));
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) {
            return a.first < b.first;
        }
        return a.second.name < b.second.name;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        entries[i] = std::move(keyed[i].second);
    }
}

bool sameLetter(QChar a, QChar b) {
    return a == b || a.toCaseFolded() == b.toCaseFolded();
}

}  // namespace

QString entryNameFromBytes(const char* bytes) {
    const QByteArray raw(bytes);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString name = decoder.decode(raw);
    if (!decoder.hasError()) {
        return name;
    }
    name.replace(QChar(QChar::ReplacementCharacter), QChar('?'));
    return name;
}

std::vector<RawDirectoryEntry> readDirectoryBytes(const std::string& folder) {
    std::vector<RawDirectoryEntry> entries;
    if (folder.empty()) {
        return entries;
    }
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) {
        return entries;
    }
    while (const dirent* entry = readdir(dir.get())) {
        const char* raw = entry->d_name;
        if ((raw[0] == '.' && raw[1] == '\0') ||
            (raw[0] == '.' && raw[1] == '.' && raw[2] == '\0')) {
            continue;
        }
        entries.push_back({raw, kindOf(dir.get(), entry)});
    }
    sortAsListed(entries);
    return entries;
}

std::vector<DirectoryEntry> readDirectory(const QString& folder) {
    std::vector<DirectoryEntry> entries;
    for (RawDirectoryEntry& entry : readDirectoryBytes(pathToBytes(folder).toStdString())) {
        entries.push_back({pathFromBytes(QByteArray::fromStdString(entry.name)), entry.kind});
    }
    return entries;
}

bool matchesPattern(const QString& name, const QString& pattern) {
    const qsizetype n = name.size();
    const qsizetype m = pattern.size();
    // matched[j]: the pattern so far matches the first j characters of the name.
    std::vector<char> matched(static_cast<std::size_t>(n) + 1, 0);
    std::vector<char> next(matched.size(), 0);
    matched[0] = 1;
    for (qsizetype i = 0; i < m; ++i) {
        const QChar p = pattern[i];
        std::fill(next.begin(), next.end(), 0);
        if (p == QChar('*')) {
            char any = 0;
            for (qsizetype j = 0; j <= n; ++j) {
                any = any || matched[static_cast<std::size_t>(j)];
                next[static_cast<std::size_t>(j)] = any;
            }
        } else {
            for (qsizetype j = 0; j < n; ++j) {
                if (matched[static_cast<std::size_t>(j)] &&
                    (p == QChar('?') || sameLetter(p, name[j]))) {
                    next[static_cast<std::size_t>(j) + 1] = 1;
                }
            }
            if (p == QChar('.')) {
                bool onlyStarsFollow = true;
                for (qsizetype k = i + 1; k < m && onlyStarsFollow; ++k) {
                    onlyStarsFollow = pattern[k] == QChar('*');
                }
                if (onlyStarsFollow && matched[static_cast<std::size_t>(n)]) {
                    next[static_cast<std::size_t>(n)] = 1;
                }
            }
        }
        matched.swap(next);
    }
    return matched[static_cast<std::size_t>(n)] != 0;
}

}  // namespace platform
