#include "ModbusBuffer.h"

#include "ModbusError.h"

#include <array>
#include <cstring>

namespace modbus {

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
        table[i] = c;
    }
    return table;
}

// Built once, at compile time, before the first frame.
constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

uint16_t Crc16(const uint8_t* bytes, size_t count, uint16_t crc)
{
    for (size_t i = 0; i < count; ++i)
        crc = static_cast<uint16_t>(kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}

uint8_t Lrc(const uint8_t* bytes, size_t count)
{
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>((256 - (sum & 0xFF)) & 0xFF);
}

TModbusBuffer::TModbusBuffer(int capacity)
    : capacity_(capacity < 0 ? 0 : capacity), data_(new uint8_t[capacity_ > 0 ? capacity_ : 1]())
{
}

void TModbusBuffer::RequireRoom(int k) const
{
    if (k > capacity_ - position_)
        throw EModbusError(msg::NoBufferSpace);
}

void TModbusBuffer::Advance(int k)
{
    position_ += k;
    if (position_ > size_)
        size_ = position_;
}

void TModbusBuffer::SetSize(int n)
{
    if (n == size_)
        return;
    if (n < 0 || n > capacity_)
        throw EModbusError(msg::BufferSizeInvalid, n);
    size_ = n;
    if (position_ > n)
        position_ = n;
}

void TModbusBuffer::SetPosition(int i)
{
    if (i == position_)
        return;
    if (i < 0 || i > size_)
        throw EModbusError(msg::BufferPositionInvalid, i);
    position_ = i;
}

void TModbusBuffer::Seek(TBufferSeek how)
{
    switch (how) {
    case bsStart: position_ = 0; break;
    case bsEnd: position_ = size_; break;
    case bsBackByte: SetPosition(position_ - 1); break;
    case bsForwardByte: SetPosition(position_ + 1); break;
    case bsBackWord: SetPosition(position_ - 2); break;
    case bsForwardWord: SetPosition(position_ + 2); break;
    }
}

void TModbusBuffer::WriteByte(uint8_t b)
{
    RequireRoom(1);
    data_[position_] = b;
    Advance(1);
}

void TModbusBuffer::WriteWord(uint16_t w)
{
    RequireRoom(2);
    data_[position_] = static_cast<uint8_t>(w >> 8);
    data_[position_ + 1] = static_cast<uint8_t>(w);
    Advance(2);
}

void TModbusBuffer::WriteWordLE(uint16_t w)
{
    RequireRoom(2);
    data_[position_] = static_cast<uint8_t>(w);
    data_[position_ + 1] = static_cast<uint8_t>(w >> 8);
    Advance(2);
}

uint8_t TModbusBuffer::ReadByte() const
{
    RequireRoom(1);
    return data_[position_];
}

uint16_t TModbusBuffer::ReadWord() const
{
    RequireRoom(2);
    return static_cast<uint16_t>((data_[position_] << 8) | data_[position_ + 1]);
}

uint16_t TModbusBuffer::ReadWordLE() const
{
    RequireRoom(2);
    return static_cast<uint16_t>(data_[position_] | (data_[position_ + 1] << 8));
}

uint16_t TModbusBuffer::CalcCRC16() const
{
    return Crc16(data_.get(), static_cast<size_t>(position_));
}

uint8_t TModbusBuffer::CalcLRC() const
{
    return Lrc(data_.get(), static_cast<size_t>(position_));
}

void TModbusBuffer::Assign(const uint8_t* bytes, int count)
{
    if (count < 0 || count > capacity_)
        throw EModbusError(msg::BufferSizeInvalid, count);
    if (count > 0)
        std::memcpy(data_.get(), bytes, static_cast<size_t>(count));
    size_ = count;
    position_ = 0;
}

}  // namespace modbus
