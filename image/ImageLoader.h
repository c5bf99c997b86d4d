// Prepares an image for the download, the same way for every front end: a BIN
// file is opened and later read from disk, an STB file is decoded into memory.
// Either way the modules are walked by their headers' lengths, and an image that
// ends inside a module is refused. Only a regular file is loaded: a pipe, a
// FIFO or a device is refused, saying what it is, without being opened.
#pragma once

#include "image/ImageFile.h"

#include <string>

// True when the last three characters of the path, upper-cased, are "STB".
bool IsStbPath(const std::string& strPath);

struct ImageLoadResult
{
    std::string error;           // what went wrong, for the user ("" on success)
    bool bStb = false;
    std::string strDecoderError; // the decoder's own message when decoding failed, else empty
    int nModules = 0;            // complete modules found
    bool ok() const { return error.empty(); }
};

// Loads the file into `image`. On failure the image is left closed, so nothing stale can be sent.
ImageLoadResult LoadImage(const std::string& strPath, CImageFile& image);
