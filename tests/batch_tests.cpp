// quillfen-batch --list: usage, exit status and the JSON shape other tools read.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <sstream>

#include "batch/runbatch.h"
#include "builders/zipbuilder.h"
#include "workbook/sha256.h"

namespace {

const std::string kCorpus = QUILLFEN_TEST_DATA_DIR "/corpus/";

struct BatchRun {
    int status;
    std::string out;
    std::string err;
};

BatchRun run(const std::vector<std::string>& arguments) {
    std::ostringstream out, err;
    int status = batch::runBatch(arguments, out, err);
    return {status, out.str(), err.str()};
}

}  // namespace

TEST(BatchList, BadUsageExitsWithTwo) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {}, {"--list"}, {kCorpus + "xlsx/xw_image01.xlsx"}, {"--list", "--frobnicate", "x"}}) {
        BatchRun r = run(arguments);
        EXPECT_EQ(r.status, batch::kExitUsage);
        EXPECT_NE(r.err.find("usage: quillfen-batch"), std::string::npos);
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(BatchList, JsonListsNumbersAcrossWorksheetsAndLinkedPictures) {
    BatchRun r = run(
        {"--list", "--json", kCorpus + "xlsx/xw_image07.xlsx", kCorpus + "xlsx/pss_urlImage.xlsx"});
    EXPECT_EQ(r.status, batch::kExitOk) << r.err;
    QJsonParseError error;
    QJsonArray all = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out;
    ASSERT_EQ(all.size(), 2);

    QJsonObject first = all[0].toObject();
    EXPECT_TRUE(first.value("error").isNull());
    QJsonArray sheets = first.value("worksheets").toArray();
    ASSERT_EQ(sheets.size(), 2);
    QJsonObject second = sheets[1].toObject().value("pictures").toArray()[0].toObject();
    EXPECT_EQ(second.value("number").toInt(), 2);  // counted across worksheets
    EXPECT_EQ(second.value("format").toString(), "png");
    EXPECT_EQ(second.value("width").toInt(), 72);
    EXPECT_EQ(second.value("height").toInt(), 72);
    EXPECT_EQ(second.value("bytes").toInt(), 316);
    EXPECT_EQ(second.value("sha256").toString(),
              "14d80c2831a28316aa85ca88c18897691f1fe03212516a7348439e4e3b25b3f7");
    EXPECT_EQ(second.value("linked").toBool(), false);
    EXPECT_EQ(second.value("cell").toString(), "E9");

    QJsonObject linked = all[1]
                             .toObject()
                             .value("worksheets")
                             .toArray()[0]
                             .toObject()
                             .value("pictures")
                             .toArray()[0]
                             .toObject();
    EXPECT_TRUE(linked.value("linked").toBool());
    EXPECT_TRUE(linked.value("sha256").isNull());
    EXPECT_TRUE(linked.value("bytes").isNull());
}

TEST(BatchList, AFailedWorkbookIsListedWithItsErrorAndExitsWithOne) {
    BatchRun r = run(
        {"--list", "--json", kCorpus + "xlsx/poi_protect.xlsx", kCorpus + "xlsx/xw_image01.xlsx"});
    EXPECT_EQ(r.status, batch::kExitFailed);
    QJsonArray all = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0].toObject().value("error").toString(), "the workbook is password-protected");
    EXPECT_TRUE(all[0].toObject().value("worksheets").toArray().isEmpty());
    EXPECT_EQ(all[1].toObject().value("worksheets").toArray().size(), 1);
    EXPECT_NE(r.err.find("poi_protect.xlsx: the workbook is password-protected"),
              std::string::npos);
}

TEST(BatchList, AMissingPartIsListedAsAProblemAndExitsWithOne) {
    QTemporaryDir folder;
    const std::string path = folder.filePath("damaged.xlsx").toStdString();
    testing_support::packageWith({{"A", "worksheet", "", {}, {}}, {"B", "worksheet", "", {}, {}}})
        .remove("xl/worksheets/sheet1.xml")
        .save(path);
    const std::string problem =
        "the workbook is damaged (xl/worksheets/sheet1.xml: the part is missing)";
    BatchRun json = run({"--list", "--json", path});
    EXPECT_EQ(json.status, batch::kExitFailed);
    QJsonObject book =
        QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).array()[0].toObject();
    EXPECT_TRUE(book.value("error").isNull());
    EXPECT_EQ(book.value("problems").toArray(), QJsonArray{QString::fromStdString(problem)});
    EXPECT_EQ(book.value("worksheets").toArray().size(), 1);
    EXPECT_NE(json.err.find("damaged.xlsx: " + problem), std::string::npos);
    BatchRun text = run({"--list", path});
    EXPECT_EQ(text.status, batch::kExitFailed);
    EXPECT_NE(text.out.find("  problem: " + problem + "\n"), std::string::npos) << text.out;
}

TEST(BatchList, TextNamesEveryWorksheetAndPicture) {
    BatchRun r = run({"--list", kCorpus + "xlsx/xw_image07.xlsx"});
    EXPECT_EQ(r.status, batch::kExitOk);
    EXPECT_NE(
        r.out.find("  worksheet \"Sheet2\": 1 picture\n"
                   "    2  png  72x72  316 bytes  sha256 "
                   "14d80c2831a28316aa85ca88c18897691f1fe03212516a7348439e4e3b25b3f7  cell E9\n"),
        std::string::npos)
        << r.out;
}

TEST(Sha256, MatchesKnownDigests) {
    EXPECT_EQ(workbook::Sha256::hex(nullptr, 0),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    std::string abc = "abc";
    EXPECT_EQ(workbook::Sha256::hex(reinterpret_cast<const std::uint8_t*>(abc.data()), 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Input across block edges, fed in uneven pieces.
    std::string text(1000, 'a');
    workbook::Sha256 sha;
    for (std::size_t at = 0; at < text.size(); at += 7) {
        sha.update(reinterpret_cast<const std::uint8_t*>(text.data()) + at,
                   std::min<std::size_t>(7, text.size() - at));
    }
    auto digest = sha.digest();
    EXPECT_EQ(workbook::Sha256::hex(reinterpret_cast<const std::uint8_t*>(text.data()), 1000), [&] {
        std::string hex;
        for (std::uint8_t b : digest) {
            hex += "0123456789abcdef"[b >> 4];
            hex += "0123456789abcdef"[b & 15];
        }
        return hex;
    }());
}
