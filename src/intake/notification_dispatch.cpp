#include "intake/notification_dispatch.h"

#include <atomic>
#include <new>

#include "intake/escaped_text.h"
#include "intake/intake_context.h"
#include "intake/trade_intake.h"
#include "intake/trade_store.h"
#include "online/online_library.h"

namespace {

// The callback has no user argument, so the intake it serves is found here:
// the program's one mutable global.
std::atomic<IntakeContext*> attachedIntake{nullptr};

void signalReady(ReadyReason reason) {
  if (IntakeContext* intake = attachedIntake.load(std::memory_order_acquire))
    intake->ready.signal(reason);
}

// The store has reached the run's limit (max_store_mb). Before the table
// is synchronized the report can no longer be whole: as when the memory runs
// out, the first such row says why, frees what was stored and releases the
// driver, and no report is written. A row after synchronization is only not
// kept.
void storeLimitReached(IntakeContext& intake) {
  if (intake.ready.tableSynchronized()) {
    online::zuqonlPrintf(
        "[ZUQTradeReport] Store limit reached: a row that came after synchronization is not "
        "kept\n");
    return;
  }
  IntakeEnd running = IntakeEnd::Running;
  if (!intake.end.compare_exchange_strong(running, IntakeEnd::OverStoreLimit)) return;
  const size_t kept = intake.store.added();
  intake.store.clear();
  online::zuqonlPrintf(
      "[ZUQTradeReport] Store limit reached: the kept trades need more than max_store_mb=%u "
      "MiB, no report is written (%u trades kept)\n",
      static_cast<unsigned>(intake.storeLimitMiB), static_cast<unsigned>(kept));
  intake.ready.signal(ReadyReason::Synchronized);
}

void takeRow(const RowNotice& row) {
  IntakeContext* intake = attachedIntake.load(std::memory_order_acquire);
  if (intake != nullptr && intake->end.load(std::memory_order_relaxed) == IntakeEnd::Running) {
    if (!addTradeRow(row, intake->selection, intake->store, intake->turnedAway)) {
      storeLimitReached(*intake);
    }
  }
}

// Out of memory on the notification thread. Before the table is synchronized
// a trade that cannot be kept makes the report incomplete: the first such
// failure says why, frees what was stored (so that the run can close in
// order) and releases the driver at once rather than after the table, and no
// report is written; later rows are only logged. Once the table is
// synchronized its report is settled, and a row that comes after it is only
// not kept.
void runOutOfMemory() {
  IntakeContext* intake = attachedIntake.load(std::memory_order_acquire);
  if (intake == nullptr || intake->ready.tableSynchronized()) {
    online::zuqonlPrintf(
        "[ZUQTradeReport] Out of memory: a row that came after synchronization is not kept\n");
    return;
  }
  IntakeEnd running = IntakeEnd::Running;
  if (!intake->end.compare_exchange_strong(running, IntakeEnd::OutOfMemory)) return;
  const size_t kept = intake->store.added();
  intake->store.clear();
  online::zuqonlPrintf(
      "[ZUQTradeReport] Out of memory: the kept trades do not fit, no report is written "
      "(%u trades kept)\n",
      static_cast<unsigned>(kept));
  intake->ready.signal(ReadyReason::Synchronized);
}

void noteLink(LinkPart part, bool lost) {
  if (IntakeContext* intake = attachedIntake.load(std::memory_order_acquire)) {
    lost ? intake->link.lost(part) : intake->link.back(part);
  }
}

void discardUnsynchronizedTrades() {
  if (IntakeContext* intake = attachedIntake.load(std::memory_order_acquire)) {
    if (!intake->ready.tableSynchronized()) {
      intake->store.clear();
      intake->turnedAway = FilterTally{};
    }
  }
}

// The table's Synchronized: on the first one, what the filters turned away
// is copied for the driver before the signal releases it (see IntakeContext).
void signalSynchronized() {
  IntakeContext* intake = attachedIntake.load(std::memory_order_acquire);
  if (intake == nullptr) return;
  if (!intake->ready.tableSynchronized()) intake->turnedAwayAtSynchronization = intake->turnedAway;
  intake->ready.signal(ReadyReason::Synchronized);
}

// A record the library left out reads as zero integers and empty texts.
template <typename Notice>
const Notice& noticeOf(void* data) {
  static const Notice kEmpty{};
  return data ? *static_cast<const Notice*>(data) : kEmpty;
}

// Whether the rows' own lines are logged: always without an attached intake.
bool logsRows() {
  const IntakeContext* intake = attachedIntake.load(std::memory_order_acquire);
  return intake == nullptr || intake->logRows;
}

// Counts an added row; where rows are not logged one by one, every
// kRowsPerCountLine rows received are told in one line instead.
void countRow() {
  IntakeContext* intake = attachedIntake.load(std::memory_order_acquire);
  if (intake == nullptr) return;
  const uint64_t received = intake->rowsReceived.fetch_add(1, std::memory_order_relaxed) + 1;
  if (!intake->logRows && received % kRowsPerCountLine == 0) {
    online::zuqonlPrintf("[ZUQTradeReport] Rows received: %u\n", static_cast<unsigned>(received));
  }
}

int32_t connOf(void* data) { return noticeOf<ConnNotice>(data).conn; }
int32_t rowConnOf(void* data) { return noticeOf<RowNotice>(data).conn; }
int32_t rowIdOf(void* data) { return noticeOf<RowNotice>(data).rowID; }

}  // namespace

void attachIntake(IntakeContext* intake) {
  attachedIntake.store(intake, std::memory_order_release);
}

namespace {

void dispatch(int32_t code, void* data) {
  switch (code) {
    case ZUQONL_NET_INTEGRITY_OK:
      online::zuqonlPrintf("[ZUQTradeReport] NetIntegrityOk: %s\n",
                           escapeControlBytes(noticeOf<TextNotice>(data).text).c_str());
      noteLink(LinkPart::Network, false);
      break;
    case ZUQONL_NET_INTEGRITY_LOST:
      online::zuqonlPrintf("[ZUQTradeReport] NetIntegrityLost\n");
      noteLink(LinkPart::Network, true);
      break;
    case ZUQONL_DS_CONNECTED:
      online::zuqonlPrintf("[ZUQTradeReport] DS Connected\n");
      noteLink(LinkPart::DataServer, false);
      signalReady(ReadyReason::DataServer);
      break;
    case ZUQONL_DS_DISCONNECTED:
      online::zuqonlPrintf("[ZUQTradeReport] DS Disconnected\n");
      noteLink(LinkPart::DataServer, true);
      break;
    case ZUQONL_ERROR: {
      const ErrorNotice& error = noticeOf<ErrorNotice>(data);
      const std::string text = escapeControlBytes(error.text);
      online::zuqonlPrintf("[ZUQTradeReport] Error conn=%d: %s\n", error.conn, text.c_str());
      if (IntakeContext* intake = attachedIntake.load(std::memory_order_acquire))
        intake->link.error(text);
      break;
    }
    case ZUQONL_CLEAR:
      online::zuqonlPrintf("[ZUQTradeReport] Clear conn=%d\n", connOf(data));
      // The server delivers the table anew: rows of the earlier delivery may
      // be gone or changed since. Once synchronized, the report stands.
      discardUnsynchronizedTrades();
      break;
    case ZUQONL_FORMAT: {
      const FormatNotice& format = noticeOf<FormatNotice>(data);
      online::zuqonlPrintf("[ZUQTradeReport] Format conn=%d: columnsCount=%d columnsFormat='%s'\n",
                           format.conn, format.columnsCount,
                           escapeControlBytes(format.columnsFormat).c_str());
      break;
    }
    case ZUQONL_ADD_ROW:
      if (logsRows()) {
        online::zuqonlPrintf("[ZUQTradeReport] AddRow conn=%d, rowID=%d\n", rowConnOf(data),
                             rowIdOf(data));
      }
      countRow();
      if (data) takeRow(*static_cast<const RowNotice*>(data));
      break;
    case ZUQONL_UPDATE_ROW:
      if (!logsRows()) break;
      online::zuqonlPrintf("[ZUQTradeReport] UpdateRow conn=%d, rowID=%d\n", rowConnOf(data),
                           rowIdOf(data));
      break;
    case ZUQONL_DELETE_ROW:
      if (!logsRows()) break;
      online::zuqonlPrintf("[ZUQTradeReport] DeleteRow conn=%d, rowID=%d\n", rowConnOf(data),
                           rowIdOf(data));
      break;
    case ZUQONL_SYNCHRONIZED:
      online::zuqonlPrintf("[ZUQTradeReport] Sychronized conn=%d\n", connOf(data));
      signalSynchronized();
      break;
    case ZUQONL_CONNECTED:
      online::zuqonlPrintf("[ZUQTradeReport] Connected conn=%d\n", connOf(data));
      break;
    case ZUQONL_DISCONNECTED:
      online::zuqonlPrintf("[ZUQTradeReport] Disconnected conn=%d\n", connOf(data));
      break;
    default:  // 18 and 19: no name, nothing to do
      break;
  }
}

}  // namespace

void ZUQONL_CALL onlineCallback(int32_t code, void* data) noexcept {
  // Codes outside the library's known ones are not looked at.
  if (code < ZUQONL_NET_INTEGRITY_OK || code > ZUQONL_DISCONNECTED) return;
  // The library calls from C: no exception may cross into it.
  try {
    dispatch(code, data);
  } catch (const std::bad_alloc&) {
    runOutOfMemory();
  }
}
