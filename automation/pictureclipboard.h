#pragma once

#include <optional>

#include "platform/picture.h"

namespace automation {

// The in-process clipboard that Copy puts a picture on; the desktop clipboard is never touched.
class PictureClipboard {
public:
    void setPicture(platform::Picture picture) { m_picture = std::move(picture); }
    void clear() { m_picture.reset(); }
    bool hasPicture() const { return m_picture.has_value(); }
    // The clipboard's picture; a null picture when it holds none.
    platform::Picture picture() const { return m_picture.value_or(platform::Picture()); }

private:
    std::optional<platform::Picture> m_picture;
};

}  // namespace automation
