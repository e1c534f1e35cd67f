// Real workbooks from other writers, each checked against what its entry in expected.json
// says the Pictures collections hold.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "workbook/sha256.h"
#include "workbook/workbook.h"

namespace {

QString corpusDir() {
    return QStringLiteral(QUILLFEN_TEST_DATA_DIR "/corpus");
}

QJsonArray expectations() {
    QFile file(corpusDir() + "/expected.json");
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QJsonDocument::fromJson(file.readAll()).array();
}

class Corpus : public ::testing::TestWithParam<QJsonObject> {};

std::string corpusName(const ::testing::TestParamInfo<QJsonObject>& info) {
    std::string name = info.param.value("file").toString().toStdString();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

}  // namespace

TEST(CorpusData, IsPresent) {
    EXPECT_GE(expectations().size(), 40);
}

TEST_P(Corpus, OpensAsExpected) {
    const QJsonObject entry = GetParam();
    const QString expect = entry.value("expect").toString();
    const std::string path = (corpusDir() + "/" + entry.value("file").toString()).toStdString();
    auto opened = workbook::openWorkbook(path);

    if (expect == "error" || (expect == "either" && !opened)) {
        ASSERT_FALSE(opened);
        EXPECT_FALSE(opened.problem().describe().empty());
        return;
    }
    ASSERT_TRUE(opened) << opened.problem().describe();
    workbook::Workbook& book = *opened.value();
    for (const workbook::Problem& problem : book.problems()) {
        ADD_FAILURE() << "damage reported in a sound workbook: " << problem.describe();
    }
    const QJsonArray sheets = entry.value("worksheets").toArray();
    ASSERT_EQ(book.worksheets().size(), std::size_t(sheets.size()));
    for (qsizetype s = 0; s < sheets.size(); ++s) {
        const QJsonObject sheet = sheets[s].toObject();
        const auto& actual = book.worksheets()[std::size_t(s)];
        EXPECT_EQ(actual.name, sheet.value("name").toString().toStdString());
        const QJsonArray pictures = sheet.value("pictures").toArray();
        ASSERT_EQ(actual.pictures.size(), std::size_t(pictures.size())) << actual.name;
        for (qsizetype p = 0; p < pictures.size(); ++p) {
            SCOPED_TRACE("picture " + std::to_string(p + 1) + " of " + actual.name);
            const QJsonObject want = pictures[p].toObject();
            const auto& info = actual.pictures[std::size_t(p)];
            EXPECT_EQ(info.linked, want.value("linked").toBool());
            auto bytes = book.readPictureBytes(std::size_t(s), std::size_t(p));
            if (info.linked) {
                EXPECT_FALSE(bytes);
                continue;
            }
            ASSERT_TRUE(bytes) << bytes.problem().describe();
            EXPECT_EQ(workbook::formatName(info.format),
                      want.value("format").toString().toStdString());
            EXPECT_EQ(workbook::Sha256::hex(bytes.value().data(), bytes.value().size()),
                      want.value("sha256").toString().toStdString());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus, ::testing::ValuesIn([] {
                             std::vector<QJsonObject> entries;
                             for (const QJsonValue& v : expectations()) {
                                 entries.push_back(v.toObject());
                             }
                             return entries;
                         }()),
                         corpusName);
