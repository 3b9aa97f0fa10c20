// Small helpers the tests share, portable like the code they test: a
// factory default image as the registers of a converter fresh from the
// factory, whether a message says the words a user is told, and a file
// read or written whole.
#pragma once

#include "config/config_image.h"
#include "config/default_images.h"

#include <cstdint>
#include <fstream>
#include <sstream>
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

// The file's bytes; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void WriteWholeFile(const std::string &path, const std::string &text)
{
    std::ofstream file(path, std::ios::binary);
    file << text;
}
