#pragma once

// A combo box of serial ports as every dialog offers them: each item shows what the system knows
// of the port and carries, as its data, the name a setting keeps (the by-id name when there is
// one). A box the user may type into gives back the typed text when it names no item.

#include "SerialPortList.h"

#include <QString>

#include <string>
#include <vector>

class QComboBox;

namespace modbus {

void AddSerialPorts(QComboBox* box, const std::vector<SerialPortInfo>& ports);
// Selects the item of the port the setting names; -1 (or, when editable, the text) otherwise.
void SelectSerialPort(QComboBox* box, const std::vector<SerialPortInfo>& ports, int firstPortItem,
                      const std::string& setting);
std::string SerialPortSetting(const QComboBox* box);
std::string SerialPortSettingAt(const QComboBox* box, int index);
// The item whose setting is this one, or -1.
int FindSerialPortItem(const QComboBox* box, const std::string& setting);

}  // namespace modbus
