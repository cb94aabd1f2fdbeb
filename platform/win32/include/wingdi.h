// Graphics calls of the device's core library: device contexts, bitmaps and
// DIB sections. Only the screen and memory contexts exist; there are no
// windows, so GetDC accepts only NULL.
#pragma once

#include "windef.h"

#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14

#define SRCCOPY 0x00CC0020u

#define DIB_RGB_COLORS 0
#define BI_RGB 0
#define BI_BITFIELDS 3

#define OBJ_BITMAP 7

#pragma pack(push, 2)
typedef struct tagBITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
} BITMAPINFOHEADER;
#pragma pack(pop)

typedef struct tagRGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
} BITMAPINFO;

typedef struct tagBITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
} BITMAP;

#ifdef __cplusplus
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
// The device's record: 24 bytes with 32-bit pointers, 32 with 64-bit ones.
static_assert(sizeof(BITMAP) == (sizeof(void *) == 4 ? 24 : 32),
              "BITMAP has the device's layout");
extern "C" {
#endif

HDC WINAPI GetDC(HWND hWnd);
int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
int WINAPI GetDeviceCaps(HDC hdc, int nIndex);
HDC WINAPI CreateCompatibleDC(HDC hdc);
BOOL WINAPI DeleteDC(HDC hdc);
HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy);
HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1,
                   int y1, DWORD rop);
int WINAPI GetObject(HGDIOBJ h, int c, LPVOID pv);
HBITMAP WINAPI CreateDIBSection(HDC hdc, const BITMAPINFO *pbmi, UINT usage,
                                void **ppvBits, HANDLE hSection, DWORD offset);
BOOL WINAPI DeleteObject(HGDIOBJ ho);

#ifdef __cplusplus
}
#endif
