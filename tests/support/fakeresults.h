#pragma once

#include <QStringList>
#include <map>

#include "extract/resultstarget.h"
#include "platform/runtimeerror.h"

namespace testing_support {

// Records the rows and holders the extraction writes; can be told to refuse holders.
class FakeResults : public extract::ResultsTarget {
public:
    FakeResults() { holders[0] = platform::Picture(); }

    void appendResultRow(const QString& text, const QString& imageNo) override {
        rows << text + QChar('|') + imageNo;
    }
    void createImageHolder(int index) override {
        if (refuseHolders || holders.count(index) != 0) {
            throw platform::RuntimeError(platform::err::kObjectAlreadyLoaded,
                                         QStringLiteral("Object already loaded"));
        }
        holders[index] = platform::Picture();
    }
    void setImageHolderPicture(int index, const platform::Picture& picture) override {
        if (holders.count(index) == 0) {
            throw platform::RuntimeError(
                platform::err::kControlArrayElementMissing,
                QStringLiteral("Control array element '%1' doesn't exist").arg(index));
        }
        holders[index] = picture;
    }
    void destroyImageHolder(int index) override { holders.erase(index); }

    QStringList rows;  // "text|imageNo"
    std::map<int, platform::Picture> holders;
    bool refuseHolders = false;
};

}  // namespace testing_support
