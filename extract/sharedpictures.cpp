#include "extract/sharedpictures.h"

namespace extract {

platform::Picture SharedPictures::share(const platform::Picture& picture) {
    if (picture.isNull()) {
        return picture;
    }
    const size_t hash = qHash(picture.bytes());
    for (auto it = m_byHash.constFind(hash); it != m_byHash.cend() && it.key() == hash; ++it) {
        if (it.value() == picture) {
            return it.value();
        }
    }
    m_byHash.insert(hash, picture);
    return picture;
}

}  // namespace extract
