/* A library of the online library's name that lacks zuqonlOpenConnection:
   the program must refuse it before it writes anything. Its operations are
   never called.
   Built with ZUQ_FAULTING_LIBRARY it has all nine, and the first call
   faults: a crash inside the library must end the run with the fault. */
#include <stdint.h>

#ifdef _WIN32
#define EXPORTED __declspec(dllexport)
#else
#define EXPORTED __attribute__((visibility("default")))
#endif

EXPORTED int zuqonlSetIniPath(const char* iniPath) {
#ifdef ZUQ_FAULTING_LIBRARY
  /* An address no process has mapped. */
  volatile uintptr_t nowhere = 16;
  *(volatile int*)nowhere = 1;
#endif
  return iniPath != 0;
}
EXPORTED int zuqonlIdentify(const char* user, const char* password, const char* application) {
  return user != 0 && password != 0 && application != 0;
}
EXPORTED int zuqonlRegisterCallback(void (*callback)(int32_t, void*)) { return callback != 0; }
EXPORTED int zuqonlOpen(void) { return 1; }
EXPORTED int zuqonlCloseConnection(int32_t conn) { return conn > 0; }
EXPORTED int zuqonlClose(void) { return 1; }
EXPORTED int zuqonlPrintf(const char* format, ...) { return format != 0 ? 0 : -1; }
EXPORTED int zuqonlStringToDateTime(const char* text, void* value) {
  return text != 0 && value != 0;
}
#ifdef ZUQ_FAULTING_LIBRARY
EXPORTED int zuqonlOpenConnection(int32_t kind, const char* table, const char* columns,
                                  const char* keyColumn, const char* from, const char* to,
                                  int32_t flags) {
  return kind + flags + (table != 0) + (columns != 0) + (keyColumn != 0) + (from != 0) + (to != 0);
}
#endif
