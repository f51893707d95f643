// The TCP client's reply assembly and parsing: the bytes arrive in segments (sizes chosen by the
// input), frames for other transactions are dropped, and the first frame that answers the request
// is judged and turned into the record the events see. Mirrors the client's receive loop,
// which needs a socket.

#include "FuzzCheck.h"
#include "ModbusTcpClient.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace modbus;

namespace {

constexpr size_t kHeader = 4;
constexpr std::array<uint8_t, 9> kFunctions = {1, 2, 3, 4, 5, 6, 15, 16, 17};


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kHeader)
        return 0;
    const uint8_t function = kFunctions[data[0] % kFunctions.size()];
    const auto transactionID = static_cast<uint16_t>((data[1] << 8) | data[2]);
    // Room the caller gives for values: 0 .. 255 words, read-only past that.
    std::vector<uint16_t> values(data[3]);
    const uint8_t* stream = data + kHeader;
    const size_t streamSize = size - kHeader;

    std::array<uint8_t, kTcpFrameCapacity> received{};
    size_t received_n = 0;
    size_t offset = 0;
    uint8_t segment = 1;
    for (;;) {
        TTcpFrameParse parse =
            ParseTcpReply(received.data(), received_n, transactionID, function, values);
        while (parse.Kind == TTcpFrameKind::Foreign) {
            Check(parse.FrameSize > 0 && parse.FrameSize <= received_n);
            received_n -= parse.FrameSize;
            std::memmove(received.data(), received.data() + parse.FrameSize, received_n);
            parse = ParseTcpReply(received.data(), received_n, transactionID, function, values);
        }
        if (parse.Kind != TTcpFrameKind::Incomplete) {
            Check(parse.FrameSize <= received_n);
            Check(parse.ValueCount <= values.size());
            const TModbusTcpReply record = MakeTcpReplyRecord(
                received.data(), parse.FrameSize != 0 ? parse.FrameSize : received_n);
            Check(record.FunctionCode == parse.FunctionCode || received_n <= 7);
            break;
        }
        // A frame at the front always fits whole: once the buffer is full, parsing decides.
        Check(received_n < received.size());
        if (offset >= streamSize)
            break;
        // The first byte of each segment gives the next segment's size.
        segment = static_cast<uint8_t>(stream[offset++] | 1);
        const size_t take =
            std::min({size_t{segment}, streamSize - offset, received.size() - received_n});
        std::memcpy(received.data() + received_n, stream + offset, take);
        received_n += take;
        offset += take;
    }
    return 0;
}
