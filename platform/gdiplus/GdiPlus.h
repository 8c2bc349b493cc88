// GDI+ images: GdiplusStartup / GdiplusShutdown, the flat Gdip* functions
// and the Image and Bitmap classes over them, for bitmaps decoded from a
// stream.
//
// Decoders: PNG, JPEG, GIF (the first frame), TIFF (the first page), BMP
// (1 to 32 bits, bit fields, RLE) and ICO (the largest, deepest image).  A
// bitmap is decoded completely when it is created, into 32-bit ARGB pixels;
// the stream is read from its current position to its end and not kept.
// With colour management (the ...ICM creations) an embedded RGB colour
// profile converts the pixels to sRGB.
//
// Failures are Status values (GetLastStatus for the classes):
//   GdiplusNotInitialized  no GdiplusStartup is in force;
//   InvalidParameter       a null argument, a rectangle or pixel outside the
//                          image, a truncated or damaged image;
//   UnknownImageFormat     data no decoder recognises, or a variant none
//                          decodes (JPEG-compressed BMP...);
//   OutOfMemory            more than 1 GiB of pixels (refused before any
//                          allocation) or memory exhausted;
//   WrongState             LockBits on a locked bitmap, UnlockBits or
//                          GetPixel in the wrong state;
//   Win32Error             GetHICON could not make the icon (GetLastError).
// A failed image still exists (its creation gives a non-null object whose
// status tells); its queries give InvalidParameter.
//
// Pixel formats: GetPixelFormat tells the source's kind (32bppARGB with
// alpha, 24bppRGB, 8bppIndexed for GIF and palette images...).  LockBits
// gives 32bppARGB, 32bppPARGB, 32bppRGB or 24bppRGB data, whatever the
// source; other formats are InvalidParameter.
//
// Threads: GdiplusStartup and GdiplusShutdown may be called from any thread.
// One image may be used from several threads (calls are serialised), but a
// locked bitmap's data belongs to the thread that locked it.
//
// Xlib defines Status and Bool as macros: the header sets them aside while it
// is read and gives them back at its end, so it may follow <X11/Xlib.h>.
// After Xlib, name the status type Gdiplus::Status through a using
// declaration made before Xlib, or use the enumerators.
#pragma once

#pragma push_macro("Status")
#pragma push_macro("Bool")
#undef Status
#undef Bool

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/com/ObjIdl.h"

// Raw formats of decoded images (GetRawFormat).
// {B96B3CAB-0728-11D3-9D7B-0000F81EF32E} and the following ids.
#define VPLATFORM_IMAGE_FORMAT(last)                       \
    {                                                      \
        last, 0x0728, 0x11D3, {                            \
            0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E \
        }                                                  \
    }
inline constexpr GUID ImageFormatUndefined = VPLATFORM_IMAGE_FORMAT(0xB96B3CA9);
inline constexpr GUID ImageFormatMemoryBMP = VPLATFORM_IMAGE_FORMAT(0xB96B3CAA);
inline constexpr GUID ImageFormatBMP = VPLATFORM_IMAGE_FORMAT(0xB96B3CAB);
inline constexpr GUID ImageFormatJPEG = VPLATFORM_IMAGE_FORMAT(0xB96B3CAE);
inline constexpr GUID ImageFormatPNG = VPLATFORM_IMAGE_FORMAT(0xB96B3CAF);
inline constexpr GUID ImageFormatGIF = VPLATFORM_IMAGE_FORMAT(0xB96B3CB0);
inline constexpr GUID ImageFormatTIFF = VPLATFORM_IMAGE_FORMAT(0xB96B3CB1);
inline constexpr GUID ImageFormatIcon = VPLATFORM_IMAGE_FORMAT(0xB96B3CB5);
#undef VPLATFORM_IMAGE_FORMAT

namespace Gdiplus {

enum Status {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
    ProfileNotFound = 21,
};
using GpStatus = Status;

using ARGB = DWORD;
using PixelFormat = INT;

constexpr PixelFormat PixelFormatIndexed = 0x00010000;
constexpr PixelFormat PixelFormatGDI = 0x00020000;
constexpr PixelFormat PixelFormatAlpha = 0x00040000;
constexpr PixelFormat PixelFormatPAlpha = 0x00080000;
constexpr PixelFormat PixelFormatCanonical = 0x00200000;
constexpr PixelFormat PixelFormatUndefined = 0;
constexpr PixelFormat PixelFormat1bppIndexed = 1 | (1 << 8) | PixelFormatIndexed | PixelFormatGDI;
constexpr PixelFormat PixelFormat4bppIndexed = 2 | (4 << 8) | PixelFormatIndexed | PixelFormatGDI;
constexpr PixelFormat PixelFormat8bppIndexed = 3 | (8 << 8) | PixelFormatIndexed | PixelFormatGDI;
constexpr PixelFormat PixelFormat16bppRGB555 = 5 | (16 << 8) | PixelFormatGDI;
constexpr PixelFormat PixelFormat24bppRGB = 8 | (24 << 8) | PixelFormatGDI;
constexpr PixelFormat PixelFormat32bppRGB = 9 | (32 << 8) | PixelFormatGDI;
constexpr PixelFormat PixelFormat32bppARGB = 10 | (32 << 8) | PixelFormatAlpha | PixelFormatGDI | PixelFormatCanonical;
constexpr PixelFormat PixelFormat32bppPARGB = 11 | (32 << 8) | PixelFormatAlpha | PixelFormatPAlpha | PixelFormatGDI;

inline UINT GetPixelFormatSize(PixelFormat format) {
    return static_cast<UINT>((format >> 8) & 0xFF);
}

enum ImageLockMode {
    ImageLockModeRead = 0x0001,
    ImageLockModeWrite = 0x0002,
    ImageLockModeUserInputBuf = 0x0004,
};

enum ImageType { ImageTypeUnknown = 0, ImageTypeBitmap = 1, ImageTypeMetafile = 2 };

using DebugEventProc = void (*)(int level, char* message);
using NotificationHookProc = Status (*)(ULONG_PTR* token);
using NotificationUnhookProc = void (*)(ULONG_PTR token);

struct GdiplusStartupInput {
    UINT GdiplusVersion;
    DebugEventProc DebugEventCallback;
    BOOL SuppressBackgroundThread;
    BOOL SuppressExternalCodecs;

    GdiplusStartupInput(DebugEventProc callback = nullptr, BOOL suppressBackgroundThread = FALSE,
                        BOOL suppressExternalCodecs = FALSE)
        : GdiplusVersion(1),
          DebugEventCallback(callback),
          SuppressBackgroundThread(suppressBackgroundThread),
          SuppressExternalCodecs(suppressExternalCodecs) {}
};

// Filled when the background thread is suppressed; the hooks do nothing here.
struct GdiplusStartupOutput {
    NotificationHookProc NotificationHook;
    NotificationUnhookProc NotificationUnhook;
};

class Rect {
public:
    Rect() : X(0), Y(0), Width(0), Height(0) {}
    Rect(INT x, INT y, INT width, INT height) : X(x), Y(y), Width(width), Height(height) {}
    INT X, Y, Width, Height;
};

class BitmapData {
public:
    UINT Width = 0;
    UINT Height = 0;
    INT Stride = 0;
    Gdiplus::PixelFormat PixelFormat = PixelFormatUndefined;
    void* Scan0 = nullptr;
    UINT_PTR Reserved = 0;
};

class Color {
public:
    Color() : m_argb(0xFF000000u) {}
    explicit Color(ARGB argb) : m_argb(argb) {}
    Color(BYTE a, BYTE r, BYTE g, BYTE b) : m_argb(MakeARGB(a, r, g, b)) {}
    BYTE GetA() const { return static_cast<BYTE>(m_argb >> 24); }
    BYTE GetR() const { return static_cast<BYTE>(m_argb >> 16); }
    BYTE GetG() const { return static_cast<BYTE>(m_argb >> 8); }
    BYTE GetB() const { return static_cast<BYTE>(m_argb); }
    ARGB GetValue() const { return m_argb; }
    void SetValue(ARGB argb) { m_argb = argb; }
    static ARGB MakeARGB(BYTE a, BYTE r, BYTE g, BYTE b) {
        return (static_cast<ARGB>(a) << 24) | (static_cast<ARGB>(r) << 16) | (static_cast<ARGB>(g) << 8) | b;
    }

private:
    ARGB m_argb;
};

// The flat API's image object; every image is a bitmap.
class GpImage;
using GpBitmap = GpImage;

extern "C" {

// Starts GDI+ and gives a token for GdiplusShutdown.  Startups nest: GDI+
// works while any is in force.  InvalidParameter for a null token or input
// (or a null output with SuppressBackgroundThread), UnsupportedGdiplusVersion
// for a version other than 1, 2 or 3.
VPLATFORM_API Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output);
// Ends the startup of `token`; an unknown token is ignored.  Images made
// before stay usable until disposed.
VPLATFORM_API void GdiplusShutdown(ULONG_PTR token);

// A new bitmap decoded from the stream (see the failures above).  On failure
// *bitmap is null.
VPLATFORM_API Status GdipCreateBitmapFromStream(IStream* stream, GpBitmap** bitmap);
// The same with the embedded colour profile applied.
VPLATFORM_API Status GdipCreateBitmapFromStreamICM(IStream* stream, GpBitmap** bitmap);
VPLATFORM_API Status GdipLoadImageFromStream(IStream* stream, GpImage** image);
VPLATFORM_API Status GdipLoadImageFromStreamICM(IStream* stream, GpImage** image);
// Frees the image (null does nothing).
VPLATFORM_API Status GdipDisposeImage(GpImage* image);
VPLATFORM_API Status GdipGetImageWidth(GpImage* image, UINT* width);
VPLATFORM_API Status GdipGetImageHeight(GpImage* image, UINT* height);
VPLATFORM_API Status GdipGetImagePixelFormat(GpImage* image, PixelFormat* format);
VPLATFORM_API Status GdipGetImageType(GpImage* image, ImageType* type);
VPLATFORM_API Status GdipGetImageRawFormat(GpImage* image, GUID* format);
// The pixel's ARGB value (straight alpha).
VPLATFORM_API Status GdipBitmapGetPixel(GpBitmap* bitmap, INT x, INT y, ARGB* color);
// Gives the pixels of `rect` (null: all) in `format`; with
// ImageLockModeUserInputBuf into the caller's Scan0 and Stride.  Data written
// under ImageLockModeWrite is taken back by UnlockBits.
VPLATFORM_API Status GdipBitmapLockBits(GpBitmap* bitmap, const Rect* rect, UINT flags, PixelFormat format,
                                        BitmapData* lockedData);
VPLATFORM_API Status GdipBitmapUnlockBits(GpBitmap* bitmap, BitmapData* lockedData);
// A new icon of the bitmap's size and pixels (alpha kept, the mask set where
// alpha is below half), which the caller destroys with DestroyIcon.
VPLATFORM_API Status GdipCreateHICONFromBitmap(GpBitmap* bitmap, HICON* icon);

}  // extern "C"

class Image {
public:
    // A new image from the stream; check GetLastStatus.
    static Image* FromStream(IStream* stream, BOOL useEmbeddedColorManagement = FALSE) {
        GpImage* image = nullptr;
        const Status status = useEmbeddedColorManagement ? GdipLoadImageFromStreamICM(stream, &image)
                                                         : GdipLoadImageFromStream(stream, &image);
        return new Image(image, status);
    }

    virtual ~Image() { GdipDisposeImage(m_native); }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // The status of the last call that failed (or of the creation), which
    // the call resets to Ok.
    Status GetLastStatus() const {
        const Status status = m_lastResult;
        m_lastResult = Ok;
        return status;
    }
    UINT GetWidth() {
        UINT width = 0;
        SetStatus(GdipGetImageWidth(m_native, &width));
        return width;
    }
    UINT GetHeight() {
        UINT height = 0;
        SetStatus(GdipGetImageHeight(m_native, &height));
        return height;
    }
    PixelFormat GetPixelFormat() {
        PixelFormat format = PixelFormatUndefined;
        SetStatus(GdipGetImagePixelFormat(m_native, &format));
        return format;
    }
    ImageType GetType() const {
        ImageType type = ImageTypeUnknown;
        SetStatus(GdipGetImageType(m_native, &type));
        return type;
    }
    Status GetRawFormat(GUID* format) { return SetStatus(GdipGetImageRawFormat(m_native, format)); }

protected:
    Image(GpImage* native, Status status) : m_native(native), m_lastResult(status) {}
    Status SetStatus(Status status) const {
        if (status != Ok) m_lastResult = status;
        return status;
    }

    GpImage* m_native;
    mutable Status m_lastResult;
};

class Bitmap : public Image {
public:
    // A bitmap decoded from the stream, with or without the embedded colour
    // profile; check GetLastStatus.
    explicit Bitmap(IStream* stream, BOOL useIcm = FALSE) : Image(nullptr, Ok) {
        m_lastResult =
            useIcm ? GdipCreateBitmapFromStreamICM(stream, &m_native) : GdipCreateBitmapFromStream(stream, &m_native);
    }
    static Bitmap* FromStream(IStream* stream, BOOL useIcm = FALSE) { return new Bitmap(stream, useIcm); }

    Status GetPixel(INT x, INT y, Color* color) {
        ARGB argb = 0;
        const Status status = SetStatus(GdipBitmapGetPixel(m_native, x, y, &argb));
        if (status == Ok && color != nullptr) color->SetValue(argb);
        return status;
    }
    Status LockBits(const Rect* rect, UINT flags, PixelFormat format, BitmapData* lockedData) {
        return SetStatus(GdipBitmapLockBits(m_native, rect, flags, format, lockedData));
    }
    Status UnlockBits(BitmapData* lockedData) { return SetStatus(GdipBitmapUnlockBits(m_native, lockedData)); }
    Status GetHICON(HICON* icon) { return SetStatus(GdipCreateHICONFromBitmap(m_native, icon)); }
};

}  // namespace Gdiplus

#pragma pop_macro("Bool")
#pragma pop_macro("Status")
