#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct PictureKind {
    std::string name;  // says what it is, for a failing test's message
    std::vector<std::uint8_t> bytes;
};

// Pictures of every kind the save decodes itself, each with a pattern that visits its range of
// values (uneven sizes leave partial bytes of packed rows and partial JPEG blocks): PNG of each
// colour type and bit depth, plain and interlaced, with a transparent colour or entries and with a
// gamma; JPEG in grey, colour in each sampling, CMYK, progressive and turned by its EXIF
// orientation. Then the kinds that go through the renderer: BMP and GIF.
std::vector<PictureKind> pictureKinds(int width = 19, int height = 13);

}  // namespace testing_support
