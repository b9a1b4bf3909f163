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
    // Commands of our own, beyond the receiver's 32 (no receiver key gives them): keys of remotes the kernel drives,
    // of the software remote and of the phone page.
    RC_PlayPause = 40,
    RC_Subtitle = 41, // the next subtitle track of a film
    RC_AudioTrack = 42, // the next audio track of a film
    // Arrow-and-OK remotes: a highlight walks the list's rows and OK chooses; Left and Right page.
    RC_Up = 43,
    RC_Down = 44,
    RC_Left = 45,
    RC_Right = 46,
    RC_Ok = 47,
};

inline bool IsDigitCommand(int command)
{
    return command >= RC_Digit0 && command <= RC_Digit9;
}
