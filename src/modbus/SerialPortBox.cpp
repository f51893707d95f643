#include "SerialPortBox.h"

#include <QAbstractItemView>
#include <QComboBox>

namespace modbus {

void AddSerialPorts(QComboBox* box, const std::vector<SerialPortInfo>& ports)
{
    for (const auto& p : ports) {
        box->addItem(QString::fromStdString(p.Label()), QString::fromStdString(p.Setting()));
        QString tip = QString::fromStdString(p.path);
        if (!p.stableName.empty())
            tip += QStringLiteral("\n") + QString::fromStdString(p.stableName);
        box->setItemData(box->count() - 1, tip, Qt::ToolTipRole);
    }
    // Descriptions are longer than the narrow boxes of the dialogs: the list opens wide enough.
    box->view()->setMinimumWidth(box->view()->sizeHintForColumn(0) + 24);
}

void SelectSerialPort(QComboBox* box, const std::vector<SerialPortInfo>& ports, int firstPortItem,
                      const std::string& setting)
{
    const int i = FindSerialPort(ports, setting);
    if (i >= 0) {
        box->setCurrentIndex(firstPortItem + i);
        return;
    }
    box->setCurrentIndex(-1);
    if (box->isEditable())
        box->setEditText(QString::fromStdString(setting));
}

std::string SerialPortSettingAt(const QComboBox* box, int index)
{
    if (index < 0 || index >= box->count())
        return {};
    const QVariant data = box->itemData(index);
    return (data.isValid() ? data.toString() : box->itemText(index)).toStdString();
}

std::string SerialPortSetting(const QComboBox* box)
{
    const int i = box->currentIndex();
    // Typed text that no longer matches the item is what the user wants.
    if (box->isEditable() && (i < 0 || box->currentText() != box->itemText(i)))
        return box->currentText().trimmed().toStdString();
    return SerialPortSettingAt(box, i);
}

int FindSerialPortItem(const QComboBox* box, const std::string& setting)
{
    const int i = box->findData(QString::fromStdString(setting));
    return i >= 0 ? i : box->findText(QString::fromStdString(setting));
}

}  // namespace modbus
