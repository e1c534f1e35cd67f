#pragma once

#include <QString>

#include "platform/picture.h"

namespace extract {

// What the extraction writes into the results window (Form2): its rows and its image holders.
// Members throw platform::RuntimeError as the window's controls would.
class ResultsTarget {
public:
    virtual ~ResultsTarget() = default;

    // Appends a row: text in column "Preview", imageNo in column "Image No.".
    virtual void appendResultRow(const QString& text, const QString& imageNo) = 0;
    // Creates element index (>= 1) of Image1; throws 360 when it already exists.
    virtual void createImageHolder(int index) = 0;
    // Puts the picture into element index; throws 340 when the element does not exist.
    virtual void setImageHolderPicture(int index, const platform::Picture& picture) = 0;
    // Destroys element index (>= 1); throws 340 when it does not exist.
    virtual void destroyImageHolder(int index) = 0;
};

}  // namespace extract
