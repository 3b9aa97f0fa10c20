// Small helpers the tests share, portable like the code they test: a
// factory default image as the registers of a converter fresh from the
// factory, and whether a message says the words a user is told.
#pragma once

#include "config/config_image.h"
#include "config/default_images.h"

#include <cstdint>
#include <string>

// The default image over erased registers.
inline RegisterImage LoadedImage(const DefaultImage &image)
{
    RegisterImage out;
    out.LoadPrefix(image.bytes, image.length);
    return out;
}

inline RegisterImage FactoryImage(uint16_t version, uint16_t type)
{
    return LoadedImage(FindDefaultImage(version, type));
}

inline bool Contains(const std::string &text, const std::string &words)
{
    return text.find(words) != std::string::npos;
}
