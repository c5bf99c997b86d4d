// What a serial port hands its received bytes to. The pages are owners; so is
// anything else that wants the bytes (the simulated receiver's tests, tools).
#pragma once

class CSerialOwner
{
public:
    virtual ~CSerialOwner() = default;
    // One delivery: `length` bytes (0 to 100) with a zero byte behind them at
    // data[length]. The pointer is valid only during the call.
    virtual void OnReceive(const char* data, int length) = 0;
    // The device went away (unplugged, hung up, read error). Called once per port,
    // on the same path as deliveries; `error` is the errno seen (0 when the
    // device only reported a hang-up).
    virtual void OnPortLost(int error) { (void)error; }
};
