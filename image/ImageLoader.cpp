#include "image/ImageLoader.h"

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
