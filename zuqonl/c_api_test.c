/* The library's interface used from C: open, subscribe to a small table,
 * wait for it to be synchronized. Exits 0 on success. */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#ifdef _WIN32
#include <direct.h>
#define makeFolder(path) _mkdir(path)
#define removeFolder(path) _rmdir(path)
#else
#include <sys/stat.h>
#include <unistd.h>
#define makeFolder(path) mkdir(path, 0700)
#define removeFolder(path) rmdir(path)
#endif

#include "zuqonl.h"

static pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_changed = PTHREAD_COND_INITIALIZER;
static int g_connected = 0;
static int g_rows = 0;
static int g_synchronized = 0;
static char g_lastValue[64];

static void ZUQONL_CALL onNotification(int32_t code, void* data) {
  pthread_mutex_lock(&g_mutex);
  if (code == ZUQONL_DS_CONNECTED) g_connected = 1;
  if (code == ZUQONL_ADD_ROW) {
    const RowNotice* row = (const RowNotice*)data;
    ++g_rows;
    snprintf(g_lastValue, sizeof g_lastValue, "%s", row->values[0]);
  }
  if (code == ZUQONL_SYNCHRONIZED) g_synchronized = ((const ConnNotice*)data)->conn;
  pthread_cond_broadcast(&g_changed);
  pthread_mutex_unlock(&g_mutex);
}

/* Waits up to 10 s for *flag to become nonzero. */
static int waitFor(const int* flag) {
  struct timespec deadline;
  int result;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += 10;
  pthread_mutex_lock(&g_mutex);
  while (*flag == 0) {
    if (pthread_cond_timedwait(&g_changed, &g_mutex, &deadline) != 0) break;
  }
  result = *flag;
  pthread_mutex_unlock(&g_mutex);
  return result;
}

static int writeText(const char* path, const char* text) {
  FILE* file = fopen(path, "wb");
  if (file == NULL) return 0;
  fputs(text, file);
  return fclose(file) == 0;
}

static int run(const char* dir) {
  char path[512];
  int conn;
  snprintf(path, sizeof path, "%s/Trade.csv", dir);
  if (!writeText(path, "issue_name,price\nAAA,1.5\nBBB,2.5\n")) return 0;
  snprintf(path, sizeof path, "%s/test.ini", dir);
  if (!writeText(path, "[zuqonl]\ndata_dir=.\n")) return 0;

  zuqonlSetIniPath(path);
  zuqonlIdentify("", "", "");
  zuqonlRegisterCallback(onNotification);
  zuqonlOpen();
  if (!waitFor(&g_connected)) return 0;
  conn = zuqonlOpenConnection(1, "Trade", "price", "issue_name", "BBB", "BBB", 0);
  if (conn != 1 || waitFor(&g_synchronized) != conn) return 0;
  zuqonlCloseConnection(conn);
  zuqonlClose();
  zuqonlPrintf("[c_api_test] rows=%d value='%s'\n", g_rows, g_lastValue);
  return g_rows == 1 && strcmp(g_lastValue, "2.5") == 0;
}

/* The table and INI file go to a fresh folder named by the first argument,
 * relative to the working folder. */
int main(int argc, char** argv) {
  const char* dir = argc > 1 ? argv[1] : "c_api_test_data";
  char path[512];
  int ok;
  if (makeFolder(dir) != 0 && errno != EEXIST) return 2;
  ok = run(dir);
  snprintf(path, sizeof path, "%s/Trade.csv", dir);
  remove(path);
  snprintf(path, sizeof path, "%s/test.ini", dir);
  remove(path);
  removeFolder(dir);
  printf("c_api_test: %s\n", ok ? "passed" : "FAILED");
  return ok ? 0 : 1;
}
