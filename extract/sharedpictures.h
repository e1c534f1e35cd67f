#pragma once

#include <QHash>
#include <QMultiHash>

#include "platform/picture.h"

namespace extract {

// Hands out one copy of each distinct picture's bytes for a run: pictures with the same bytes
// (one image shown many times, or the same workbook listed twice) share them in the image
// holders, so the run holds each image once however often it appears.
class SharedPictures {
public:
    // The picture of the run with the same bytes, or this one, now known to the run.
    platform::Picture share(const platform::Picture& picture);

private:
    QHash<const char*, platform::Picture> m_byData;  // bytes already shared, by their buffer
    QMultiHash<size_t, platform::Picture> m_byHash;
};

}  // namespace extract
