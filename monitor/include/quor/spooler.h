// The contract between the monitor and the spooler hosts that load it: the
// print spooler's records and calls as the monitor sees them. On Windows
// they come from the platform's own headers; elsewhere this header declares
// them with the same layout rules (pointer-sized pointers and handles, 32-bit
// DWORD/LONG/BOOL, natural alignment, UTF-16 text as 16-bit units), so that
// a spooler host of our own can load the monitor and drive it exactly as the
// Windows spooler does.
#pragma once

#ifdef _WIN32

// The monitor's operations table is the MONITOR2 of the Vista headers: the
// platform's later used-port notification slots are not offered. Include this
// header before <windows.h> so that the layout is chosen here.
#ifndef NTDDI_VERSION
#define NTDDI_VERSION 0x06000000
#endif
// In this order: each needs the one before.
// clang-format off
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>
// clang-format on

#else

#include <stdint.h>

#include "telvor_common/win_errors.h"

#define WINAPI
#define CALLBACK
#define VOID void
#define TRUE 1
#define FALSE 0

typedef int32_t BOOL;
typedef int32_t WINBOOL;
typedef int32_t LONG;
typedef uint32_t DWORD;
typedef uint8_t BYTE;
typedef DWORD ACCESS_MASK;
typedef DWORD REGSAM;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef HANDLE* LPHANDLE;
typedef HANDLE HWND;
typedef HANDLE HKEYMONITOR;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef BYTE* LPBYTE;
typedef BYTE* PBYTE;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;

// Records the monitor only passes through; never dereferenced here.
typedef struct _SECURITY_ATTRIBUTES* PSECURITY_ATTRIBUTES;
typedef struct _FILETIME* PFILETIME;
typedef struct _COMMTIMEOUTS* LPCOMMTIMEOUTS;
typedef struct _BIDI_REQUEST_CONTAINER* PBIDI_REQUEST_CONTAINER;
typedef struct _BIDI_RESPONSE_CONTAINER* PBIDI_RESPONSE_CONTAINER;
typedef struct _PRINTER_DEFAULTSW* LPPRINTER_DEFAULTSW;

// The results of the registry functions and of EnumPorts that both sides
// rely on, with the values of the one list of Windows error codes.
#define ERROR_SUCCESS (static_cast<LONG>(telvor::win_error::kSuccess))
#define ERROR_INSUFFICIENT_BUFFER (static_cast<LONG>(telvor::win_error::kInsufficientBuffer))
#define ERROR_INVALID_LEVEL (static_cast<LONG>(telvor::win_error::kInvalidLevel))
#define ERROR_MORE_DATA (static_cast<LONG>(telvor::win_error::kMoreData))
#define ERROR_NO_MORE_ITEMS (static_cast<LONG>(telvor::win_error::kNoMoreItems))
#define REG_SZ 1
#define PORT_TYPE_WRITE 0x0001
#define JOB_CONTROL_SENT_TO_PRINTER 6

// What StartDocPort is told of the document (levels 1 and 2 start alike).
typedef struct _DOC_INFO_1W {
  LPWSTR pDocName;
  LPWSTR pOutputFile;
  LPWSTR pDatatype;
} DOC_INFO_1W, *PDOC_INFO_1W, *LPDOC_INFO_1W;

typedef struct _PORT_INFO_1W {
  LPWSTR pName;
} PORT_INFO_1W, *PPORT_INFO_1W, *LPPORT_INFO_1W;

typedef struct _PORT_INFO_2W {
  LPWSTR pPortName;
  LPWSTR pMonitorName;
  LPWSTR pDescription;
  DWORD fPortType;
  DWORD Reserved;
} PORT_INFO_2W, *PPORT_INFO_2W, *LPPORT_INFO_2W;

// The spooler's registry functions, in the platform's order; every one takes
// the monitor's key first and the spooler handle last, and returns 0 on
// success or an error code.
typedef struct _MONITORREG {
  DWORD cbSize;
  LONG(WINAPI* fpCreateKey)
  (HANDLE hcKey, LPCWSTR pszSubKey, DWORD dwOptions, REGSAM samDesired,
   PSECURITY_ATTRIBUTES pSecurityAttributes, PHANDLE phckResult, PDWORD pdwDisposition,
   HANDLE hSpooler);
  LONG(WINAPI* fpOpenKey)
  (HANDLE hcKey, LPCWSTR pszSubKey, REGSAM samDesired, PHANDLE phkResult, HANDLE hSpooler);
  LONG(WINAPI* fpCloseKey)(HANDLE hcKey, HANDLE hSpooler);
  LONG(WINAPI* fpDeleteKey)(HANDLE hcKey, LPCWSTR pszSubKey, HANDLE hSpooler);
  LONG(WINAPI* fpEnumKey)
  (HANDLE hcKey, DWORD dwIndex, LPWSTR pszName, PDWORD pcchName, PFILETIME pftLastWriteTime,
   HANDLE hSpooler);
  LONG(WINAPI* fpQueryInfoKey)
  (HANDLE hcKey, PDWORD pcSubKeys, PDWORD pcbKey, PDWORD pcValues, PDWORD pcbValue, PDWORD pcbData,
   PDWORD pcbSecurityDescriptor, PFILETIME pftLastWriteTime, HANDLE hSpooler);
  LONG(WINAPI* fpSetValue)
  (HANDLE hcKey, LPCWSTR pszValue, DWORD dwType, const BYTE* pData, DWORD cbData, HANDLE hSpooler);
  LONG(WINAPI* fpDeleteValue)(HANDLE hcKey, LPCWSTR pszValue, HANDLE hSpooler);
  LONG(WINAPI* fpEnumValue)
  (HANDLE hcKey, DWORD dwIndex, LPWSTR pszValue, PDWORD pcbValue, PDWORD pType, PBYTE pData,
   PDWORD pcbData, HANDLE hSpooler);
  LONG(WINAPI* fpQueryValue)
  (HANDLE hcKey, LPCWSTR pszValue, PDWORD pType, PBYTE pData, PDWORD pcbData, HANDLE hSpooler);
} MONITORREG, *PMONITORREG;

typedef struct _MONITORINIT {
  DWORD cbSize;
  HANDLE hSpooler;
  HKEYMONITOR hckRegistryRoot;
  PMONITORREG pMonitorReg;
  BOOL bLocal;
  LPCWSTR pszServerName;
} MONITORINIT, *PMONITORINIT;

typedef struct _MONITOR2 {
  DWORD cbSize;
  BOOL(WINAPI* pfnEnumPorts)
  (HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
   LPDWORD pcReturned);
  BOOL(WINAPI* pfnOpenPort)(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle);
  BOOL(WINAPI* pfnOpenPortEx)
  (HANDLE hMonitor, HANDLE hMonitorPort, LPWSTR pPortName, LPWSTR pPrinterName, PHANDLE pHandle,
   struct _MONITOR2* pMonitor2);
  BOOL(WINAPI* pfnStartDocPort)
  (HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo);
  BOOL(WINAPI* pfnWritePort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
  BOOL(WINAPI* pfnReadPort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
  BOOL(WINAPI* pfnEndDocPort)(HANDLE hPort);
  BOOL(WINAPI* pfnClosePort)(HANDLE hPort);
  BOOL(WINAPI* pfnAddPort)(HANDLE hMonitor, LPWSTR pName, HWND hWnd, LPWSTR pMonitorName);
  BOOL(WINAPI* pfnAddPortEx)
  (HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE lpBuffer, LPWSTR lpMonitorName);
  BOOL(WINAPI* pfnConfigurePort)(HANDLE hMonitor, LPWSTR pName, HWND hWnd, LPWSTR pPortName);
  BOOL(WINAPI* pfnDeletePort)(HANDLE hMonitor, LPWSTR pName, HWND hWnd, LPWSTR pPortName);
  BOOL(WINAPI* pfnGetPrinterDataFromPort)
  (HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer, DWORD cbInBuffer,
   LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned);
  BOOL(WINAPI* pfnSetPortTimeOuts)(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved);
  BOOL(WINAPI* pfnXcvOpenPort)
  (HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess, PHANDLE phXcv);
  DWORD(WINAPI* pfnXcvDataPort)
  (HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData, PBYTE pOutputData,
   DWORD cbOutputData, PDWORD pcbOutputNeeded);
  BOOL(WINAPI* pfnXcvClosePort)(HANDLE hXcv);
  VOID(WINAPI* pfnShutdown)(HANDLE hMonitor);
  DWORD(WINAPI* pfnSendRecvBidiDataFromPort)
  (HANDLE hPort, DWORD dwAccessBit, LPCWSTR pAction, PBIDI_REQUEST_CONTAINER pReqData,
   PBIDI_RESPONSE_CONTAINER* ppResData);
} MONITOR2, *PMONITOR2, *LPMONITOR2;

#ifdef __cplusplus
extern "C" {
#endif

// The spooler's last error, which a host keeps as the Windows spooler's
// threads do and hands to the monitor through its host table (quor/host.h).
void SetLastError(DWORD dwErrCode);
DWORD GetLastError(void);

#ifdef __cplusplus
}
#endif

#endif  // _WIN32

#ifdef __cplusplus
// A size field and nineteen operation slots, each pointer-sized: 80 bytes on
// 32-bit, 160 on 64-bit.
static_assert(sizeof(MONITOR2) == 20 * sizeof(void*), "MONITOR2 must have nineteen slots");
#endif

// The monitor's one export.
typedef LPMONITOR2(WINAPI* InitializePrintMonitor2Function)(PMONITORINIT pMonitorInit,
                                                            PHANDLE phMonitor);
