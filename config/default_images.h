// The four built-in factory default images, one per firmware version and
// unit type. Each is the prefix of a configuration image: loading one erases
// the image and copies these bytes to offset 0. Portable: no Windows here.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t defaultImageLength10005 = 122;  // header, AP2 RES, AP1 RES
constexpr size_t defaultImageLength12300 = 232;  // and the AP2 5V, AP1 5V tables

extern const uint8_t defaultVss10005[defaultImageLength10005];
extern const uint8_t defaultVssEct10005[defaultImageLength10005];
extern const uint8_t defaultVss12300[defaultImageLength12300];
extern const uint8_t defaultVssEct12300[defaultImageLength12300];

struct DefaultImage {
    const uint8_t *bytes = nullptr;  // null: no default image for that pair
    size_t length = 0;
};

// The default image for a firmware version (10005, 12300) and unit type
// (2 VSS+ECT, 3 VSS); an empty DefaultImage for any other pair.
DefaultImage FindDefaultImage(uint16_t firmwareVersion, uint16_t firmwareType);

// The image the factory format writes, from its two questions: a unit with
// the temperature option is type 2, one without type 3; a black harness
// connector means firmware 12300, a white one firmware 10005.
DefaultImage FormatDefaultImage(bool hasEct, bool blackConnector);
