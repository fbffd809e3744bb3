/*
 * zuqonl.h - the online-access library's C interface.
 *
 * Conventions:
 * - Every operation has C linkage and is exported from the library (ZUQONL_API).
 * - Every operation but zuqonlPrintf, and the callback, use the calling
 *   convention ZUQONL_CALL: empty (the C default, cdecl) unless the build
 *   defines it, as __stdcall for a 32-bit Windows library that exports its
 *   operations so. zuqonlPrintf takes a variable argument list and is always
 *   cdecl. Only 32-bit x86 has the two conventions; elsewhere they are one.
 * - Texts are NUL-terminated 8-bit strings in the system's code page. A null
 *   text argument is read as the empty text.
 * - Operations return an int: 1 for success and 0 for failure, unless the
 *   operation says otherwise. No operation lets an error escape as anything
 *   but its return value.
 *
 * Threads:
 * - The callback registered with zuqonlRegisterCallback is called on the
 *   library's own notification thread, one notification at a time, from
 *   zuqonlOpen until zuqonlClose returns; never after that.
 * - The callback must return normally: it must not throw an exception, nor
 *   leave by longjmp, across the library. A program that may fail inside it
 *   catches there.
 * - zuqonlOpenConnection, zuqonlCloseConnection, zuqonlClose and
 *   zuqonlPrintf may be called from any thread, the callback included. A
 *   zuqonlClose from inside the callback is supported: it stops the library,
 *   no callback starts after that, and the thread is joined by the next
 *   zuqonlOpen or zuqonlClose made from another thread.
 * - zuqonlSetIniPath, zuqonlIdentify, zuqonlRegisterCallback and zuqonlOpen
 *   are made from the program's own thread, before or between runs of the
 *   library; they take effect at the next zuqonlOpen.
 *
 * Records:
 * - The record passed with a notification, and every text it points to, is
 *   owned by the library and valid only during that callback call. A program
 *   copies out what it keeps.
 * - For codes 15 to 19 the record pointer carries nothing (it may be null).
 * - The records are laid out for the library's 32-bit platform; wider
 *   pointers keep the field order and take the platform's alignment.
 */
#ifndef ZUQONL_H
#define ZUQONL_H

#include <stdint.h>

/* A build that links the library's code in directly defines ZUQONL_API as
   empty. */
#if defined(ZUQONL_API)
#elif defined(_WIN32)
#if defined(ZUQONL_BUILDING)
#define ZUQONL_API __declspec(dllexport)
#else
#define ZUQONL_API __declspec(dllimport)
#endif
#else
#define ZUQONL_API __attribute__((visibility("default")))
#endif

/* Set by the build to __stdcall for a library with stdcall operations. */
#if !defined(ZUQONL_CALL)
#define ZUQONL_CALL
#endif

#if defined(__MINGW32__) && defined(__GNUC__)
/* The library formats with the C++ runtime's (GNU) rules, whatever the
   caller's C runtime. */
#define ZUQONL_PRINTF_LIKE __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
#define ZUQONL_PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#else
#define ZUQONL_PRINTF_LIKE
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A calendar date and time: eight 16-bit fields in this order. Day of week
 * counts from Sunday = 0. */
typedef struct DateTimeValue {
  uint16_t year;
  uint16_t month;
  uint16_t dayOfWeek;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t milliseconds;
} DateTimeValue;

/* Notification codes passed to the callback. 18 and 19 have no name and no
 * record. */
enum NotificationCode {
  ZUQONL_NET_INTEGRITY_OK = 14,   /* TextNotice */
  ZUQONL_NET_INTEGRITY_LOST = 15, /* no record */
  ZUQONL_DS_CONNECTED = 16,       /* no record */
  ZUQONL_DS_DISCONNECTED = 17,    /* no record */
  ZUQONL_ERROR = 20,              /* ErrorNotice */
  ZUQONL_CLEAR = 21,              /* ConnNotice */
  ZUQONL_FORMAT = 22,             /* FormatNotice */
  ZUQONL_ADD_ROW = 23,            /* RowNotice */
  ZUQONL_UPDATE_ROW = 24,         /* RowNotice */
  ZUQONL_DELETE_ROW = 25,         /* RowNotice */
  ZUQONL_SYNCHRONIZED = 26,       /* ConnNotice */
  ZUQONL_CONNECTED = 27,          /* ConnNotice */
  ZUQONL_DISCONNECTED = 28        /* ConnNotice */
};

/* The most values one row record carries. */
#define ZUQONL_ROW_VALUES 28

typedef struct TextNotice {
  const char* text;
} TextNotice;

typedef struct ConnNotice {
  int32_t conn;
} ConnNotice;

typedef struct ErrorNotice {
  int32_t conn;
  const char* text;
} ErrorNotice;

typedef struct FormatNotice {
  int32_t conn;
  int32_t columnsCount;
  const char* columnsFormat;
} FormatNotice;

/* values[i] is the value of column i of the column list given to
 * zuqonlOpenConnection. Entries past the list's length are null. */
typedef struct RowNotice {
  int32_t conn;
  int32_t rowID;
  const char* values[ZUQONL_ROW_VALUES];
} RowNotice;

/* code: a NotificationCode (or any other integer, which a program ignores);
 * data: the code's record, owned by the library, valid during the call. */
typedef void(ZUQONL_CALL* ZuqonlCallback)(int32_t code, void* data);

/* Names the INI file whose section "zuqonl" holds the library's settings,
 * and opens the log file that section names, so that the lines logged from
 * then on reach it. Returns 1. */
ZUQONL_API int ZUQONL_CALL zuqonlSetIniPath(const char* iniPath);
/* Identifies the program to the data server: user, password and the
 * application's name. Returns 1. */
ZUQONL_API int ZUQONL_CALL zuqonlIdentify(const char* user, const char* password,
                                          const char* application);
/* Sets the one callback that receives every notification, taken by the next
 * zuqonlOpen; null receives none. Returns 1. */
ZUQONL_API int ZUQONL_CALL zuqonlRegisterCallback(ZuqonlCallback callback);
/* Starts the notification thread, which connects to the data server named in
 * the INI file and reports how that goes through the callback (16, 17, 20).
 * Returns 1; 0 when the library is already open. */
ZUQONL_API int ZUQONL_CALL zuqonlOpen(void);
/* Subscribes to a table.
 *   kind, flags: accepted as they come; the library knows one kind of
 *                subscription.
 *   table:       the table's name, e.g. "Trade".
 *   columns:     the columns to deliver, comma-separated, in the order of a
 *                row record's values.
 *   keyColumn, from, to: only rows whose keyColumn value v satisfies
 *                from <= v <= to (compared bytewise); from and to both empty
 *                means every row.
 * Returns a positive connection handle, which every notification of the
 * subscription carries; 0 when the library is not open. A table that does
 * not exist, or a column it lacks, is reported by an Error notification (20)
 * for the handle, not by the return value. */
ZUQONL_API int ZUQONL_CALL zuqonlOpenConnection(int32_t kind, const char* table,
                                                const char* columns, const char* keyColumn,
                                                const char* from, const char* to, int32_t flags);
/* Ends a subscription: no notification for conn starts after it returns.
 * Returns 1; 0 for a handle that is not open. */
ZUQONL_API int ZUQONL_CALL zuqonlCloseConnection(int32_t conn);
/* Stops the library and joins its thread: no callback runs after it returns
 * (from inside the callback: see Threads above). Returns 1, also when the
 * library was not open. */
ZUQONL_API int ZUQONL_CALL zuqonlClose(void);
/* Formats one text as printf does and writes it to the log (standard output,
 * and the log file when one is set) as one piece. Returns the number of bytes
 * written; negative, with nothing written, when the format is null or fails. */
ZUQONL_API int zuqonlPrintf(const char* format, ...) ZUQONL_PRINTF_LIKE;
/* Reads "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DDTHH:MM:SS", the time
 * optionally followed by ".mmm", into *value (all eight fields). Returns 1 on
 * success; any other text, or a date or time that does not exist, leaves
 * *value untouched and returns 0. */
ZUQONL_API int ZUQONL_CALL zuqonlStringToDateTime(const char* text, DateTimeValue* value);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* ZUQONL_H */
