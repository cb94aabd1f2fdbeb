// Basic types of the device's core library, with their sizes on the device:
// LONG and DWORD are 32 bits whatever the host's word size.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
typedef char16_t WCHAR;
#else
typedef uint_least16_t WCHAR;
#endif

typedef int32_t LONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int BOOL;
typedef unsigned int UINT;
typedef char CHAR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef CHAR *LPSTR;
typedef const CHAR *LPCSTR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef LPCWSTR LPCTSTR;
typedef LPWSTR LPTSTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t INT_PTR;

typedef void *HANDLE;
typedef HANDLE HGDIOBJ;
typedef struct HDC__ *HDC;
typedef struct HBITMAP__ *HBITMAP;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define WINAPI

// Wide literals are UTF-16 on the device; here that is the u"" form.
#define TEXT(s) u##s
#define _T(s) u##s

#ifdef __cplusplus
static_assert(sizeof(LONG) == 4, "LONG is 32 bits");
static_assert(sizeof(DWORD) == 4, "DWORD is 32 bits");
static_assert(sizeof(WCHAR) == 2, "WCHAR is one UTF-16 code unit");
#endif
