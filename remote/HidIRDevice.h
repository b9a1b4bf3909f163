#pragma once

#include <atomic>

#include "HidDevice.h"

struct hid_device_;

// The receiver on hidapi's hidraw backend.
class CHidIRDevice : public IHidIRDevice
{
public:
    CHidIRDevice();
    ~CHidIRDevice() override;

    bool IsOpen() const override { return m_pDevice != nullptr; }
    bool FindAndOpen() override;
    bool Exchange(HidReport& answer) override;
    void Interrupt() override { m_bInterrupted = true; }
    QString OpenFailure() const override { return m_strOpenFailure; }

private:
    void Close();

    hid_device_* m_pDevice = nullptr;
    std::atomic<bool> m_bInterrupted { false };
    QString m_strOpenFailure;
};
