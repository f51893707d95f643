#pragma once

// The frame builder of every suite: Modbus frames from their fields, checksums and lengths computed.

#include "ModbusTypes.h"

#include <initializer_list>
#include <string>

namespace testing_support {

using Bytes = std::vector<uint8_t>;

Bytes HexBytes(std::string_view hex);  // "01 03 00 00" -> bytes
std::string Hex(const Bytes& b);       // bytes -> "01 03 00 00"
Bytes Ascii(std::string_view text);
Bytes Concat(const Bytes& a, const Bytes& b);

// A PDU: the function code, then each field as a word, high byte first.
Bytes Pdu(uint8_t function, std::initializer_list<uint16_t> words = {});
// Function, byte count, words: a read reply; with start and count in front, a write of many.
Bytes RegistersPdu(uint8_t function, const std::vector<uint16_t>& words);
Bytes WriteRegistersPdu(uint16_t start, const std::vector<uint16_t>& values);
Bytes ExceptionPdu(uint8_t function, uint8_t code);

Bytes WithCrc(Bytes frame);            // appends the RTU CRC, low byte first
std::string AsciiFrame(Bytes raw);     // ':' + hex of the bytes and their LRC + CR LF
Bytes RtuFrame(uint8_t unit, const Bytes& pdu);
Bytes SerialFrame(modbus::TTransmissionMode mode, uint8_t unit, const Bytes& pdu);
// The MBAP header's length field counts the unit id and the PDU.
Bytes MbapFrame(uint16_t transactionID, uint8_t unit, const Bytes& pdu);

// A device where register n holds n, writes echo, id is "VORTAN" 0xFF, and others get exception 1.
Bytes DeviceAnswer(const Bytes& requestPdu);

}  // namespace testing_support
