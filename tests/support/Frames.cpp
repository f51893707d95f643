#include "Frames.h"

#include "ModbusBuffer.h"

#include <cctype>

namespace testing_support {

static void PutWord(Bytes& b, uint16_t w)
{
    b.push_back(static_cast<uint8_t>(w >> 8));
    b.push_back(static_cast<uint8_t>(w));
}

Bytes HexBytes(std::string_view hex)
{
    Bytes out;
    std::string digits;
    for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string Hex(const Bytes& b)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t x : b)
        s += std::string(s.empty() ? "" : " ") + digits[x >> 4] + digits[x & 15];
    return s;
}

Bytes Ascii(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Concat(const Bytes& a, const Bytes& b)
{
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes Pdu(uint8_t function, std::initializer_list<uint16_t> words)
{
    Bytes pdu = {function};
    for (uint16_t w : words)
        PutWord(pdu, w);
    return pdu;
}

Bytes RegistersPdu(uint8_t function, const std::vector<uint16_t>& words)
{
    Bytes pdu = {function, static_cast<uint8_t>(2 * words.size())};
    for (uint16_t w : words)
        PutWord(pdu, w);
    return pdu;
}

Bytes WriteRegistersPdu(uint16_t start, const std::vector<uint16_t>& values)
{
    const Bytes tail = RegistersPdu(16, values);
    return Concat(Pdu(16, {start, static_cast<uint16_t>(values.size())}), Bytes(tail.begin() + 1, tail.end()));
}

Bytes ExceptionPdu(uint8_t function, uint8_t code)
{
    return {static_cast<uint8_t>(function | 0x80), code};
}

Bytes WithCrc(Bytes frame)
{
    const uint16_t crc = modbus::Crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

std::string AsciiFrame(Bytes raw)
{
    raw.push_back(modbus::Lrc(raw.data(), raw.size()));
    std::string text = ":";
    for (char c : Hex(raw))
        if (c != ' ')
            text += c;
    return text + "\r\n";
}

Bytes RtuFrame(uint8_t unit, const Bytes& pdu)
{
    return WithCrc(Concat({unit}, pdu));
}

Bytes SerialFrame(modbus::TTransmissionMode mode, uint8_t unit, const Bytes& pdu)
{
    return mode == modbus::tmRTU ? RtuFrame(unit, pdu) : Ascii(AsciiFrame(Concat({unit}, pdu)));
}

Bytes MbapFrame(uint16_t transactionID, uint8_t unit, const Bytes& pdu)
{
    Bytes b;
    PutWord(b, transactionID);
    PutWord(b, 0);
    PutWord(b, static_cast<uint16_t>(pdu.size() + 1));
    b.push_back(unit);
    return Concat(b, pdu);
}

Bytes DeviceAnswer(const Bytes& q)
{
    switch (q[0]) {
    case 3:
    case 4: {
        std::vector<uint16_t> words;
        const uint16_t start = static_cast<uint16_t>(q[1] << 8 | q[2]);
        for (int i = 0; i < (q[3] << 8 | q[4]); ++i)
            words.push_back(static_cast<uint16_t>(start + i));
        return RegistersPdu(q[0], words);
    }
    case 6:
    case 8:
    case 16: return Bytes(q.begin(), q.begin() + 5);
    case 17: return {17, 7, 'V', 'O', 'R', 'T', 'A', 'N', 0xFF};
    default: return ExceptionPdu(q[0], 1);
    }
}

}  // namespace testing_support
