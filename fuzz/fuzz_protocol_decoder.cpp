// Feeds arbitrary bytes to the protocol's frame decoder, as a client's or a
// server's, in pieces of varying size. Every message the decoder yields must
// encode again, and decoding that frame must give back the same bytes. A
// second decoder, which gives an Event's values as views, must yield the
// same messages and faults.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "dataserver/protocol.h"

namespace {

using dataserver::protocol::Decoder;
using dataserver::protocol::Message;
using dataserver::protocol::Sender;

void checkRoundTrip(const Message& message, Sender sender) {
  std::string frame, err;
  if (!dataserver::protocol::encode(message, &frame, &err)) abort();  // decoded, so encodable
  Decoder again(sender);
  again.feed(frame.data(), frame.size());
  Message copy;
  if (again.next(&copy, &err) != Decoder::Result::Message) abort();
  std::string second;
  if (!dataserver::protocol::encode(copy, &second, &err) || second != frame) abort();
  if (again.buffered() != 0) abort();
}

}  // namespace

// First byte: bit 0 picks the sender, the rest the size of the pieces fed.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Sender sender = (data[0] & 1) != 0 ? Sender::Server : Sender::Client;
  const size_t step = 1 + (data[0] >> 1);
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const size_t length = size - 1;
  Decoder decoder(sender);
  Decoder viewing(sender);
  Message message, viewed;
  std::vector<std::string_view> values;
  std::string err, viewedErr;
  for (size_t at = 0; at < length; at += step) {
    const size_t piece = length - at < step ? length - at : step;
    decoder.feed(bytes + at, piece);
    viewing.feed(bytes + at, piece);
    for (;;) {
      const Decoder::Result result = decoder.next(&message, &err);
      if (viewing.next(&viewed, &values, &viewedErr) != result) abort();
      if (result == Decoder::Result::Fault) {
        if (err.empty() || viewedErr != err) abort();  // a fault always says what it is
        return 0;
      }
      if (result == Decoder::Result::NeedMore) break;
      if (auto* event = std::get_if<dataserver::protocol::Event>(&viewed)) {
        if (!event->event.values.empty()) abort();
        event->event.values.assign(values.begin(), values.end());
      }
      std::string frame, again;
      if (!dataserver::protocol::encode(message, &frame, &err) ||
          !dataserver::protocol::encode(viewed, &again, &err) || again != frame) {
        abort();
      }
      checkRoundTrip(message, sender);
    }
  }
  return 0;
}
