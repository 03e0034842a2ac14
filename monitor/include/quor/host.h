// The host interface of the monitor on POSIX systems, where a spooler host of
// our own (telvor-spool, the CUPS backend telvor) loads libquor.so. On
// Windows the spooler and the user's session give the monitor what it needs;
// here the host does, through one table of calls it registers with the
// plug-in's second export, QuorRegisterHost, before InitializePrintMonitor2:
// the spooler's printer calls and its last error, the two forms (HSETUP and
// CALLNUM, shown by whoever owns the terminal or has the job's answers), the
// message boxes, and each job's state with the fax server's job number.
//
// Every call is made on the thread that called the monitor operation, with
// the table's context first. Texts are UTF-16, zero-terminated, and valid
// only during the call. A slot left null gets the monitor's default: no
// printer (the call fails with ERROR_PROC_NOT_FOUND), the monitor's own
// per-thread last error, forms that fail (ERROR_NOT_SUPPORTED), messages on
// standard error, no job reports.
#pragma once

#include "quor/forms.h"
#include "quor/spooler.h"

/* What a host answers a form with. */
#define QUOR_FORM_OK 0     /* confirmed: the fields hold what was entered */
#define QUOR_FORM_CANCEL 1 /* the person cancelled */
#define QUOR_FORM_FAILED 2 /* nobody could be asked; the error code says why */

/* A job's states, as the monitor reports them. */
#define QUOR_JOB_STARTED 1   /* StartDocPort: the spool file is made */
#define QUOR_JOB_SENT 2      /* the server took the fax: its job number */
#define QUOR_JOB_NOT_SENT 3  /* sendfax failed, or was never called: the spool file is kept */
#define QUOR_JOB_CANCELLED 4 /* the person cancelled the fax-number form: nothing kept */

#ifdef __cplusplus
extern "C" {
#endif

/* HSETUP: on entry `attempts` holds the current attempts setting and the
   other fields are empty. */
typedef struct _QUOR_SETUP_FORM {
  WCHAR ServerIp[QUOR_TEXT_UNITS];
  WCHAR User[QUOR_TEXT_UNITS];
  WCHAR Password[QUOR_TEXT_UNITS];
  WCHAR Mail[QUOR_TEXT_UNITS];
  WCHAR Attempts[QUOR_ATTEMPTS_UNITS];
  WCHAR Modem[QUOR_TEXT_UNITS];
} QUOR_SETUP_FORM;

/* CALLNUM: on entry `attempts` holds the current attempts setting. */
typedef struct _QUOR_FAX_NUMBER_FORM {
  WCHAR FaxNumber[QUOR_FAX_NUMBER_UNITS];
  WCHAR Attempts[QUOR_ATTEMPTS_UNITS];
  WCHAR Info[QUOR_TEXT_UNITS];
} QUOR_FAX_NUMBER_FORM;

typedef struct _QUOR_JOB_REPORT {
  DWORD cbSize;
  DWORD JobId;
  DWORD State;        /* QUOR_JOB_... */
  LONG SendFaxResult; /* QUOR_JOB_SENT and QUOR_JOB_NOT_SENT: sendfax's result,
                         or 0 when it was never called */
  DWORD ServerJob;    /* QUOR_JOB_SENT: the server's job number, 0 when unknown */
  DWORD Error;        /* QUOR_JOB_NOT_SENT without a sendfax result: the error code */
  LPCWSTR pSpoolFile; /* QUOR_JOB_STARTED and QUOR_JOB_NOT_SENT: the spool file */
} QUOR_JOB_REPORT;

/* What the host knows of a job: who printed it, and on what paper. */
typedef struct _QUOR_JOB_INFO {
  WCHAR UserName[QUOR_TEXT_UNITS]; /* empty when unknown */
  DWORD PageWidth;                 /* millimetres; 0: A4 */
  DWORD PageLength;                /* millimetres; 0: A4 */
  DWORD VerticalResolution;        /* lines per inch, 98 or 196; 0: 196 */
} QUOR_JOB_INFO;

typedef struct _QUOR_HOST {
  DWORD cbSize;
  void* pContext;
  /* The spooler's calls as the Windows spooler offers them. */
  BOOL(WINAPI* pfnOpenPrinter)(void* pContext, LPCWSTR pPrinterName, PHANDLE phPrinter);
  BOOL(WINAPI* pfnSetJob)(void* pContext, HANDLE hPrinter, DWORD JobId, DWORD Command);
  BOOL(WINAPI* pfnClosePrinter)(void* pContext, HANDLE hPrinter);
  BOOL(WINAPI* pfnGetJob)(void* pContext, HANDLE hPrinter, DWORD JobId, QUOR_JOB_INFO* pJob);
  void(WINAPI* pfnSetLastError)(void* pContext, DWORD dwErrCode);
  DWORD(WINAPI* pfnGetLastError)(void* pContext);
  /* The forms: QUOR_FORM_...; with QUOR_FORM_FAILED, `*pError` the reason. */
  DWORD(WINAPI* pfnAskSetup)(void* pContext, QUOR_SETUP_FORM* pForm, LPDWORD pError);
  DWORD(WINAPI* pfnAskFaxNumber)(void* pContext, QUOR_FAX_NUMBER_FORM* pForm, LPDWORD pError);
  /* A message box with an OK button. */
  void(WINAPI* pfnShowMessage)(void* pContext, LPCWSTR pText, LPCWSTR pCaption);
  void(WINAPI* pfnReportJob)(void* pContext, const QUOR_JOB_REPORT* pReport);
} QUOR_HOST;

/* Copies the table (a later call replaces it, null removes it). FALSE with
   ERROR_INVALID_PARAMETER when cbSize is not that of this QUOR_HOST. */
typedef BOOL(WINAPI* QuorRegisterHostFunction)(const QUOR_HOST* pHost);

#ifdef __cplusplus
}
#endif
