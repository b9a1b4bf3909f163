#pragma once

// Command numbers of the remote's keys. Numbers not named here (up to 32) are decoded but no window acts on them.
enum RemoteCommand : int {
    RC_None = 0,
    RC_Power = 1,
    RC_LeaveVideo = 4,
    RC_Digit0 = 10,
    RC_Digit1 = 11,
    RC_Digit2 = 12,
    RC_Digit3 = 13,
    RC_Digit4 = 14,
    RC_Digit5 = 15,
    RC_Digit6 = 16,
    RC_Digit7 = 17,
    RC_Digit8 = 18,
    RC_Digit9 = 19,
    RC_Back = 20,
    RC_LeaveVideo2 = 21,
    RC_VolumeUp = 22,
    RC_VolumeDown = 23,
    RC_NextPage = 24,
    RC_PreviousPage = 25,
};

inline bool IsDigitCommand(int command)
{
    return command >= RC_Digit0 && command <= RC_Digit9;
}
