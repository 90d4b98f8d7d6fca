// What the tool makes of the bytes a network gateway sends: the MBAP parser
// and the RTU reply length used over TCP. A frame is whole only when its
// header is Modbus TCP's (protocol 0, length 2..254) and all its bytes are
// there; it never reaches past the input, and writing it back gives the same
// bytes. Built with clang: see CMakeLists.txt here.
#include "Require.h"
#include "transport/ModbusTcpTransport.h"
#include "transport/RtuOverTcpTransport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const MbapFrame f = parseMbap(bytes);
    switch (f.state) {
    case MbapFrame::State::More:
        require(bytes.size() < kMbapHeader + kMbapMaxPdu);
        break;
    case MbapFrame::State::Bad:
        require(bytes.size() >= 6 && f.size == 0);
        require(f.protocol != 0 || (quint8(bytes[4]) << 8 | quint8(bytes[5])) < 2 ||
                (quint8(bytes[4]) << 8 | quint8(bytes[5])) > 1 + kMbapMaxPdu);
        break;
    case MbapFrame::State::Whole:
        require(f.protocol == 0 && f.size <= bytes.size() && f.size >= kMbapHeader + 1);
        require(f.pdu.size() == f.size - kMbapHeader && f.pdu.size() <= kMbapMaxPdu);
        require(mbapFrame(f.transaction, f.unit, f.pdu) == bytes.left(f.size));
        break;
    }
    // The length an RTU reply over TCP is awaited to: never more than a
    // read of 125 registers could give.
    const int length = rtuReplyLength(bytes);
    require(length >= 0 && length <= 5 + 255);
    return 0;
}
