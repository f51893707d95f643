#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace modbus {

enum TBufferSeek { bsStart, bsEnd, bsBackByte, bsForwardByte, bsBackWord, bsForwardWord };

// A fixed-capacity byte block in which requests are built and replies parsed.
// Invariant: 0 <= Position <= Size <= Capacity. A failed operation leaves the buffer unchanged.
// Room for reads is measured against Capacity, not Size: callers that must not look past the
// received bytes bound themselves by Size (see ReplyReader).
class TModbusBuffer {
public:
    explicit TModbusBuffer(int capacity);
    TModbusBuffer(const TModbusBuffer&) = delete;
    TModbusBuffer& operator=(const TModbusBuffer&) = delete;

    int Capacity() const { return capacity_; }
    int Size() const { return size_; }
    int Position() const { return position_; }
    void SetSize(int n);
    void SetPosition(int i);
    void Seek(TBufferSeek how);

    void WriteByte(uint8_t b);
    void WriteWord(uint16_t w);    // big-endian
    void WriteWordLE(uint16_t w);  // little-endian, only the RTU CRC uses it
    uint8_t ReadByte() const;
    uint16_t ReadWord() const;
    uint16_t ReadWordLE() const;

    uint16_t CalcCRC16() const;  // over 0 .. Position-1
    uint8_t CalcLRC() const;     // over 0 .. Position-1

    uint8_t* Data() { return data_.get(); }
    const uint8_t* Data() const { return data_.get(); }

    // Copies bytes in at index 0 and sets Size; Position goes to 0.
    void Assign(const uint8_t* bytes, int count);

private:
    void RequireRoom(int k) const;
    void Advance(int k);

    int capacity_;
    int size_ = 0;
    int position_ = 0;
    std::unique_ptr<uint8_t[]> data_;
};

uint16_t Crc16(const uint8_t* bytes, size_t count, uint16_t crc = 0xFFFF);
uint8_t Lrc(const uint8_t* bytes, size_t count);

}  // namespace modbus
