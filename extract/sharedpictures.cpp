#include "extract/sharedpictures.h"

namespace extract {

platform::Picture SharedPictures::share(const platform::Picture& picture) {
    if (picture.isNull()) {
        return picture;
    }
    // Bytes that already share a kept picture's buffer are that picture's: nothing to compare.
    if (auto known = m_byData.constFind(picture.bytes().constData()); known != m_byData.cend()) {
        return known.value();
    }
    const size_t hash = qHash(picture.bytes());
    for (auto it = m_byHash.constFind(hash); it != m_byHash.cend() && it.key() == hash; ++it) {
        if (it.value() == picture) {
            return it.value();
        }
    }
    m_byHash.insert(hash, picture);
    m_byData.insert(picture.bytes().constData(), picture);
    return picture;
}

}  // namespace extract
