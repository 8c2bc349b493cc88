// Colour management by Little CMS: pixels from an embedded RGB profile to sRGB.
#include <lcms2.h>

#include "platform/gdi/internal/ImageDecoder.h"

namespace vplatform::image {

bool ConvertToSrgb(Image& image) {
    if (image.icc.empty() || !image.pixels) return false;
    cmsHPROFILE source = cmsOpenProfileFromMem(image.icc.data(), static_cast<cmsUInt32Number>(image.icc.size()));
    if (source == nullptr) return false;
    bool converted = false;
    if (cmsGetColorSpace(source) == cmsSigRgbData) {
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        if (srgb != nullptr) {
            cmsHTRANSFORM transform =
                cmsCreateTransform(source, TYPE_BGRA_8, srgb, TYPE_BGRA_8, INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA);
            if (transform != nullptr) {
                std::uint8_t* row = image.pixels.get();
                const std::size_t stride = std::size_t{image.width} * 4;
                for (std::uint32_t y = 0; y < image.height; ++y, row += stride) {
                    cmsDoTransform(transform, row, row, image.width);
                }
                cmsDeleteTransform(transform);
                converted = true;
            }
            cmsCloseProfile(srgb);
        }
    }
    cmsCloseProfile(source);
    return converted;
}

}  // namespace vplatform::image
