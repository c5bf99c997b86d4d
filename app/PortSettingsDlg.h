// "Port Settings": the serial devices found on this machine (device, driver,
// USB maker, product and serial number, /dev/serial/by-id name) and, for each
// port number the window offers, the device or network URL it stands for. A
// device that has a by-id name is kept under that name, so the choice still
// holds after the adapter is plugged in elsewhere.
#pragma once

#include "serial/SerialDeviceList.h"

#include <QDialog>
#include <QString>

#include <map>
#include <vector>

class QComboBox;

class CPortSettingsDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kPortCount = 4; // COM1..COM4, the window's choices

    // `stored`: the devices kept so far; `overrides`: the port numbers this
    // run takes from elsewhere (an option, the environment), saying from where.
    CPortSettingsDlg(std::vector<SerialDeviceInfo> devices, const std::map<int, QString>& stored,
                     const std::map<int, QString>& overrides, QWidget* parent = nullptr);

    // The device for each of COM1..COM4 as chosen, by-id names preferred;
    // "" for the port number's default device.
    std::map<int, QString> Choices() const;
    QComboBox* PortBox(int number) const;

    // The by-id name of `device` when it is one of `devices` and has one;
    // otherwise `device` as it is.
    static QString PreferredName(const QString& device, const std::vector<SerialDeviceInfo>& devices);

private:
    std::vector<SerialDeviceInfo> m_devices;
    std::map<int, QComboBox*> m_portBoxes;
};
