#include "image/ImageLoader.h"

#include "image/FileKind.h"
#include "image/ModuleWalk.h"
#include "image/StbCodec.h"

#include <cctype>

bool IsStbPath(const std::string& strPath)
{
    if (strPath.size() < 3)
        return false;
    std::string last = strPath.substr(strPath.size() - 3);
    for (char& c : last)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return last == "STB";
}

ImageLoadResult LoadImage(const std::string& strPath, CImageFile& image)
{
    ImageLoadResult result;
    result.bStb = IsStbPath(strPath);
    // The download reads a BIN image from disk as it goes and a page may load
    // the same path again, so a stream (a pipe, a FIFO, a device), which can
    // be read only once and may block its opener, is refused before it is opened.
    if (const std::string kind = NonRegularFileKind(strPath); !kind.empty())
    {
        image.Close();
        result.error = "Cannot open " + strPath + ": it is " + kind + ", not a regular file";
        return result;
    }
    if (result.bStb)
    {
        StbDecodeResult decoded = DecodeStbFile(strPath);
        if (!decoded.ok())
        {
            image.Close();
            result.strDecoderError = decoded.error;
            result.error = strPath + ": " + decoded.error;
            if (!decoded.detail.empty())
                result.error += " (" + decoded.detail + ")";
            return result;
        }
        if (!image.Assign(std::move(decoded.image)))
        {
            result.error = strPath + ": " + image.GetErrorText();
            return result;
        }
    }
    else if (!image.OpenFile(strPath))
    {
        result.error = "Cannot open " + strPath + ": " + image.GetErrorText();
        return result;
    }

    const ModuleWalk walk = WalkImageModules(image, false);
    if (!walk.IsComplete())
    {
        image.Close();
        result.error = strPath + ": " + walk.strProblem;
        return result;
    }
    result.nModules = int(walk.modules.size());
    return result;
}
